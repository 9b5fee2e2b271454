// Small class-only services the engine asks before it starts work: how many conversions may
// run at once and a few program-wide lists; and the conditional-encoding hook, which in this
// program never makes a rule, so every file is converted as set up.
#pragma once

#include <QStringList>

#include <cstdint>
#include <memory>

#include "job/QKDSPSpec.h"
#include "xclass/XStr.h"

class QKConversionEntry;
class QKMediaFileInfo;

class QKGlobalOptions {
public:
    // The hardware threads the system reports; 0 when it does not know.
    static uint64_t numCPUs();
    // The encoder slots of a batch: numCPUs, and at least 1, so that a system that reports
    // nothing still converts.
    static uint64_t numThreads();
    // False when the registry number "NoInternetForQK" is not 0.
    static bool allowInterentAccess();
    // The name joined to the application-data folder.
    static XStr pathInProfile(const XStr& fileName);
    // The built-in genre names, sorted without regard to case.
    static QStringList hardcodedGenres();
    // The lines of "genres.txt" in the application-data folder; the first call of a process
    // writes that file from hardcodedGenres when it does not exist. hardcodedGenres when it
    // cannot be read.
    static QStringList standardGenres();
    // The tag-field names offered for editing, in the file manager's order.
    static QStringList standardMetaFields();
};

class QKConditionalEncoding;
using QKConditionalEncodingRef = std::shared_ptr<QKConditionalEncoding>;

class QKConditionalEncoding {
public:
    // No rule: null.
    static QKConditionalEncodingRef createWithDSPs(const QKDSPChain& chain);
    bool needMetaFromFiles() const { return false; }
    // Convert the entry unchanged.
    bool processEntry(QKConversionEntry& entry, const QKMediaFileInfo* info) const;
};
