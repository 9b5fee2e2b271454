#include "job/KREDSPs.h"

#include <algorithm>

#include "job/QKCommonVideoEffects.h"

QStringList KREDSPs::namedEffects()
{
    return {
        QStringLiteral("Aspect Ratio"),
        QStringLiteral("Audio Channel Count"),
        QStringLiteral("Audio Mute"),
        QStringLiteral("Audio Normalize"),
        QStringLiteral("Audio Resample"),
        QStringLiteral("Deinterlace (yadif)"),
        QStringLiteral("Frame Rate"),
        QStringLiteral("Speed Adjust"),
        QStringLiteral("Trim"),
        QStringLiteral("Scale Absolute"),
        QStringLiteral("Scale Maximum"),
        QStringLiteral("Audio Bitrate"),
        QStringLiteral("Reverse"),
        QStringLiteral("Loop"),
        QStringLiteral("Fade"),
        QStringLiteral("Stream Selection"),
        QStringLiteral("Cut"),
    };
}

QList<QKDSPDescRef> KREDSPs::list()
{
    QList<QKDSPDescRef> list = QKCommonVideoEffects::list();
    for (const QString& name : namedEffects())
        list.append(makeVideoDSP(name));
    std::stable_sort(list.begin(), list.end(), [](const QKDSPDescRef& a, const QKDSPDescRef& b) {
        return QString::compare(a->name, b->name, Qt::CaseSensitive) < 0;
    });
    return list;
}

bool KREDSPs::canAddDSP(const QString& name, const QSet<QString>& chain)
{
    const QString cut = QStringLiteral("Cut");
    const QString trim = QStringLiteral("Trim");
    if (name == cut || name == trim)
        return !chain.contains(cut) && !chain.contains(trim);
    if (name == QLatin1String("Loop") || name == QLatin1String("Audio Mute") || name == QLatin1String("Reverse"))
        return !chain.contains(name);
    return true;
}

bool KREDSPs::canAddDSP(const QString& name, const QStringList& chain)
{
    return canAddDSP(name, QSet<QString>(chain.begin(), chain.end()));
}
