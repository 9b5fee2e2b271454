// Events and descriptor waits.
//
// Three layers, all on POSIX pipes and poll:
// - free functions that wait until one descriptor is readable or writable, read or write with
//   a time-out, and switch non-blocking and close-on-exec; XSelect, a select over three sets;
// - XEvent, a manual-reset event made of a pipe (or of a named FIFO in the temporary folder):
//   the stop event of every XThread, the work and idle events of the thread pool, the cancel
//   and wake-up events of the workers;
// - XMoveFileRetry, a file move that waits for a busy target and can be cancelled.
//
// An event is "set" exactly when at least one byte is readable from its read end. Time-outs
// are in milliseconds: -1 waits for ever, 0 only tests.
//
// Every descriptor made here is close-on-exec from its creation, so a child started from any
// thread at any moment inherits none of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <sys/time.h>

#include "xclass/XStr.h"

// ---- Descriptor waits --------------------------------------------------------------------

// seconds = ms / 1000, microseconds = (ms mod 1000) x 1000.
void XMsToTimeval(int ms, struct timeval* out);
// 1 when poll reports POLLIN, -1 when poll fails or reports POLLERR, 0 otherwise (time-out;
// a bare POLLHUP also gives 0).
int XWaitReadable(int fd, int timeoutMs);
// The same for POLLOUT.
int XWaitWritable(int fd, int timeoutMs);
// The events poll reports for fd, or POLLERR when poll fails.
int XPollEvents(int fd, short events, int timeoutMs);
// Zero-time poll: true when the events masked with POLLIN|POLLERR are exactly POLLIN.
bool XCanReadNow(int fd);
// The same with POLLOUT.
bool XCanWriteNow(int fd);
// Reads until length bytes have arrived, waiting up to timeoutMs before each read; stops at a
// failed wait, end of file or a read error. Returns the bytes read.
size_t XReadWithTimeout(int fd, void* buffer, size_t length, int timeoutMs);
// Writes until length bytes are out, the descriptor made non-blocking for the call (and
// restored afterwards when it was blocking). Returns the bytes written.
size_t XWriteWithTimeout(int fd, const void* data, size_t length, int timeoutMs);
// Set or clear O_NONBLOCK; the flags are written only when they change. False on failure.
bool XSetNonBlocking(int fd);
bool XClearNonBlocking(int fd);
// True when FD_CLOEXEC is not set.
bool XIsInheritable(int fd);
// Sets FD_CLOEXEC exactly when inheritable is false; writes only when it changes.
bool XSetInheritable(int fd, bool inheritable);
// pipe2 with O_CLOEXEC (and O_NONBLOCK on both ends when asked). False with errno set, and
// both entries -1, when no pipe could be made.
bool XMakePipe(int fd[2], bool nonBlocking);

// A select over three sorted sets of descriptors, built on poll. After a wait each set holds
// only the descriptors that poll reported for it (POLLIN, POLLOUT, POLLERR).
class XSelect {
public:
    std::set<int> ReadSet;
    std::set<int> WriteSet;
    std::set<int> ErrorSet;

    void AddRead(int fd) { ReadSet.insert(fd); }
    void AddWrite(int fd) { WriteSet.insert(fd); }
    void AddError(int fd) { ErrorSet.insert(fd); }
    bool IsReadable(int fd) const { return ReadSet.count(fd) != 0; }
    bool IsWritable(int fd) const { return WriteSet.count(fd) != 0; }
    bool HasError(int fd) const { return ErrorSet.count(fd) != 0; }
    void Clear();

    // poll's result: -1 error, 0 time-out, else the number of ready descriptors.
    int Wait(int timeoutMs);
    int WaitForever() { return Wait(-1); }
    int Poll() { return Wait(0); }
};

// ---- XEvent ------------------------------------------------------------------------------

// A manual-reset event on a pipe. Waiting never consumes the byte: a set event stays set until
// somebody clears it. Any thread may set, clear, test or wait; nothing is locked, the pipe is
// the synchronisation, and all ends are non-blocking so that threads block in poll only.
class XEvent {
public:
    int32_t fd[2];     // [0] read end, [1] write end; -1 = closed
    bool ExistsBefore; // the named FIFO already existed when it was opened

    // Null name: an unnamed pipe. A failed pipe or FIFO leaves both descriptors -1: check
    // IsOpen().
    explicit XEvent(const wchar_t* name = nullptr);
    // Copies share the pipe (both descriptors duplicated). A descriptor whose duplication
    // fails stays -1 and such a copy is unusable.
    XEvent(const XEvent& other);
    XEvent& operator=(const XEvent& other);
    ~XEvent();

    // Closes, then opens the pipe or the named FIFO. True when both ends are open.
    bool Assign(const wchar_t* name);
    void Close();
    bool IsOpen() const { return fd[0] != -1 && fd[1] != -1; }

    // Writes one byte unless the event is already set.
    void Set();
    // Drains every byte.
    void Clear();
    bool IsSet() const;
    // True when the event is (or becomes) set within the time-out; the byte is not consumed.
    bool WaitUntilSet(int timeoutMs) const;
    // Clears a set event, sets a clear one; true when it is now set.
    bool Toggle();
    // One wait over both read ends: 1 when this event is set (tested first), 2 when only the
    // other is, -1 when neither; the wait result itself when it is 0 (time-out) or negative.
    int WaitForEither(const XEvent& other, int timeoutMs) const;

    // Closes, then takes ownership of the descriptors (either may be -1) and makes them
    // non-blocking and close-on-exec.
    void Attach(int readFd, int writeFd);
    // The same with duplicates of the descriptors; the caller keeps its own.
    bool AttachDuplicates(int readFd, int writeFd);

    // The temporary folder + "event-" + name.
    static XStr GetNamedPath(const wchar_t* name);
    // Creates a new FIFO (mode 0600) and opens both ends; false when it exists already or
    // cannot be made.
    bool CreateNew(const wchar_t* name);
    // prefix + 32 random hexadecimal digits, created with CreateNew; the name, or an empty
    // string on failure.
    XStr CreateUnique(const wchar_t* prefix);
    static bool RemoveNamed(const wchar_t* name);

private:
    bool OpenNamed(const XStr& path);
};

// ---- File move with retry ------------------------------------------------------------------

// Moves from to to (XMoveFileEx), retrying every 10 ms while the move fails with EEXIST or
// EACCES. Any other error: false with errno kept. After timeoutMs: false with ETIMEDOUT. When
// cancelEvent is set during a wait: false with ECANCELED.
bool XMoveFileRetry(const XStr& from, const XStr& to, bool allowReplace, int timeoutMs, XEvent* cancelEvent = nullptr);
