// The messages of a finished batch, per file, as the progress dialog hands them to the status
// log.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include "engine/QKConvertSource.h"

class KRAPanel;
class KRAPanelHostInterface;

// One file's messages.
struct KRAStatusLogEntry {
    QKConvertSourceRef source2; // the source of the conversion
    QString fnTo;               // destination file name; may be empty
    QString encoderName;
    QStringList entries;   // the message lines, in the order they came
    QString statusImgName; // image shown before the row's text; empty: none
};
using KRAStatusLogEntryRef = std::shared_ptr<KRAStatusLogEntry>;

struct KRAStatusLogContext {
    std::weak_ptr<KRAPanelHostInterface> host;
    QList<KRAStatusLogEntryRef> infos;  // files with information messages
    QList<KRAStatusLogEntryRef> errors; // files with errors
    QString titleActionOverride;        // used in the title instead of "Conversion"; empty: none
    bool sizeToHost = false;            // the panel takes the window's size
    bool canEject = false;              // never for this program

    bool canReconvert() const { return true; }
    void ejectDisc() {}
    // Sends the sources of every failed file, in order, to the host's converter setup; Back
    // returns to the panel.
    void doReconvertFrom(const std::shared_ptr<KRAPanel>& panel) const;
};
