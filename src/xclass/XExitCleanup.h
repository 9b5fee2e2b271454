// What the process must not leave behind when a signal tells it to end: its running children
// (ffmpeg, ffprobe) and its temporary files and folders. XWorkerProcess registers every child
// it starts until it has reaped or detached it; XTempFile, XTempFolder and XTempFolderScope
// register what they make for as long as they own it; other code registers the files it makes
// elsewhere (a temporary output beside its destination).
//
// InstallSignalHandlers makes SIGTERM, SIGINT and SIGHUP do no more in the handler than write
// the signal's number into a pipe. A thread of its own reads it, kills (SIGKILL, which also
// ends a stopped child) and reaps every registered child, removes every registered file and
// folder, and then ends the process by the same signal. From the start of that cleanup on it
// keeps the registry's lock: no child can be started and nothing registered can be made
// behind its back.
#pragma once

#include "xclass/XStr.h"

class XExitCleanup {
public:
    // Once per process, early in main. A SIGHUP that was ignored at start (nohup) stays
    // ignored. False when the pipe or the thread cannot be made.
    static bool InstallSignalHandlers();

    // Held around making something and registering it, so that the cleanup never falls
    // between the two. May be nested.
    class Section {
    public:
        Section();
        ~Section();
        Section(const Section&) = delete;
        Section& operator=(const Section&) = delete;
    };

    static void AddChild(int pid);
    static void RemoveChild(int pid);
    // Reaps a child that has ended (as waitid with WNOWAIT reported) under the lock and
    // forgets it. False when the cleanup reaped it first (or nobody could): status unknown.
    static bool ReapEnded(int pid, int* status);

    // A path counts once per registration: two owners of one name each remove their own.
    static void AddFile(const XStr& path);
    static void RemoveFile(const XStr& path);
    static void AddFolder(const XStr& path);
    static void RemoveFolder(const XStr& path);

    // Makes a file with make (which returns its path, empty on failure) and registers it, both
    // inside one Section.
    template <typename Make>
    static XStr MakeFile(Make make)
    {
        Section making;
        XStr path = make();
        if (!path.IsEmpty())
            AddFile(path);
        return path;
    }
};
