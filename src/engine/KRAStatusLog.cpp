#include "engine/KRAStatusLog.h"

QString KRAOutcomeWords(KRAConversionOutcome how)
{
    switch (how) {
    case KRAConversionOutcome::Converted:
        return QStringLiteral("converted");
    case KRAConversionOutcome::ConvertedWithWarnings:
        return QStringLiteral("converted with warnings");
    case KRAConversionOutcome::Failed:
        return QStringLiteral("failed");
    case KRAConversionOutcome::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

QString KRAOutcomeLine(KRAConversionOutcome how)
{
    switch (how) {
    case KRAConversionOutcome::ConvertedWithWarnings:
        return QStringLiteral("Converted with warnings: the source is damaged; the output was checked and kept.");
    case KRAConversionOutcome::Failed:
        return QStringLiteral("Failed: no output was kept; an existing destination file is unchanged.");
    default:
        return QString();
    }
}

void KRAStatusLogEntry::setOutcome(KRAConversionOutcome how)
{
    if (outcome && !KRAOutcomeLine(*outcome).isEmpty() && !entries.isEmpty() &&
        entries.first() == KRAOutcomeLine(*outcome))
        entries.removeFirst();
    outcome = how;
    const QString line = KRAOutcomeLine(how);
    if (!line.isEmpty())
        entries.prepend(line);
}

QString KRAStatusLogTotals(const QList<KRAStatusLogEntryRef>& problems)
{
    int warnings = 0, failed = 0;
    for (const KRAStatusLogEntryRef& entry : problems) {
        if (!entry)
            continue;
        if (entry->convertedWithWarnings())
            ++warnings;
        else if (!entry->outcome || *entry->outcome == KRAConversionOutcome::Failed)
            ++failed; // an output that was made stands, whatever an action after it reported
    }
    QString text;
    if (warnings > 0)
        text += QStringLiteral(", %1 with warnings").arg(warnings);
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    return text;
}

QString KRAStatusLogTotals(const QMap<uint64_t, KRAStatusLogEntryRef>& problems, uint64_t files)
{
    QList<KRAStatusLogEntryRef> entries;
    for (auto it = problems.begin(); it != problems.end() && it.key() < files; ++it)
        entries.append(it.value());
    return KRAStatusLogTotals(entries);
}
