// XFileMutex: a lock between processes, flock on a file (named locks live in /tmp as
// "/tmp/xmutex-NAME"). The lock belongs to the open file description: two XFileMutex
// objects on one path exclude each other even inside one process, and closing releases it.
#pragma once

#include "xclass/XStr.h"

class XFileMutex {
public:
    int32_t fd = -1;

    XFileMutex() = default;
    explicit XFileMutex(const XStr& path) { Open(path); }
    ~XFileMutex() { Close(); }
    XFileMutex(const XFileMutex&) = delete;
    XFileMutex& operator=(const XFileMutex&) = delete;

    // Opens (creating with mode 0600) the lock file. Links are not followed, the file's
    // content is left alone and anything but a regular file is refused.
    bool Open(const XStr& path);
    // "/tmp/xmutex-NAME"; false for a name holding "/".
    bool OpenNamed(const XStr& name);
    // The path of a named lock; empty for a name holding "/".
    static XStr GetNamedPath(const XStr& name);
    static bool RemoveNamed(const XStr& name);
    // prefix + 32 random upper-case hex digits, opened as a named lock. Empty on failure.
    XStr OpenUnique(const XStr& prefix);

    void Close();
    bool IsOpen() const { return fd != -1; }

    int Lock(); // 0 or -1; waits as long as it takes
    int LockShared();
    bool TryLock();
    bool TryLockShared();
    // One try, then one more every 10 ms until timeoutMs have passed (0: one try only;
    // negative: no limit).
    bool TryLock(int timeoutMs);
    bool TryLockShared(int timeoutMs);
    int Unlock();

private:
    bool TryLockFor(int operation, int timeoutMs);
};
