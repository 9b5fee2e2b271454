// What the progress dialog hands to the status log: the files with messages, and the window
// host the log is shown in, through which it converts the failed files again.
#pragma once

#include <QList>
#include <QString>

#include <memory>

#include "engine/KRAStatusLog.h"

class KRAPanel;
class KRAPanelHostInterface;

struct KRAStatusLogContext {
    std::weak_ptr<KRAPanelHostInterface> host;
    QList<KRAStatusLogEntryRef> infos;  // files with information messages
    QList<KRAStatusLogEntryRef> errors; // files with errors, and files converted with warnings
    QString titleActionOverride;        // used in the title instead of "Conversion"; empty: none
    bool sizeToHost = false;            // the panel takes the window's size
    bool canEject = false;              // never for this program

    bool canReconvert() const { return true; }
    void ejectDisc() {}
    // Sends the sources of every failed file, in order, to the host's converter setup; Back
    // returns to the panel. Files converted with warnings are no failures: they stay out.
    void doReconvertFrom(const std::shared_ptr<KRAPanel>& panel) const;
};
