// One run of an external tool (ffprobe, ffmpeg, tar) from an argument list, never through a
// shell: standard input is /dev/null, standard output and error are collected on the calling
// thread, and a child that outlives its time is killed. Every question the media layer asks
// an outside program goes through here, so none of them can hang the caller.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "xclass/XList.h"
#include "xclass/XStr.h"

struct QKToolResult {
    bool started = false; // false: the program could not be started (startErrno tells why)
    int startErrno = 0;
    bool timedOut = false; // killed because it ran past its time
    bool tooLarge = false; // killed because its standard output passed the limit
    bool stopped = false;  // killed because the caller's stop test said so
    int exitCode = -1;     // -1 when a signal ended it or it was killed
    std::string out;       // standard output, whole (up to the limit)
    std::string err;       // the last bytes of standard error (up to its limit)

    // True when the program ran to its end by itself with exit code 0.
    bool succeeded() const { return started && !timedOut && !tooLarge && !stopped && exitCode == 0; }
    // The last non-empty line of standard error, decoded as UTF-8; empty when there is none.
    XStr lastErrorLine() const;
};

class QKToolRun {
public:
    // Runs args[0] (a path) with args. timeoutMs < 0 waits for ever. Standard output beyond
    // maxOut bytes kills the child; of standard error only the last maxErr bytes are kept.
    // stop, when given, is asked every few milliseconds while the child runs; true kills it.
    static QKToolResult run(const XStrList& args, int timeoutMs, size_t maxOut = 64u << 20, size_t maxErr = 16384,
                            const std::function<bool()>& stop = {});
    // As run, for a program not trusted yet: it runs in a process group of its own, and once
    // its output has ended (or its time is up) whatever is left of that group, the program
    // and anything it started, is killed.
    static QKToolResult runIsolated(const XStrList& args, int timeoutMs, size_t maxOut = 1u << 20);
    // A file name to pass as an argument: a relative one gets the working folder in front, so
    // that a child never reads it as an option ("-name") or a URL scheme ("name:") and it
    // survives a change of folder. Unchanged when the working folder cannot be had.
    static XStr absolutePath(const XStr& path);
};
