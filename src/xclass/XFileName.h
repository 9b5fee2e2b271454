// XFileName: the path string of the library, an XStr with path operations and no fields of
// its own, plus the free functions on paths (existence, size and times, folders, copy, move,
// delete, whole trees, wildcard masks).
//
// Paths are "/"-separated POSIX paths handed to the system as UTF-8 through the lossless
// encoder of XStr, so a name read from the disk names the same file when it comes back.
// Every function reports failure by its result and leaves errno as the system set it.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "xclass/XStr.h"

class XFileName : public XStr {
public:
    using XStr::XStr;
    XFileName() = default;
    XFileName(const XStr& other) : XStr(other) {}
    XFileName(XStr&& other) noexcept : XStr(static_cast<XStr&&>(other)) {}
    XFileName(const XFileName& other) = default;
    XFileName(XFileName&& other) noexcept = default;
    XFileName& operator=(const XFileName& other) = default;
    XFileName& operator=(XFileName&& other) noexcept = default;
    using XStr::operator=;

    // ---- Parts (each a new string) ----
    // ".ext" when the last "." comes after the last "/", else the one-character text ".".
    XFileName GetExtension() const;
    XFileName GetFileName() const;         // after the last "/" (all of it when there is none)
    XFileName GetWithoutExtension() const; // cut before the last "." (no "/" check)
    XFileName GetFileNameNoExt() const;
    XFileName GetFolder() const; // up to and including the last "/" (unchanged when none)
    // Position of the last "/" at or before start (XSTR_LAST: from the end); 0 when none.
    int FindLastSlash(int start = XSTR_LAST) const;
    bool HasWildcard() const; // contains "*" or "?"
    bool IsHidden() const;    // the file name begins with "."
    bool IsInAutoAddFolder() const;
    // Position behind the leading "/" characters (length + 2 when the text is all "/").
    int SkipLeadingSlashes() const;
    bool MatchMask(const wchar_t* mask) const;

    // ---- Editing in place ----
    void AddTrailingSlash();    // the empty text becomes "/"
    void RemoveTrailingSlash(); // every trailing "/"; a lone "/" becomes empty
    // Appends component (its leading "/" dropped) after exactly one "/".
    void AppendPath(const wchar_t* component);
    static XFileName Join(const wchar_t* base, const wchar_t* component);
    // Append with no separator; each returns a copy of the result.
    XFileName Append(const wchar_t* text);
    XFileName AppendString(const XStr& text);
    XFileName AppendText(const wchar_t* text);
    static XFileName Concat(const wchar_t* text, const wchar_t* tail);
    void ReplaceSlashes(wchar_t ch);
    void Quote(); // wraps the text in double quotes
    // Deletes every "." that begins the text or follows a "/", repeatedly.
    void StripLeadingDots();
    // The last component (a trailing "/" ignored); with remove the text is cut behind the
    // "/" before it. Empty (and nothing changed) when there is no such component.
    XFileName PopLastComponent(bool remove);
    // Turns any text into a valid file name (or, with isPath, a path). pairs: 0-terminated
    // table read in pairs (character, replacement; "*" deletes); null = {"/", "-"}.
    // Components are cut in UTF-8 bytes at character boundaries so that they fit the
    // 255-byte name limit of Linux file systems; limitTo1024 keeps the whole path within
    // the 4096-byte path limit.
    void MakeValid(bool limitTo1024 = false, const wchar_t* pairs = nullptr, bool keepSlashes = false,
                   bool isPath = false);
    bool ExpandHome();   // "~" and "~/..." from $HOME; false when neither applies
    bool CollapseHome(); // $HOME and "$HOME/..." become "~" and "~/..."
    // ExpandHome, "./" before a text without "/", then realpath; unchanged on failure.
    bool MakeRealPath();

    // The same with "\" as separator (Windows-style paths held as text).
    XFileName GetFileNameWin() const;
    int FindLastBackslash(int start = XSTR_LAST) const;
    XFileName GetFolderWin() const;
    void AddTrailingBackslash();
    void RemoveTrailingBackslash();
    void AppendPathWin(const wchar_t* component);
};

// Shortens name (before its extension when keepExtension) until folder + "/" + name + one
// spare character is accepted by the filesystem (no ENAMETOOLONG). folder null: the
// system temporary folder. False, name unchanged, when even one character is too long.
bool XFitNameToPathLimit(XStr& name, bool keepExtension, const wchar_t* folder);

// Access and modification time, each seconds and nanoseconds since 1970.
struct XFileTimes {
    int64_t AccessSeconds = 0;
    int64_t AccessNanoseconds = 0;
    int64_t WriteSeconds = 0;
    int64_t WriteNanoseconds = 0;
};

// ---- Look-ups. The path is taken as it is: "*" and "?" are ordinary characters here. ----
bool XFileExists(const wchar_t* path, bool* isFolder = nullptr); // false for ""
bool XIsFolder(const wchar_t* path, bool* missing = nullptr);
uint64_t XGetFileSize(const wchar_t* path, bool* missing = nullptr); // 0 when missing
// File times in 100-ns units since 1601 (whole seconds); 0 when missing. The creation time
// is the birth time where the file system records one, else the older of the change and
// modification times.
uint64_t XGetFileWriteTime(const wchar_t* path, bool* missing = nullptr);
uint64_t XGetFileCreateTime(const wchar_t* path, bool* missing = nullptr);
uint64_t XGetFileAccessTime(const wchar_t* path, bool* missing = nullptr);
bool XGetFileTimes(const wchar_t* path, XFileTimes& times);
bool XSetFileTimes(const wchar_t* path, const XFileTimes& times);

// ---- Folders ----
bool XCreateFolderTree(const wchar_t* path); // mode 0777
// Creates every missing folder of an absolute path; an existing one counts as success.
// Volume roots ("/media/", "/mnt/", ...) are never created in: a volume must be mounted.
bool XCreateFolderTreeWithMode(const wchar_t* path, mode_t mode);
bool XRemoveFolder(const wchar_t* path); // rmdir of an empty folder

// ---- Files ----
// Copies data, mode, owner (where allowed), times and extended attributes. failIfExists
// refuses an existing target, also one that appears while copying. A failed copy removes
// what it wrote of the target. A symbolic link source is followed.
bool XCopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists);
// rename; across file systems a copy (links stay links, folders are copied whole) and, only
// after the copy fully succeeded, the deletion of the source.
bool XMoveFile(const wchar_t* from, const wchar_t* to);
// Like XMoveFile, but an existing target is never replaced, not even one that appears
// while the move is under way.
bool XMoveFileNoReplace(const wchar_t* from, const wchar_t* to);
bool XMoveFileEx(const wchar_t* from, const wchar_t* to, bool allowReplace);
bool XDeleteFile(const wchar_t* path); // a file, a link or an empty folder

// ---- Trees. Symbolic links are never followed: a link is removed, copied or moved as a
// link. ----
// Deletes the entries of folder that match pattern ("*.*" = all), folders only when recurse
// (entered with the same pattern), then the folder itself when removeFolder and every
// deletion succeeded. A path shorter than 3 characters is refused.
bool XDeleteFolderTree(const wchar_t* folder, bool removeFolder = true, const wchar_t* pattern = L"*.*",
                       bool recurse = true);
bool XDeleteFiles(const wchar_t* pattern, const wchar_t* folder);
bool XCopyFolderTree(const wchar_t* from, const wchar_t* to);
bool XMoveFolderTree(const wchar_t* from, const wchar_t* to);

// "*" any run (also none), "?" one character, A-Z folded; the whole name must match.
bool XMatchMask(const wchar_t* name, const wchar_t* mask);
