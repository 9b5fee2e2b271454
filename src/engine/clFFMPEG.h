// One ffmpeg run: the command built from the sources, the destination and the batch's
// argument string, the child started from an argument list (never one text split again),
// its standard output and error read on two reader threads, the "-progress" file polled
// every 25 ms, and the outcome handed to the actions after a conversion.
//
// ffmpeg always writes a temporary file beside the destination; only a run that ended by
// itself with exit status 0, without an error line and without quit, and that wrote
// something, replaces the destination with it, in one rename. Any other run removes the
// temporary file and leaves the destination and the sources as they were. Sources and
// destinations that are no regular files are refused before anything starts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/KRAProcessArg.h"
#include "xclass/XFile.h"
#include "xclass/XList.h"
#include "xclass/XTempFile.h"
#include "xclass/XStr.h"
#include "xclass/XWorkerProcess.h"

// ---- Argument text ------------------------------------------------------------------------
// An argument string read as elements ("-name value", "-name=value", "-name") with the words
// that belong to no element kept in their places, so that rewriting never drops text.
struct KRAArgItem {
    bool isElement = true;
    XStr name; // without the leading "-" (a second "-" dropped); the word itself for a plain word
    XStr value; // empty when the element has none
};

// Tokenises like XStrList::ParseArgs (blanks separate, double quotes group, a backslash takes
// the next character), then reads the elements.
std::vector<KRAArgItem> parseArgItems(const XStr& text);
// The items joined by one blank: "-name" and, when the value is not empty, a blank and the
// value; a value holding a blank or a comma is wrapped in double quotes, and every backslash
// and double quote is escaped, so parsing the text gives the same items back.
XStr writeArgItems(const std::vector<KRAArgItem>& items);
// The value written as above.
XStr quoteArgValue(const XStr& value);

// Removes every element called name (A-Z folded) from args, rewriting args, and returns
// their non-empty values joined by ", " (empty when absent).
XStr pullArgument(const wchar_t* name, XStr& args);
// args with every element called name replaced by one element at the place of the first,
// holding all their values joined by ", "; rewritten even when the name is absent.
XStr mergeArgument(const wchar_t* name, const XStr& args);

// The standard-error filter: trims blanks, drops the lines that are no errors (information and
// warnings by ffmpeg's level tag, known noise, empty lines), rewrites a known message. paths
// are the run's file names: text inside them never decides. True when the line (as changed)
// is to be reported as an error.
bool filterErrorLine(XStr& line, const std::vector<XStr>& paths = {});

// Whether ffmpeg reads the word after this option ("-name", "-name:stream") as its value.
bool ffmpegOptionTakesValue(const XStr& option);
// The first word of an option list that ffmpeg would take for one more output file: a word
// that is neither an option nor an option's value, a lone "-" (standard output), or the word
// after "--". None when every word is an option or a value.
std::optional<XStr> findOutputWord(const XStrList& tokens);

// Milliseconds as "h:mm:ss.mmm" (hours not padded); negative values as 0.
XStr formatTrimTime(int64_t ms);

// ---- The running children -------------------------------------------------------------------
// Every ffmpeg child that runs is in one process-wide set; when the process exits every child
// still in it is killed (SIGKILL), a stopped one included.
void addFFmpegChild(int pid);
void removeFFmpegChild(int pid);
bool isFFmpegChild(int pid);
void killChildProcessesAtExit();

// Shared by a run and its two reader threads: the readers report only while active, and the
// run learns when both have reached the end of their pipes.
struct pipeReadSync_t {
    std::mutex mutex;
    std::condition_variable readersDone;
    bool active = true;
    int openReaders = 0;
    bool hadError = false; // an error line passed the filter
    XFile* debugLog = nullptr; // the run's log, valid while active
    std::vector<XStr> paths; // the run's file names, for the error filter
    std::shared_ptr<KRAStatusCallback> callback;
};

// ---- The runner -------------------------------------------------------------------------------
class clFFMPEG {
public:
    XWorkerProcess Process;
    bool Killed = false; // the run ended ffmpeg because quit was requested
    bool HadError = false; // an error line was reported
    int64_t LengthMS = 0; // total media length of the sources (0: unknown)
    double FrameRate = 0;
    XStr ProbeJSON; // ffprobe JSON of the first source
    XStr FirstSource;
    int64_t ExpectedFrames = 0; // non-zero: progress is counted in frames
    double FpsFactor = 1.0;
    KRAProcessArgRef Arg;
    XFile DebugLog;

    // What the run found and did, for callers and tests.
    bool OutputIsSource = false; // the destination is one of the sources (same file)
    bool ChildEndedNormally = false; // exited by itself with status 0
    int ChildExitCode = -1;
    int ChildSignal = 0;
    XStrList ChildArguments; // the argument list ffmpeg was started with
    XStr CommandLineText; // the command line shown as an info line

    clFFMPEG();
    virtual ~clFFMPEG();
    clFFMPEG(const clFFMPEG&) = delete;
    clFFMPEG& operator=(const clFFMPEG&) = delete;

    // Runs the conversion; true when it succeeded. All results also go to the callback and to
    // QKConvertProcessShared::conversionFinished (not when no ffmpeg could be started).
    bool run(const KRAProcessArgRef& arg);

protected:
    // The preview-generator and contact-sheet outputs. Their named arguments have been pulled
    // from args already (values given here); an implementation may append to args, change the
    // output and set ExpectedFrames and FpsFactor. False ends the run as failed; the message
    // has been sent. This build has neither output yet and refuses a run that asks for one.
    struct SpecialValues {
        XStr prevGenEncNset, prevGenUfe, prevGenGfe, prevGenGtf, prevGenInputval, prevGenFirstdelay;
        XStr contactCol, contactRow, contactPng, contactJpeg, contactWidth, contactBackcol, contactTopinfo,
            contactTimestamp, contactPadding;
    };
    virtual bool prepareSpecialOutputs(const SpecialValues& values, XStr& args);
    // After ffmpeg has ended: composes what prepareSpecialOutputs set up.
    virtual void composeSpecialOutputs(const SpecialValues& values) { (void)values; }

    void info(const XStr& line);
    void error(const XStr& line);

private:
    bool runInner(std::vector<XTempFile>& temporaryFiles);
    void readProgress(int fd, int64_t& consumed, std::string& pending);
    bool reapIfExited();
    void killChildNow();
    void setStopped(bool stopped);

    int m_pid = 0;
    bool m_stopped = false; // the child is held with SIGSTOP
    bool m_lengthKnown = true; // percent is counted from the time only once the length is known
    std::shared_ptr<pipeReadSync_t> m_sync;
};
