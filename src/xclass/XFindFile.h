// XFindFile: walks the entries of one folder that match a wildcard mask, giving each entry's
// full path and its stat record. The one-path form answers for a single path.
#pragma once

#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>

#include "xclass/XStr.h"

class XFindFile {
public:
    XStr Path;   // full path of the current entry
    XStr Folder; // the folder being walked
    XStr Mask;   // "*.*" = every entry; empty = the folder path itself
    bool FoldersOnly = false;
    DIR* Dir = nullptr;             // opened by the first Next
    struct dirent* Entry = nullptr; // the last entry read
    struct stat Stat {};            // of the current entry (links followed)

    // Walk folder (trailing "/" removed unless it is "/") with mask. The narrow forms read
    // Windows-1252.
    XFindFile(const wchar_t* mask, const wchar_t* folder);
    XFindFile(const char* mask, const char* folder);
    // One-path form: a file-name part holding "*" or "?" becomes the mask over the path's
    // folder; otherwise the mask is empty and Next tests the path itself.
    explicit XFindFile(const wchar_t* path);
    explicit XFindFile(const char* path);
    ~XFindFile();
    XFindFile(const XFindFile&) = delete;
    XFindFile& operator=(const XFindFile&) = delete;

    // The next entry that passes the filter; false at the end or when the folder cannot be
    // opened. "." and ".." never come back, nor entries whose stat fails (broken links).
    bool Next();
    void SetFoldersOnly() { FoldersOnly = true; }
    bool NextFolder();
    bool IsFolder() const { return S_ISDIR(Stat.st_mode); }
    int64_t GetSize() const { return static_cast<int64_t>(Stat.st_size); }
    // "@Recycle", "#recycle", "$RECYCLE.BIN", "@tmp", "@eaDir", "@Recently-Snapshot",
    // "_gsdata_" (A-Z folded): folders that NAS systems keep in every share.
    bool IsSystemFolder() const;

private:
    void SetFolder(const XStr& folder);
    bool m_done = false; // the walk is over (or the one path was answered)
};

// Times of a stat record as 100-ns units since 1601 (whole seconds). A stat record carries
// no birth time on Linux: Create gives the older of the change and modification times.
uint64_t XStatToFileTimeAccess(const struct stat& st);
uint64_t XStatToFileTimeWrite(const struct stat& st);
uint64_t XStatToFileTimeCreate(const struct stat& st);
