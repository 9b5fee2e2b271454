#include "xclass/XTempFile.h"

#include "xclass/XEnvironment.h"
#include "xclass/XExitCleanup.h"
#include "xclass/XFileName.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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
    name += XTempOwnedId();
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

// ---- Who made a temporary ----

// Field 22 of /proc/PID/stat: when the process started, in clock ticks after boot. 0 when
// there is no such process (or it cannot be read).
uint64_t ProcessStartTime(uint64_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[1024];
    const ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0)
        return 0;
    const std::string text(buffer, static_cast<size_t>(got));
    size_t at = text.rfind(')'); // the command name may hold blanks and parentheses
    if (at == std::string::npos)
        return 0;
    ++at;
    for (int field = 2; field < 22; ++field) {
        at = text.find(' ', at);
        if (at == std::string::npos)
            return 0;
        ++at;
    }
    uint64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
    return value;
}

uint64_t OwnPidNamespace()
{
    struct stat st;
    return stat("/proc/self/ns/pid", &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

struct OwnIdentity {
    uint64_t start = ProcessStartTime(static_cast<uint64_t>(getpid()));
    uint64_t pidNamespace = OwnPidNamespace();
};

// Read again after a fork: the child is another process.
const OwnIdentity& Own()
{
    static thread_local pid_t cachedFor = 0;
    static thread_local OwnIdentity identity;
    if (cachedFor != getpid()) {
        identity = OwnIdentity();
        cachedFor = getpid();
    }
    return identity;
}

struct TempOwner {
    uint64_t pid = 0;
    bool full = false; // with start time and namespace
    uint64_t start = 0;
    uint64_t pidNamespace = 0;
};

// Digits at text[at...]; false when there are none or too many.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& value)
{
    const size_t begin = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 19)
        value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
    return at > begin && (at == text.size() || text[at] < '0' || text[at] > '9');
}

// "<pid>-<n>" or "<pid>-<n>-<start>-<namespace>" at text[at...]; at is left after it.
bool ReadOwnerId(const std::string& text, size_t& at, TempOwner& owner)
{
    uint64_t numbers[4] = {};
    int count = 0;
    while (count < 4) {
        if (!ReadNumber(text, at, numbers[count]))
            return false;
        ++count;
        if (at >= text.size() || text[at] != '-')
            break;
        ++at;
    }
    if (count != 2 && count != 4)
        return false;
    owner.pid = numbers[0];
    owner.full = count == 4;
    owner.start = numbers[2];
    owner.pidNamespace = numbers[3];
    return true;
}

bool IsPlainWord(const std::string& text, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        const char c = text[i];
        if (!(c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    }
    return true;
}

// Whether name is one of the temporaries' names, and whose; folderName: it may be a folder.
bool ParseTemporaryName(const std::string& name, TempOwner& owner, bool& folderName)
{
    static const std::string kLibrary = "XTempFile-";
    static const std::string kOutput = ".tmp-";
    const size_t library = name.find(kLibrary);
    if (library != std::string::npos && IsPlainWord(name, 0, library)) {
        size_t at = library + kLibrary.size();
        if (!ReadOwnerId(name, at, owner))
            return false;
        // Then the extension the callers give: ".tmp", ".png", ".txt", or none.
        if (at < name.size() && (name[at] != '.' || at + 1 == name.size() || !IsPlainWord(name, at + 1, name.size())))
            return false;
        folderName = name.compare(at, std::string::npos, ".tmp") == 0;
        return true;
    }
    const size_t output = name.rfind(kOutput);
    if (output == std::string::npos || output == 0)
        return false;
    size_t at = output + kOutput.size();
    if (!ReadOwnerId(name, at, owner))
        return false;
    // The destination's extension, or none.
    if (at < name.size() && (name[at] != '.' || name.find('.', at + 1) != std::string::npos))
        return false;
    folderName = false;
    return true;
}

bool OwnerIsGone(const TempOwner& owner)
{
    if (owner.pid <= 1 || owner.pid > 0x7fffffffu)
        return false; // no process id this library ever wrote
    if (owner.full && owner.pidNamespace != Own().pidNamespace)
        return false; // that pid means another process there
    const uint64_t start = ProcessStartTime(owner.pid);
    if (start == 0) {
        // No such process, or one whose stat cannot be read: only a missing one counts.
        const std::string path = "/proc/" + std::to_string(owner.pid);
        struct stat st;
        return stat(path.c_str(), &st) != 0 && errno == ENOENT;
    }
    return owner.full && start != owner.start;
}

} // namespace

XStr XTempOwnedId()
{
    XStr id = XTempUniqueId();
    id += L"-";
    id += XStr::FromULong(Own().start);
    id += L"-";
    id += XStr::FromULong(Own().pidNamespace);
    return id;
}

int XRemoveStaleTemporaries(const XStr& folder)
{
    std::string path = folder.ToUTF8String();
    if (path.empty())
        return 0;
    if (path.back() != '/')
        path += '/';
    const int dirFd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return 0;
    }
    std::vector<std::pair<std::string, bool>> stale;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        TempOwner owner;
        bool folderName = false;
        if (!ParseTemporaryName(name, owner, folderName) || !OwnerIsGone(owner))
            continue;
        struct stat st;
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid())
            continue;
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
            stale.emplace_back(name, false);
        else if (S_ISDIR(st.st_mode) && folderName)
            stale.emplace_back(name, true);
    }
    int removed = 0;
    for (const auto& [name, isFolder] : stale) {
        if (isFolder ? XDeleteFolderTree(XStr::FromUTF8(path + name), true, L"*.*", true)
                     : unlinkat(dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

void XRemoveStaleTemporariesSoon(const XStr& folder)
{
    static std::mutex mutex;
    static std::map<std::string, std::chrono::steady_clock::time_point> looked;
    const std::string key = folder.ToUTF8String();
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = looked.find(key);
        if (it != looked.end() && now - it->second < std::chrono::seconds(10))
            return;
        if (looked.size() > 1000)
            looked.clear(); // a bound for a process that writes into very many folders
        looked[key] = now;
    }
    XRemoveStaleTemporaries(folder);
}

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
    XRemoveStaleTemporariesSoon(folder);
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
    XRemoveStaleTemporariesSoon(folder);
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
