#include "xclass/XFileMutex.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xclass/XPlatform.h"

bool XFileMutex::Open(const XStr& path)
{
    Close();
    const std::string bytes = path.ToUTF8String();
    if (bytes.empty() || bytes.find('\0') != std::string::npos)
        return false;
    // The lock files sit in a folder everyone can write to: a link planted there must not
    // make us create or open some other file, nor may a FIFO make the open hang (O_NONBLOCK).
    // The content is never ours to truncate: it may be a file someone else relies on.
    int d;
    do {
        d = open(bytes.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (d < 0 && errno == EINTR);
    if (d < 0)
        return false;
    struct stat st;
    if (fstat(d, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(d);
        errno = EINVAL;
        return false;
    }
    const int flags = fcntl(d, F_GETFL);
    if (flags >= 0)
        fcntl(d, F_SETFL, flags & ~O_NONBLOCK);
    fd = d;
    return true;
}

XStr XFileMutex::GetNamedPath(const XStr& name)
{
    const std::wstring_view text = name.View();
    if (text.find(L'/') != std::wstring_view::npos || text.find(L'\0') != std::wstring_view::npos)
        return XStr();
    return XStr(L"/tmp/xmutex-") + name;
}

bool XFileMutex::OpenNamed(const XStr& name)
{
    const XStr path = GetNamedPath(name);
    if (path.IsEmpty()) {
        Close();
        errno = EINVAL;
        return false;
    }
    return Open(path);
}

bool XFileMutex::RemoveNamed(const XStr& name)
{
    const XStr path = GetNamedPath(name);
    if (path.IsEmpty()) {
        errno = EINVAL;
        return false;
    }
    return unlink(path.ToUTF8String().c_str()) == 0;
}

XStr XFileMutex::OpenUnique(const XStr& prefix)
{
    const XStr name = prefix + XRandomHex32();
    if (!OpenNamed(name))
        return XStr();
    return name;
}

void XFileMutex::Close()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

namespace {
int FlockRetry(int d, int operation)
{
    int result;
    do {
        result = flock(d, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}
} // namespace

int XFileMutex::Lock()
{
    return FlockRetry(fd, LOCK_EX) == 0 ? 0 : -1;
}

int XFileMutex::LockShared()
{
    return FlockRetry(fd, LOCK_SH) == 0 ? 0 : -1;
}

bool XFileMutex::TryLock()
{
    return FlockRetry(fd, LOCK_EX | LOCK_NB) == 0;
}

bool XFileMutex::TryLockShared()
{
    return FlockRetry(fd, LOCK_SH | LOCK_NB) == 0;
}

bool XFileMutex::TryLockFor(int operation, int timeoutMs)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        if (FlockRetry(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK) // a bad descriptor will not get better by waiting
            return false;
        if (timeoutMs == 0)
            return false;
        if (timeoutMs > 0 && GetTickCount() - start >= static_cast<uint32_t>(timeoutMs))
            return false;
        Sleep(10);
    }
}

bool XFileMutex::TryLock(int timeoutMs)
{
    return TryLockFor(LOCK_EX, timeoutMs);
}

bool XFileMutex::TryLockShared(int timeoutMs)
{
    return TryLockFor(LOCK_SH, timeoutMs);
}

int XFileMutex::Unlock()
{
    return flock(fd, LOCK_UN);
}
