// The messages of a batch, per file, as the batch runner collects them for the status log
// (progress/KRAStatusLogContext.h hands them over).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include "engine/QKConvertSource.h"

// One file's messages.
struct KRAStatusLogEntry {
    QKConvertSourceRef source2; // the source of the conversion
    QString fnTo;               // destination file name; may be empty
    QString encoderName;
    QStringList entries;   // the message lines, in the order they came
    QString statusImgName; // image shown before the row's text; empty: none
};
using KRAStatusLogEntryRef = std::shared_ptr<KRAStatusLogEntry>;
