#include "xclass/XTempFile.h"

#include "xclass/XEnvironment.h"
#include "xclass/XExitCleanup.h"
#include "xclass/XFileName.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kScopeVariable[] = "XTempFolderScope_Location";

// Names are unique within the process, so a taken name can only be a leftover of an
// earlier process with the same id; this many in a row means something else is wrong.
constexpr int kMaxAttempts = 10000;

std::atomic<uint32_t> g_nameCounter{0};

XStr WithTrailingSlash(XStr path)
{
    if (path.IsEmpty() || path.p[path.Length() - 1] != L'/')
        path += L"/";
    return path;
}

XStr CandidateName(const XStr& folder, const XStr& prefix, const XStr& extension)
{
    XStr name(prefix);
    name += L"XTempFile-";
    name += XTempUniqueId();
    XFileName path(folder);
    path.AppendPath(name);
    path += extension;
    return path;
}

// Creates a private folder that did not exist before. Returns 0, or the errno of mkdir.
int MakePrivateFolder(XStr path)
{
    const std::string utf8 = path.ToUTF8String();
    if (mkdir(utf8.c_str(), 0700) != 0)
        return errno ? errno : EIO;
    chmod(utf8.c_str(), 0700); // exactly 0700 whatever the umask took away
    return 0;
}

// A scope folder left by a process that is gone (killed, or ended without its destructor):
// a real folder of ours whose lock file nobody holds. Removed while this process holds that
// lock; the lock file must still be the one in the folder, so that a folder another process
// has just cleared and made anew is never taken for it. True when it was removed.
bool RemoveStaleScopeFolder(const XStr& folder)
{
    const std::string path = folder.ToUTF8String();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    const std::string lockPath = path + "/XTempFolderLock";
    const int fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat held, named;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && lstat(lockPath.c_str(), &named) == 0 &&
        S_ISREG(named.st_mode) && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        removed = XDeleteFolderTree(folder, true, L"*.*", true) && lstat(path.c_str(), &st) != 0;
    close(fd);
    return removed;
}

} // namespace

XStr XGetTempFolder()
{
    bool set = false;
    const std::string scope = XGetEnv(kScopeVariable, &set);
    if (set && !scope.empty())
        return WithTrailingSlash(XStr::FromUTF8(scope));
    const std::string tmpdir = XGetEnv("TMPDIR");
    if (!tmpdir.empty())
        return WithTrailingSlash(XStr::FromUTF8(tmpdir));
    return XStr(L"/tmp/");
}

XStr XTempUniqueId()
{
    XStr id = XStr::FromULong(static_cast<uint32_t>(getpid()));
    id += L"-";
    id += XStr::FromULong(g_nameCounter.fetch_add(1));
    return id;
}

// ---- XTempFile ----

XTempFile::XTempFile(const char* prefix, const char* extension)
{
    Create(prefix, extension);
}

XTempFile::XTempFile(XTempFile&& other) noexcept : XStr(static_cast<XStr&&>(other))
{
    static_cast<XStr&>(other) = L"";
}

XTempFile::~XTempFile()
{
    Delete();
    XExitCleanup::RemoveFile(*this);
}

bool XTempFile::Create(const char* prefix, const char* extension)
{
    Delete();
    XExitCleanup::RemoveFile(*this);
    static_cast<XStr&>(*this) = L"";
    const XStr folder = XGetTempFolder();
    const XStr prefixText = prefix ? XStr::FromAnsi(prefix) : XStr();
    const XStr extensionText = extension ? XStr::FromAnsi(extension) : XStr(L".tmp");
    XExitCleanup::Section making; // removed at a signal from the moment it exists
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const XStr path = CandidateName(folder, prefixText, extensionText);
        const std::string utf8 = path.ToUTF8String();
        const int fd = open(utf8.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            static_cast<XStr&>(*this) = path;
            XExitCleanup::AddFile(path);
            return true;
        }
        if (errno != EEXIST && errno != EINTR)
            break; // a missing or read-only folder: no later name will do better
    }
    return false;
}

