// Running a block later: on the main thread, on a background thread of its own, or after a
// delay on the calling thread. Every call returns at once.
#pragma once

#include "xclass/XBlockRunner.h"

using KitBlock = XBlock;

// Carries one block to where it runs; the runner keeps it alive until exec() has returned.
// The class library's carrier: the block property is atomic, and a block that throws loses
// that one call.
class _kwBlockExec : public _blockRef {
public:
    using _blockRef::_blockRef;

    // Calls the block once; the argument is ignored (kept for the perform mechanisms that
    // hand one over).
    void exec(const void* ignored = nullptr)
    {
        (void)ignored;
        _blockRef::exec();
    }
};

// Queued to the main thread, also when called there: it never runs inside this call.
void performBlockOnMainThread(KitBlock block);
// On a new background thread, one thread per call. False when no thread could be made (the
// block is then dropped unrun).
bool performBlockInBackground(KitBlock block);
// On the calling thread's Qt event loop once the delay (in seconds) has passed. The calling
// thread must run a Qt event loop (the main thread, or a QThread). A negative or NaN delay
// counts as 0; a delay longer than the timer can hold is cut to about 24 days.
void performBlock(KitBlock block, double delaySeconds);
void performAfterDelay(double delaySeconds, KitBlock block);
