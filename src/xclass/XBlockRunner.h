// Block runners and reader threads: the two ways work moves between threads.
//
// - Block runners run a block on the main thread without waiting (through the main-thread
//   poster of XMainQueue.h), or on a fresh detached background thread.
// - Reader threads read text lines from a descriptor on a detached thread: readLinesThread
//   hands each line to a callback (the conversion engine reads the standard output and error
//   of every ffmpeg this way), XOutputCollector gathers the non-empty lines into a locked list.
//
// A block or callback that throws loses that one call: the exception is caught on the thread
// that ran it, and a reader goes on reading to the end of its descriptor, so the writer of
// the pipe never blocks on a full pipe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "xclass/XCriticalSection.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

using XBlock = std::function<void()>;

// Carries a block to the thread that runs it. The runner keeps the _blockRef (and so the block
// and everything it captured) alive until exec() has returned.
class _blockRef {
public:
    _blockRef() = default;
    explicit _blockRef(XBlock block) : _block(std::move(block)) {}

    XBlock block() const;
    void setBlock(XBlock block);
    // Takes a copy of the block and calls it; an exception of the block is caught here.
    void exec();

private:
    mutable std::mutex _lock; // the property is atomic
    XBlock _block;
};

// Posts the block to the main thread and returns at once. Blocks run in the order they were
// posted; one posted from the main thread runs later, never inside this call.
void execBlockOnMainThread(XBlock block);
// Runs the block on a new detached thread. False when no thread could be made.
bool execBlockInBackground(XBlock block);
void execFunctionOnMainThread(const std::function<void()>& function);
bool execFunctionInBackground(const std::function<void()>& function);

// Starts a detached thread that reads lines from a duplicate of fd (the caller may close its
// own descriptor at once) and calls the callback with each, empty lines included, until end of
// file or an error. Lines end at LF, CR or CR LF; a UTF-8 byte-order mark at the start of a
// line is skipped; NUL bytes are dropped; the bytes are decoded as UTF-8 (losslessly).
// The callback runs on the reader thread and must do its own locking. The thread's copy of the
// callback is destroyed when the thread ends, releasing whatever it captured.
// False (nothing started, the callback's copy dropped) when fd cannot be duplicated or no
// thread could be made.
bool readLinesThread(int fd, std::function<void(XStr&)> callback);

// Gathers the non-empty lines of a descriptor into a list under a lock, on a detached thread
// that shares the state with this object and outlives it when the writer is still open.
class XOutputCollector {
public:
    struct State {
        XCriticalSection Lock;
        XStrList Lines;
        std::atomic<bool> Finished{false};
    };

    explicit XOutputCollector(int fd);
    XOutputCollector(const XOutputCollector&) = delete;
    XOutputCollector& operator=(const XOutputCollector&) = delete;

    // False when the thread could not be started (fd not duplicable, or no thread).
    bool IsStarted() const { return m_started; }
    // True once end of file has been read (or nothing was started).
    bool IsFinished() const;
    // A copy of the lines collected so far.
    XStrList GetLines() const;
    int64_t Count() const;
    // For readers that walk the list in place: hold Lock while doing so.
    const std::shared_ptr<State>& GetState() const { return m_state; }

private:
    std::shared_ptr<State> m_state;
    bool m_started = false;
};