void XTempFile::Delete()
{
    if (!IsEmpty())
        XDeleteFile(p);
}

XTempFile& XTempFile::operator=(const wchar_t* path)
{
    const XStr newPath(path ? path : L""); // path may point into this string
    Delete();
    XExitCleanup::RemoveFile(*this);
    static_cast<XStr&>(*this) = newPath;
    XExitCleanup::AddFile(newPath);
    return *this;
}

// ---- XTempFolder ----

XTempFolder::XTempFolder(const char* prefix)
{
    Create(prefix);
}

XTempFolder::XTempFolder(XTempFolder&& other) noexcept : XStr(static_cast<XStr&&>(other))
{
    static_cast<XStr&>(other) = L"";
}

XTempFolder::~XTempFolder()
{
    Delete();
    XExitCleanup::RemoveFolder(*this);
}

bool XTempFolder::Create(const char* prefix)
{
    Delete();
    XExitCleanup::RemoveFolder(*this);
    static_cast<XStr&>(*this) = L"";
    const XStr folder = XGetTempFolder();
    const XStr prefixText = prefix ? XStr::FromAnsi(prefix) : XStr();
    XExitCleanup::Section making;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const XStr path = CandidateName(folder, prefixText, XStr(L".tmp"));
        // mkdir itself claims the name: a folder or link already there is never taken over.
        const int err = MakePrivateFolder(path);
        if (err == 0) {
            static_cast<XStr&>(*this) = WithTrailingSlash(path);
            XExitCleanup::AddFolder(*this);
            return true;
        }
        if (err != EEXIST && err != EINTR)
            break;
    }
    return false;
}

void XTempFolder::Delete()
{
    if (!IsEmpty())
        XDeleteFolderTree(p, true, L"*.*", true);
}

// ---- XTempFolderScope ----

XTempFolderScope::XTempFolderScope(const wchar_t* name, bool nest)
{
    bool set = false;
    const std::string previous = XGetEnv(kScopeVariable, &set);
    if (set) {
        if (!nest)
            return; // the outer scope stays in force
        Saved = XStr::FromUTF8(previous);
        HadValue = true;
    }
    const XStr base = XGetTempFolder();
    for (int i = 0; i < kMaxAttempts; ++i) {
        XStr leaf;
        if (name && name[0]) {
            leaf = name;
            leaf += L"-temp";
            if (i >= 1) {
                leaf += L"-";
                leaf += XStr::FromLong(i);
            }
        } else {
            leaf = L"XTempFolder-";
            leaf += XStr::FromLong(i);
        }
        XFileName candidate(base);
        candidate.AppendPath(leaf);
        XExitCleanup::Section making;
        int err = MakePrivateFolder(candidate);
        if (err == EEXIST && RemoveStaleScopeFolder(candidate))
            err = MakePrivateFolder(candidate); // made anew, never adopted
        if (err == EEXIST || err == EINTR)
            continue; // held by another process, or not a scope folder of ours
        if (err != 0)
            break;
        candidate.AddTrailingSlash();
        XFileName lockPath(candidate);
        lockPath.AppendPath(L"XTempFolderLock");
        const std::string lockUtf8 = lockPath.ToUTF8String();
        const int fd = open(lockUtf8.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;
        }
        LockFd = fd;
        Folder = candidate;
        XExitCleanup::AddFolder(Folder);
        XSetEnv(kScopeVariable, Folder.ToUTF8String().c_str(), true);
        return;
    }
}

XTempFolderScope::~XTempFolderScope()
{
    if (LockFd == -1)
        return;
    if (HadValue)
        XSetEnv(kScopeVariable, Saved.ToUTF8String().c_str(), true);
    else
        XUnsetEnv(kScopeVariable);
    XDeleteFolderTree(Folder, true, L"*.*", true);
    XExitCleanup::RemoveFolder(Folder);
    close(LockFd);
    LockFd = -1;
}
