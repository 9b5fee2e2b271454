// The messages of a batch, per file, as the batch runner collects them for the status log
// (progress/KRAStatusLogContext.h hands them over).
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "engine/KRAProcessArg.h"
#include "engine/QKConvertSource.h"

// One file's messages.
struct KRAStatusLogEntry {
    QKConvertSourceRef source2; // the source of the conversion
    QString fnTo;               // destination file name; may be empty
    QString encoderName;
    QStringList entries;   // the message lines, in the order they came
    QString statusImgName; // image shown before the row's text; empty: none
    // How the conversion ended, when the run said so; a failure or a conversion with warnings
    // puts it in words as the first line.
    std::optional<KRAConversionOutcome> outcome;

    void setOutcome(KRAConversionOutcome how);
    // Kept, though with warnings: not to be converted again as a failed file.
    bool convertedWithWarnings() const { return outcome == KRAConversionOutcome::ConvertedWithWarnings; }
};
using KRAStatusLogEntryRef = std::shared_ptr<KRAStatusLogEntry>;

// "converted", "converted with warnings", "failed", "stopped".
QString KRAOutcomeWords(KRAConversionOutcome how);
// The line that opens the messages of a file that failed or converted with warnings; empty for
// the others.
QString KRAOutcomeLine(KRAConversionOutcome how);
// What the batch's problem entries add to "Converted N files": ", 1 with warnings, 2 failed";
// empty when none.
QString KRAStatusLogTotals(const QList<KRAStatusLogEntryRef>& problems);
// The same of a batch's log by file index; entries from files on (the batch's own) do not count.
QString KRAStatusLogTotals(const QMap<uint64_t, KRAStatusLogEntryRef>& problems, uint64_t files);
