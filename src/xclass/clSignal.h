// clFD, clPipe and clSignal: the descriptor, pipe and signal of the interface-side classes,
// held through std::shared_ptr (reference-counted like the objects they stand for). A signal
// is "set" exactly when at least one byte is readable from its pipe; waiting never consumes
// it. The window and worker classes hold clSignal for their start-up, shut-down, abort, work
// and quit signals; clSignal::waitFor waits on several at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// One owned descriptor; closed when the object goes.
class clFD {
public:
    clFD() = default;                  // no descriptor
    explicit clFD(int fd) : mFD(fd) {} // takes ownership
    ~clFD();
    clFD(const clFD&) = delete;
    clFD& operator=(const clFD&) = delete;

    // A new object owning a close-on-exec duplicate of fd; null when dup fails.
    static std::shared_ptr<clFD> withDupOfFD(int fd);

    int fd() const { return mFD; }
    int flags() const; // F_GETFD
    void setFlags(int flags);
    int statusFlags() const; // F_GETFL
    void setStatusFlags(int flags);
    bool closeOnExec() const;
    void setCloseOnExec(bool on);
    bool nonBlocking() const;
    void setNonBlocking(bool on);

    // Returns the descriptor and forgets it.
    int detach();
    void close();
    // A new object on a duplicate of the descriptor; null when dup fails.
    std::shared_ptr<clFD> duplicate() const;

private:
    int mFD = -1;
};

// A pipe whose two ends are close-on-exec from creation.
class clPipe {
public:
    // Throws std::runtime_error "Pipe creation fail: Errno: N" when no pipe can be made.
    explicit clPipe(bool nonBlocking = false);
    ~clPipe();
    clPipe(const clPipe&) = delete;
    clPipe& operator=(const clPipe&) = delete;

    static std::shared_ptr<clPipe> newPipe() { return std::make_shared<clPipe>(false); }
    static std::shared_ptr<clPipe> newPipeNonBlocking() { return std::make_shared<clPipe>(true); }

    int fdRead() const { return fd[0]; }
    int fdWrite() const { return fd[1]; }
    bool canReadNow() const;
    bool canWriteNow() const;
    void closeRead();
    void closeWrite();
    void close();
    int detachReadFD();
    int detachWriteFD();
    // The detached end wrapped in a clFD; null for a closed end.
    std::shared_ptr<clFD> detachRead();
    std::shared_ptr<clFD> detachWrite();

private:
    int fd[2] = {-1, -1};
};

class clSignal {
public:
    // Null when the pipe cannot be made.
    static std::shared_ptr<clSignal> create();
    clSignal(const clSignal&) = delete;
    clSignal& operator=(const clSignal&) = delete;

    // The read end, for callers that poll it themselves; -1 once closed.
    int waitHandle() const;
    bool state() const;
    // true: writes one byte unless already set; false: drains. Nothing once closed.
    void setState(bool on);
    // True when the signal is (or becomes) set within ms milliseconds; 0xFFFFFFFF waits for ever.
    bool wait(uint32_t ms) const;
    bool wait() const { return wait(0xFFFFFFFFu); }
    // Waits for ever until one of the signals is set; the index of the first set one in the
    // list's order, -1 on failure. The signal is not cleared.
    static int waitFor(const std::vector<std::shared_ptr<clSignal>>& signals);
    void close();
    bool isOpen() const;
    // Clears FD_CLOEXEC on the read end, for a child that is meant to watch the signal.
    void makeWaitHandleInheritable();

private:
    clSignal() = default;
    std::shared_ptr<clPipe> pipe() const;

    // Any thread may close while others set or wait: the pipe is taken under the lock and
    // used outside it, so a waiter keeps its pipe alive until its wait ends.
    mutable std::mutex mLock;
    std::shared_ptr<clPipe> mPipe;
};
