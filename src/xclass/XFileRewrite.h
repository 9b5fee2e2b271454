// Safe rewrite: files that other code or other processes read at any moment are never
// written in place. XFileRewrite writes the new contents to a temporary file beside the
// target ("TARGET.pPID[.TRY].rewrite.tmp") and renames it over the target only when all
// was written and flushed to the disk, so a reader sees the old file or the complete new
// one, also after a power loss.
#pragma once

#include <cstddef>

#include "xclass/XBuffer.h"
#include "xclass/XFile.h"
#include "xclass/XStr.h"

class XFileRewrite : public XFile {
public:
    XStr Target;
    bool CommitOnClose = true; // false: Close discards the temporary file

    XFileRewrite();
    ~XFileRewrite() override;

    // Creates the first free temporary name of 100 (read/write, create new, shared lock).
    bool Open(const wchar_t* target);
    // Uses the given temporary name (create always).
    bool OpenNamed(const wchar_t* target, const wchar_t* tempName);
    // Flushes and closes the temporary file, renames it over Target, flushes the folder.
    bool Commit();
    bool Abort(); // closes and deletes the temporary file
    // Nothing open: true. Else Abort when !CommitOnClose, else Commit (Abort when it fails).
    bool Close();
    bool CommitOrAbort();

    // The temporary name of a try (0, 1, ...) for target in this process.
    static XStr TempName(const XStr& target, int attempt);
};

// The whole of data as the new contents of path, through an XFileRewrite. On failure the
// target stays as it was and no temporary file is left.
bool XFileWriteAll(const wchar_t* path, const void* data, size_t size);
bool XFileWriteAll(const wchar_t* path, const XBuffer& buffer);

// Deletes the "*.rewrite.tmp" files in folder that interrupted rewrites left behind. Those
// of processes still running are spared: they may be writing them right now. Returns the
// number deleted.
int XFileRemoveRewriteTemps(const wchar_t* folder);
// The same for the temporaries of one target only, in the target's folder.
int XFileRemoveRewriteTempsOf(const wchar_t* target);
