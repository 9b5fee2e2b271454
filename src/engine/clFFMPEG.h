// One ffmpeg run: the command built from the sources, the destination and the batch's
// argument string, the child started from an argument list (never one text split again),
// its standard output and error read on two reader threads, the "-progress" file polled
// every 25 ms, and the outcome handed to the actions after a conversion.
//
// ffmpeg always writes a temporary file beside the destination; only a run that ended by
// itself with exit status 0, without an error line and without quit, and that wrote
// something, replaces the destination with it, in one rename. A run whose only error lines
// come from reading the input (a damaged frame) keeps its output when that output is whole,
// and is reported as converted with warnings. Any other run removes the
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

#include "engine/KRAFFmpegLog.h"
#include "engine/KRAProcessArg.h"
#include "engine/KRASpecialOutputs.h"
#include "xclass/XFile.h"
#include "xclass/XFileIdentity.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"
#include "xclass/XTempFile.h"
#include "xclass/XWorkerProcess.h"

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
    XFile* debugLog = nullptr; // the run's log, valid while active
    KRAFFmpegLog log;          // what ffmpeg's standard error said, judged when the run ends
    std::shared_ptr<KRAStatusCallback> callback;
    bool wantDuration = false; // the length comes from ffmpeg's own report of its input
    int64_t durationMS = -1;   // what that report said; -1: not yet
};

// Which sources a run of arg asks ffprobe about (none when its command needs nothing of
// them), and whether it wants ffprobe's whole answer for the first: what a batch reads ahead.
struct KRARunProbes {
    std::vector<XStr> paths;
    bool wantJSON = false;
};
KRARunProbes probesOfRun(const KRAProcessArg& arg);

// ---- The runner -------------------------------------------------------------------------------
class clFFMPEG {
public:
    XWorkerProcess Process;
    bool Killed = false;      // the run ended ffmpeg because quit was requested
    bool HadError = false;    // an error line was reported
    bool HadWarnings = false; // the output was kept although reading the input had errors
    KRAConversionOutcome Outcome = KRAConversionOutcome::Failed;
    int64_t LengthMS = 0; // total media length of the sources (0: unknown)
    double FrameRate = 0;
    XStr ProbeJSON; // ffprobe JSON of the first source
    XStr FirstSource;
    int64_t ExpectedFrames = 0; // non-zero: progress is counted in frames
    double FpsFactor = 1.0;
    KRAProcessArgRef Arg;
    XFile DebugLog;

    // What the run found and did, for callers and tests.
    bool OutputIsSource = false;     // the destination is one of the sources (same file)
    bool ChildEndedNormally = false; // exited by itself with status 0
    int ChildExitCode = -1;
    int ChildSignal = 0;
    XFileId Produced;        // the output this run moved into place (none: nothing was)
    XStrList ChildArguments; // the argument list ffmpeg was started with
    XStr CommandLineText;    // the command line shown as an info line

    clFFMPEG();
    virtual ~clFFMPEG();
    clFFMPEG(const clFFMPEG&) = delete;
    clFFMPEG& operator=(const clFFMPEG&) = delete;

    // Runs the conversion; true when it succeeded. All results also go to the callback and to
    // QKConvertProcessShared::conversionFinished, a run that failed before ffmpeg started
    // included (not when arg is null).
    bool run(const KRAProcessArgRef& arg);

protected:
    using SpecialValues = KRASpecialValues;

    void info(const XStr& line);
    void error(const XStr& line);
    void warning(const XStr& line);

private:
    // The run as a pipeline of stages that hand on one RunState. A stage that fails reports
    // why through fail() and the run ends there; run() hands every outcome to the actions
    // after a conversion.
    struct RunState;
    bool runInner(std::vector<XTempFile>& temporaryFiles);
    bool fail(const XStr& message);
    // The sources (HEIC images as PNG) and the destination; neither may be a non-regular file.
    bool collectSources(RunState& run, std::vector<XTempFile>& temporaryFiles);
    bool openProgressFile(RunState& run);
    // Our named arguments, taken out of the argument string.
    void pullNamedArguments(RunState& run);
    // Stream copy or not, a loop's repetitions, and the probe: before the command when the
    // command depends on it, else beside ffmpeg.
    bool planInputs(RunState& run);
    void applyProbe(RunState& run);
    void takeProbeWhenReady(RunState& run, bool wait);
    void addFadesTrimsAndFilters(RunState& run);
    // The destination's folder, whether it is a source, and the check for a second output.
    bool prepareDestination(RunState& run);
    // The temporary output beside the destination, behind a plain link when its name has a "%".
    // It is named "NAME.tmp-<XTempOwnedId>.EXT", so that a later start can tell the leftover of
    // a killed run from the output of one still running; the folder is tidied of such
    // leftovers before the run writes there.
    bool createOutput(RunState& run, std::vector<XTempFile>& temporaryFiles);
    // The argument list with its inputs: one file, a concatenation list, or a filter graph.
    bool buildCommand(RunState& run, std::vector<XTempFile>& temporaryFiles);
    bool addConcatList(RunState& run, std::vector<XTempFile>& temporaryFiles);
    bool addConcatFilter(RunState& run);
    // The inputs the arguments name ("-i"), after the sources.
    void addExtraInputs(RunState& run);
    // One complex filter graph of the picture filters and the overlays of the extra inputs.
    bool combineFilterGraphs(RunState& run);
    // False, with the reason, when an overlay has no picture input of its own.
    bool checkOverlayInputs(RunState& run, const std::vector<XStr>& graphs);
    bool startFFmpeg(RunState& run);
    void startReaders(RunState& run);
    // Up to one tick of the encoding loop, less when ffmpeg closes its output.
    void waitForOutputOrEnd();
    // The length ffmpeg reported of its input, once it has (runs without a probe).
    void takeReportedDuration(RunState& run);
    // The preview-generator and contact-sheet outputs: arguments appended, progress counted in
    // frames; a contact sheet's frames go to a folder of their own. False (with the reason
    // sent) ends the run as failed.
    bool prepareSpecialOutputs(RunState& run);
    // After ffmpeg has ended well: the contact sheet from its frames, written to the output.
    bool composeContactSheet(RunState& run);
    void encodingLoop(RunState& run);
    // Waits for the readers, decides the outcome, and on success moves the output into place.
    bool finish(RunState& run);
    // Whether an output whose input had errors is whole: a regular, non-empty file that
    // ffprobe reads, as long as expected; false with the reason sent.
    bool checkOutputOfDamagedInput(RunState& run);
    bool replaceDestination(RunState& run);

    void readProgress(int fd, int64_t& consumed, std::string& pending);
    bool reapIfExited();
    void killChildNow();
    void setStopped(bool stopped);

    int m_pid = 0;
    bool m_stopped = false;    // the child is held with SIGSTOP
    bool m_lengthKnown = true; // percent is counted from the time only once the length is known
    std::shared_ptr<pipeReadSync_t> m_sync;
};
