// Temporary files and folders that remove themselves, the process's temporary folder, and a
// scope that gives a process (and the children it starts) a private temporary folder.
//
// Files are made O_EXCL with mode 0600 and folders with mode 0700; a name that already
// exists is never taken over, and removing a temporary folder never follows a symbolic link
// out of it.
#pragma once

#include "xclass/XStr.h"

#include <functional>

// "XTempFolderScope_Location" when set, else $TMPDIR, else "/tmp"; always with a trailing "/".
XStr XGetTempFolder();

// "<process id>-<counter>"; the process-wide counter never repeats a value.
XStr XTempUniqueId();
// XTempUniqueId followed by the process's start time (clock ticks after boot) and its pid
// namespace: "<pid>-<counter>-<start>-<namespace>". Temporaries are named with it so that a
// later process can tell whether their maker still runs, even once its pid has been reused.
XStr XTempOwnedId();

// Removes from folder (not below it) the temporaries of makers that no longer run, owned by
// this user: "<prefix>XTempFile-<id><extension>" files, links and folders of this library,
// and "<stem>.tmp-<id><extension>" outputs made beside a destination. With the full id the
// maker is gone when no process of that pid runs or it started at another time; a maker in
// another pid namespace cannot be judged and its files stay. Names of earlier builds with
// only "<pid>-<counter>" are removed when no process of that pid runs at all. Nothing else
// is touched (a "clip.tmp.mkv" of the user's stays). Returns the number of entries removed.
int XRemoveStaleTemporaries(const XStr& folder);
// The same, unless this process looked at that folder a few seconds ago: for code that makes
// a temporary in a folder and tidies it on the way.
void XRemoveStaleTemporariesSoon(const XStr& folder);

// The full path of an empty file made at construction (or by Create) and deleted by the
// destructor. Empty when no file could be made.
class XTempFile : public XStr {
public:
    XTempFile() = default;
    // prefix and extension (with its dot; ".tmp" when null) are read as Windows-1252.
    XTempFile(const char* prefix, const char* extension);
    XTempFile(XTempFile&& other) noexcept;
    XTempFile(const XTempFile&) = delete;
    XTempFile& operator=(const XTempFile&) = delete;
    ~XTempFile();

    // Deletes the file held, then makes "<folder><prefix>XTempFile-<XTempOwnedId><extension>"
    // (the folder tidied of leftovers of killed processes first, XRemoveStaleTemporariesSoon).
    // False (and an empty name) when no file can be made in the temporary folder.
    bool Create(const char* prefix, const char* extension);
    // Deletes the file; the name stays.
    void Delete();
    // Deletes the file held, then owns path.
    XTempFile& operator=(const wchar_t* path);
};

// A folder path with a trailing "/" owning its tree; empty when none.
class XTempFolder : public XStr {
public:
    XTempFolder() = default;
    explicit XTempFolder(const char* prefix);
    XTempFolder(XTempFolder&& other) noexcept;
    XTempFolder(const XTempFolder&) = delete;
    XTempFolder& operator=(const XTempFolder&) = delete;
    ~XTempFolder();

    // Removes the tree held, then makes a fresh private folder named like an XTempFile with
    // ".tmp". False (and an empty path) when no folder can be made.
    bool Create(const char* prefix);
    // Removes the folder and everything in it; links inside are removed, never followed.
    void Delete();
};

// Gives the process a private locked temporary folder, named "<name>-temp[-i]" (or
// "XTempFolder-i") in the temporary folder, and points "XTempFolderScope_Location" at it
// so that XGetTempFolder of this process and of its children returns it. Without nest an
// outer scope already in force is kept. The destructor restores the variable and removes
// the folder.
class XTempFolderScope {
public:
    explicit XTempFolderScope(const wchar_t* name = nullptr, bool nest = false);
    ~XTempFolderScope();
    XTempFolderScope(const XTempFolderScope&) = delete;
    XTempFolderScope& operator=(const XTempFolderScope&) = delete;

    XStr Saved;      // the variable's previous value; empty when it was not set
    XStr Folder;     // the private folder, with a trailing "/"
    int LockFd = -1; // -1: no scope taken
private:
    bool HadValue = false;
};

// Runs a function at scope end.
class XScopeExit {
public:
    explicit XScopeExit(std::function<void()> fn) : Function(std::move(fn)) {}
    ~XScopeExit() { Function(); } // an empty function throws and so terminates
    XScopeExit(const XScopeExit&) = delete;
    XScopeExit& operator=(const XScopeExit&) = delete;

    std::function<void()> Function;
};
