#include "engine/clFFMPEG.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "engine/KRAArgText.h"
#include "engine/KRAOutputGuard.h"
#include "engine/KRAProcess.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKDebugLog.h"
#include "job/QKElemValueList.h"
#include "media/FFprobeInfo.h"
#include "media/QKLocateFFmpeg.h"
#include "media/QKMediaFileInfo.h"
#include "media/QKMediaInfoStore.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XBlockRunner.h"
#include "xclass/XCriticalSection.h"
#include "xclass/XExitCleanup.h"
#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"
#include "xclass/XTempFile.h"

// ---- The running children -------------------------------------------------------------------

namespace {

struct ChildSet {
    XCriticalSection lock;
    std::set<int> pids;
};

ChildSet& Children()
{
    // Never destroyed: the exit handler may run after static destructors have begun.
    static ChildSet* set = [] {
        auto* made = new ChildSet;
        std::atexit(killChildProcessesAtExit);
        return made;
    }();
    return *set;
}

// Registers the exit handler at start-up rather than with the first child.
const bool g_childSetReady = (Children(), true);

} // namespace

void addFFmpegChild(int pid)
{
    ChildSet& set = Children();
    set.lock.Lock();
    set.pids.insert(pid);
    set.lock.Unlock();
}

void removeFFmpegChild(int pid)
{
    ChildSet& set = Children();
    set.lock.Lock();
    set.pids.erase(pid);
    set.lock.Unlock();
}

bool isFFmpegChild(int pid)
{
    ChildSet& set = Children();
    set.lock.Lock();
    const bool found = set.pids.count(pid) != 0;
    set.lock.Unlock();
    return found;
}

void killChildProcessesAtExit()
{
    ChildSet& set = Children();
    set.lock.Lock();
    std::set<int> pids;
    pids.swap(set.pids);
    set.lock.Unlock();
    for (int pid : pids) {
        if (pid > 0)
            ::kill(pid, SIGKILL);
    }
}

// ---- The runner -------------------------------------------------------------------------------

namespace {

// Holds a reader's share of the sync object; when the reader thread has read its pipe to the
// end and drops its callback, this tells the run.
struct ReaderToken {
    std::shared_ptr<pipeReadSync_t> sync;
    explicit ReaderToken(std::shared_ptr<pipeReadSync_t> s) : sync(std::move(s)) {}
    ~ReaderToken()
    {
        std::lock_guard<std::mutex> lock(sync->mutex);
        --sync->openReaders;
        sync->readersDone.notify_all();
    }
};

QString Q(const XStr& text)
{
    return XStrToQString(text);
}

bool CountsAsValue(const XStr& value)
{
    return !value.IsEmpty() && !(value == L"0");
}

// The extension of a path's file name with its dot; empty when the name has none.
XStr ExtensionOf(const XStr& path)
{
    const int slash = path.ReverseFindChar(L'/');
    const int dot = path.ReverseFindChar(L'.');
    if (dot <= slash + 1) // none, or the name begins with it
        return XStr();
    return path.MidToEnd(dot);
}

// A path ffmpeg reads as a file whatever it holds: absolute paths as they are, others
// behind "file:" so that no "name:" part is taken for a protocol.
XStr FileArgument(const XStr& path)
{
    if (path.BeginsWith(L"/"))
        return path;
    return XStr(L"file:") + path;
}

bool StatPath(const XStr& path, struct stat& st)
{
    XStr copy = path;
    return ::stat(copy.UTF8(), &st) == 0;
}

// Makes an empty file beside dest, named after it with ".tmp-" and the id of this process
// before its extension, never over an existing file, with the permission bits of mode (less
// the umask). The id lets a later run remove what a killed one left in that folder, which it
// does here. Empty on failure.
XStr MakeTemporaryOutput(const XStr& dest, mode_t mode)
{
    const XStr ext = ExtensionOf(dest);
    const XStr stem = ext.IsEmpty() ? dest : dest.Mid(1, dest.Length() - ext.Length());
    XRemoveStaleTemporariesSoon(XFileName(dest).GetFolder());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        XStr name = stem + L".tmp-" + XTempOwnedId();
        name += ext;
        const std::string bytes = name.ToUTF8String();
        const int fd = ::open(bytes.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            return XStr();
    }
    return XStr();
}

// A link with a plain name in the temporary folder, pointing at target, for ffmpeg to open
// instead of a name it would read as something else; extension (".png") keeps the format
// ffmpeg guesses from the name. False when none can be made.
bool MakePlainLink(const XStr& target, const XStr& extension, XTempFile& link)
{
    XStr plain;
    for (wchar_t c : extension.View()) {
        if (!(c == L'.' || c == L'_' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') ||
              (c >= L'A' && c <= L'Z'))) {
            plain = XStr();
            break;
        }
        plain.CatChar(c);
    }
    if (!link.Create("qkl", plain.IsEmpty() ? nullptr : plain.ToUTF8String().c_str()))
        return false;
    const std::string linkBytes = link.ToUTF8String();
    ::unlink(linkBytes.c_str());
    return ::symlink(target.ToUTF8String().c_str(), linkBytes.c_str()) == 0;
}

// A path that exists and is no regular file (a device, a pipe, a socket, a folder): ffmpeg
// would block on it or write into it, and replacing it would destroy it.
bool ExistsAndIsNotRegular(const XStr& path)
{
    struct stat st;
    return StatPath(path, st) && !S_ISREG(st.st_mode);
}

void AppendText(XStr& args, const XStr& text)
{
    if (!args.IsEmpty() && !text.IsEmpty())
        args += L" ";
    args += text;
}

} // namespace

clFFMPEG::clFFMPEG() = default;

clFFMPEG::~clFFMPEG()
{
    if (m_sync) {
        std::lock_guard<std::mutex> lock(m_sync->mutex);
        m_sync->active = false;
        m_sync->debugLog = nullptr;
    }
    if (m_pid != 0)
        killChildNow();
}

void clFFMPEG::info(const XStr& line)
{
    if (Arg && Arg->callback)
        Arg->callback->onInfoLine(Q(line));
}

void clFFMPEG::error(const XStr& line)
{
    if (Arg && Arg->callback)
        Arg->callback->onErrorLine(Q(line));
}

void clFFMPEG::warning(const XStr& line)
{
    if (Arg && Arg->callback)
        Arg->callback->onWarningLine(Q(line));
}

bool clFFMPEG::reapIfExited()
{
    if (m_pid == 0)
        return true;
    // The set's lock is held from the reaping to the removal, so the exit handler never
    // signals a process id that is already free for reuse.
    ChildSet& set = Children();
    set.lock.Lock();
    const bool exited = Process.HasExited();
    if (exited) {
        set.pids.erase(m_pid);
        ChildExitCode = Process.ExitCode();
        ChildSignal = Process.ExitSignal();
        ChildEndedNormally = !Process.ExitedBySignal() && Process.ExitCode() == 0;
        m_pid = 0;
        m_stopped = false;
    }
    set.lock.Unlock();
    return exited;
}

void clFFMPEG::killChildNow()
{
    if (m_pid == 0)
        return;
    ChildSet& set = Children();
    set.lock.Lock();
    if (!Process.HasExited()) {
        if (m_stopped)
            Process.Kill(SIGCONT);
        Process.Kill(SIGKILL);
        Process.Close(-1);
        ChildEndedNormally = false;
        ChildExitCode = -1;
        ChildSignal = SIGKILL;
    } else {
        ChildExitCode = Process.ExitCode();
        ChildSignal = Process.ExitSignal();
        ChildEndedNormally = !Process.ExitedBySignal() && Process.ExitCode() == 0;
    }
    set.pids.erase(m_pid);
    m_pid = 0;
    m_stopped = false;
    set.lock.Unlock();
}

void clFFMPEG::setStopped(bool stopped)
{
    if (m_pid == 0 || stopped == m_stopped)
        return;
    if (Process.Kill(stopped ? SIGSTOP : SIGCONT))
        m_stopped = stopped;
}

void clFFMPEG::readProgress(int fd, int64_t& consumed, std::string& pending)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size <= consumed)
        return;
    const int64_t want = st.st_size - consumed;
    std::string chunk(static_cast<size_t>(want), '\0');
    const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), consumed);
    if (got != want)
        return; // read again on the next round
    consumed = st.st_size;
    pending += chunk;
    size_t begin = 0;
    for (;;) {
        const size_t end = pending.find('\n', begin);
        if (end == std::string::npos)
            break;
        std::string raw = pending.substr(begin, end - begin);
        begin = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const XStr line = XStr::FromAnsiData(raw.data(), raw.size());
        KRAStatusCallback* cb = Arg && Arg->callback ? Arg->callback.get() : nullptr;
        if (!cb)
            continue;
        if (ExpectedFrames != 0) {
            if (line.BeginsWith(L"frame=")) {
                const int64_t v = line.MidToEnd(7).ToLong();
                int64_t percent = v * 100 / ExpectedFrames;
                cb->onPercentDone(static_cast<int>(percent > 100 ? 100 : percent));
            }
        } else if (m_lengthKnown && line.BeginsWith(L"out_time_ms=")) {
            const int64_t v = line.MidToEnd(13).ToLong(); // microseconds
            if (v >= -999 && LengthMS >= 0) {
                const int64_t divisor = LengthMS == 0 ? 1 : LengthMS;
                int64_t percent = (v / 1000) * 100 / divisor;
                cb->onPercentDone(static_cast<int>(percent > 100 ? 100 : percent));
            }
        }
        if (line.BeginsWith(L"fps="))
            cb->onFPS(XStrToDouble(line.MidToEnd(5)) * FpsFactor);
    }
    pending.erase(0, begin);
}

bool clFFMPEG::run(const KRAProcessArgRef& arg)
{
    Arg = arg;
    if (!arg)
        return false;
    // Temporary images and links live until the run has ended.
    std::vector<XTempFile> temporaryFiles;
    const bool success = runInner(temporaryFiles);
    if (Killed || (arg->events && arg->events->bEvtQuit()))
        Outcome = KRAConversionOutcome::Stopped;
    else if (!success)
        Outcome = KRAConversionOutcome::Failed;
    else
        Outcome = HadWarnings ? KRAConversionOutcome::ConvertedWithWarnings : KRAConversionOutcome::Converted;
    if (arg->callback)
        arg->callback->onOutcome(Outcome);
    // Whatever ended the run, the actions after a conversion hear of it.
    QKConvertProcessShared::conversionFinished(*arg, success, &Produced,
                                               Outcome == KRAConversionOutcome::ConvertedWithWarnings);
    return success;
}

// ---- The run's stages -------------------------------------------------------------------------

namespace {

// What ffprobe told about the sources.
struct ProbeResult {
    std::vector<int64_t> lengths;
    // What each source holds; a source ffprobe could not read is taken to hold both.
    std::vector<bool> hasVideo, hasAudio;
    int64_t total = 0;
    double frameRate = 0;
    XStr json;
};

// The length of each source, the first frame rate and, when asked, the first source's JSON.
// What the destination check, the tables or a batch's look ahead learned of a file that has
// not changed since is taken as it is: a source is probed at most once.
ProbeResult ProbeSources(const KRAProcessEventsRef& events, const std::vector<XStr>& paths, bool wantJSON)
{
    ProbeResult result;
    const auto quit = [&events] { return events && events->bEvtQuit(); }; // ends a slow probe at once
    for (size_t i = 0; i < paths.size(); ++i) {
        const QKMediaInfoStore::Found found = QKMediaInfoStore::read(paths[i], nullptr, quit, wantJSON && i == 0);
        const bool read = found.info != nullptr;
        const uint64_t duration = read ? found.info->lengthMS() : 0;
        const FFprobeStreams streams = read ? found.info->streams() : FFprobeStreams();
        result.lengths.push_back(static_cast<int64_t>(duration));
        result.hasVideo.push_back(!read || streams.hasVideo);
        result.hasAudio.push_back(!read || streams.hasAudio);
        result.total += static_cast<int64_t>(duration);
        if (result.frameRate == 0)
            result.frameRate = streams.frameRate;
        if (i == 0 && found.json)
            result.json = XStr::FromUTF8Bytes(found.json->data(), found.json->size());
    }
    return result;
}

// A probe running beside ffmpeg; whatever way the run ends, it has finished before the run
// returns.
struct BackgroundProbe {
    std::future<ProbeResult> future;
    BackgroundProbe() = default;
    BackgroundProbe(const BackgroundProbe&) = delete;
    BackgroundProbe& operator=(const BackgroundProbe&) = delete;
    ~BackgroundProbe()
    {
        if (future.valid())
            future.wait();
    }
};

// The file ffmpeg writes its progress into, and a descriptor reading it as it grows.
struct ProgressFile {
    XTempFile file;
    int fd = -1;
    ProgressFile() = default;
    ProgressFile(const ProgressFile&) = delete;
    ProgressFile& operator=(const ProgressFile&) = delete;
    ~ProgressFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The temporary output beside the destination. Registered for the removal at a signal while
// it exists; removed when the run ends unless it has replaced the destination.
struct TemporaryOutput {
    XStr path;           // empty until made
    bool pending = true; // not moved over the destination (yet)
    TemporaryOutput() = default;
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    ~TemporaryOutput()
    {
        if (path.IsEmpty())
            return;
        if (pending)
            XDeleteFile(path);
        XExitCleanup::RemoveFile(path);
    }
};

// The named arguments of ours that shape the output (ffmpeg never sees them).
struct Effects {
    XStr fadeIn, fadeOut, aFadeIn, aFadeOut, trimStart, trimEnd;
};

// Whether the arguments copy a stream rather than encode it.
bool IsStreamCopy(const XStr& args)
{
    const QKElemValueList elements(XStrToQString(args));
    auto valueOf = [&](const char* a, const char* b) {
        const std::optional<QString> v = elements.findValue(QString::fromLatin1(a));
        return v ? *v : elements.findValue(QString::fromLatin1(b), QString());
    };
    const QString acodec = valueOf("acodec", "codec:a");
    const QString vcodec = valueOf("vcodec", "codec:v");
    return acodec.compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0 ||
           vcodec.compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0;
}

std::wstring Wide(const XStr& text)
{
    return text.p ? std::wstring(text.p) : std::wstring();
}

// The filters of one filter chain ("a=1, b='x,y'") apart, blanks around them taken off; a
// comma inside quotes or brackets belongs to its filter.
std::vector<std::wstring> ChainFilters(const XStr& chain)
{
    std::vector<std::wstring> filters;
    std::wstring current;
    wchar_t quote = 0;
    int depth = 0;
    const auto flush = [&] {
        const size_t first = current.find_first_not_of(L' ');
        const size_t last = current.find_last_not_of(L' ');
        if (first != std::wstring::npos)
            filters.push_back(current.substr(first, last - first + 1));
        current.clear();
    };
    for (const wchar_t c : Wide(chain)) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == L'\'' || c == L'"') {
            quote = c;
        } else if (c == L'[') {
            ++depth;
        } else if (c == L']') {
            --depth;
        } else if ((c == L',' || c == L';') && depth <= 0) {
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return filters;
}

// A decimal number filling the whole text; nullopt for anything else.
std::optional<double> WholeNumber(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    wchar_t* end = nullptr;
    const double value = std::wcstod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// How much longer than its input a filter makes a stream: what the speed effect writes
// ("setpts='2.000000*PTS'", also "PTS*2" and "PTS/2") and "atempo=2" (half as long); 1 for
// every other filter.
double FilterLengthFactor(const std::wstring& filter)
{
    const size_t equals = filter.find(L'=');
    if (equals == std::wstring::npos)
        return 1;
    const std::wstring name = filter.substr(0, equals);
    std::wstring value;
    for (const wchar_t c : filter.substr(equals + 1)) {
        if (c != L'\'' && c != L'"' && c != L' ')
            value += c;
    }
    if (name == L"setpts" || name == L"asetpts") {
        if (value.rfind(L"expr=", 0) == 0)
            value.erase(0, 5);
        std::optional<double> factor;
        if (value.size() > 4 && value.compare(value.size() - 4, 4, L"*PTS") == 0)
            factor = WholeNumber(value.substr(0, value.size() - 4));
        else if (value.rfind(L"PTS*", 0) == 0)
            factor = WholeNumber(value.substr(4));
        else if (value.rfind(L"PTS/", 0) == 0) {
            const std::optional<double> divisor = WholeNumber(value.substr(4));
            if (divisor && *divisor > 0)
                factor = 1.0 / *divisor;
        }
        return factor && *factor > 0 ? *factor : 1;
    }
    if (name == L"atempo") {
        if (value.rfind(L"tempo=", 0) == 0)
            value.erase(0, 6);
        const std::optional<double> tempo = WholeNumber(value);
        return tempo && *tempo > 0 ? 1.0 / *tempo : 1;
    }
    return 1;
}

double ChainLengthFactor(const XStr& chain)
{
    double factor = 1;
    for (const std::wstring& filter : ChainFilters(chain))
        factor *= FilterLengthFactor(filter);
    return factor;
}

// An ffmpeg time ("[-][HH:]MM:SS[.m...]", or seconds with an optional "s", "ms" or "us") in
// milliseconds; -1 when it does not read.
int64_t TimeValueMS(const XStr& text)
{
    std::wstring value = Wide(text);
    double unit = 1000;
    const auto endsWith = [&](const wchar_t* suffix) {
        const size_t n = wcslen(suffix);
        return value.size() > n && value.compare(value.size() - n, n, suffix) == 0;
    };
    if (value.find(L':') == std::wstring::npos) {
        if (endsWith(L"ms")) {
            value.resize(value.size() - 2);
            unit = 1;
        } else if (endsWith(L"us")) {
            value.resize(value.size() - 2);
            unit = 0.001;
        } else if (endsWith(L"s")) {
            value.pop_back();
        }
        const std::optional<double> number = WholeNumber(value);
        return number && *number >= 0 ? static_cast<int64_t>(std::llround(*number * unit)) : -1;
    }
    double seconds = 0;
    size_t begin = 0;
    for (int part = 0;; ++part) {
        const size_t colon = value.find(L':', begin);
        const std::wstring piece =
            value.substr(begin, colon == std::wstring::npos ? std::wstring::npos : colon - begin);
        const std::optional<double> number = WholeNumber(piece);
        if (!number || *number < 0 || part > 2)
            return -1;
        seconds = seconds * 60 + *number;
        if (colon == std::wstring::npos)
            break;
        begin = colon + 1;
    }
    return static_cast<int64_t>(std::llround(seconds * 1000));
}

// The named time value in milliseconds ("1.5" seconds); 0 when empty.
int64_t SecondsValueMS(const XStr& value)
{
    return value.IsEmpty() ? 0 : static_cast<int64_t>(std::llround(XStrToDouble(value) * 1000.0));
}

// Where the output's streams lie on the timeline the filters give them: the picture and the
// sound each last as long as the sources times what the filters make of their length; the
// output's "-ss", "-to" and "-t" then keep a part of that timeline. A fade in begins where
// the part kept begins and a fade out ends where that stream ends in it.
struct OutputTimeline {
    double videoFactor = 1, audioFactor = 1;
    bool trimmed = false;
    int64_t trimStartMS = 0, trimEndMS = -1; // -1: no end trimmed
    int64_t startMS = 0;                     // "-ss" of the arguments
    int64_t lengthMS = -1;                   // "-t"; -1: none
    int64_t toMS = -1;                       // "-to"; -1: none

    // The length of the output before any part of it is kept; 0 when unknown.
    int64_t untrimmedMS(int64_t sourcesMS, bool video, bool audio) const
    {
        double longest = 0;
        if (video)
            longest = std::max(longest, videoFactor * static_cast<double>(sourcesMS));
        if (audio)
            longest = std::max(longest, audioFactor * static_cast<double>(sourcesMS));
        return static_cast<int64_t>(std::llround(longest));
    }
    // The trim's end on the output's timeline; -1 when there is none (or no length to count from).
    int64_t trimToMS(int64_t sourcesMS, bool video, bool audio) const
    {
        const int64_t untrimmed = untrimmedMS(sourcesMS, video, audio);
        if (!trimmed || (trimEndMS < 0 && untrimmed <= 0))
            return -1;
        return std::max<int64_t>(0, untrimmed - std::max<int64_t>(0, trimEndMS));
    }
    int64_t keptStartMS() const { return trimmed ? trimStartMS : startMS; }
    // Where the part kept ends; -1 when the arguments do not say.
    int64_t keptEndMS(int64_t sourcesMS, bool video, bool audio) const
    {
        const int64_t start = keptStartMS();
        if (lengthMS >= 0)
            return start + lengthMS; // ffmpeg prefers "-t" to "-to"
        if (trimmed)
            return trimToMS(sourcesMS, video, audio);
        return toMS;
    }
    // Where a stream of the given factor ends in the output; -1 when unknown.
    int64_t streamEndMS(double factor, int64_t sourcesMS, bool video, bool audio) const
    {
        const int64_t natural = sourcesMS > 0 ? static_cast<int64_t>(std::llround(factor * double(sourcesMS))) : -1;
        const int64_t end = keptEndMS(sourcesMS, video, audio);
        if (natural < 0)
            return end;
        return end < 0 ? natural : std::min(natural, end);
    }
    // The output's length; -1 when unknown.
    int64_t outputMS(int64_t sourcesMS, bool video, bool audio) const
    {
        int64_t end = keptEndMS(sourcesMS, video, audio);
        const int64_t untrimmed = untrimmedMS(sourcesMS, video, audio);
        if (untrimmed > 0)
            end = end < 0 ? untrimmed : std::min(end, untrimmed);
        if (end < 0)
            return -1;
        return std::max<int64_t>(0, end - keptStartMS());
    }
};

// The timeline of args (filters merged, our named arguments pulled) and our trim.
OutputTimeline TimelineOf(const XStr& args, const Effects& effects)
{
    OutputTimeline timeline;
    for (const KRAArgItem& item : parseArgItems(args)) {
        if (!item.isElement)
            continue;
        if (item.name == L"vf" || item.name == L"filter:v")
            timeline.videoFactor *= ChainLengthFactor(item.value);
        else if (item.name == L"af" || item.name == L"filter:a")
            timeline.audioFactor *= ChainLengthFactor(item.value);
        else if (item.name == L"ss")
            timeline.startMS = std::max<int64_t>(0, TimeValueMS(item.value));
        else if (item.name == L"t")
            timeline.lengthMS = TimeValueMS(item.value);
        else if (item.name == L"to")
            timeline.toMS = TimeValueMS(item.value);
    }
    timeline.trimmed = !effects.trimStart.IsEmpty() || !effects.trimEnd.IsEmpty();
    timeline.trimStartMS = std::max<int64_t>(0, SecondsValueMS(effects.trimStart));
    timeline.trimEndMS = effects.trimEnd.IsEmpty() ? -1 : std::max<int64_t>(0, SecondsValueMS(effects.trimEnd));
    return timeline;
}

XStr Seconds(int64_t ms)
{
    return XStr::FromDouble(static_cast<double>(std::max<int64_t>(0, ms)) / 1000.0, 3, false);
}

// The fades of one stream ("fade" or "afade") as a filter chain, on the output's timeline;
// empty when there is none. A fade out needs the stream's end: without it, there is none.
// frameMS: the time between two of the stream's frames (0 for sound). The first frame kept
// after a start may lie up to one frame past it, and the last one kept before an end up to two
// frames before it: the fade in begins, and the fade out is complete, on those.
XStr FadeChain(const wchar_t* filter, const XStr& fadeIn, const XStr& fadeOut, int64_t startMS, int64_t endMS,
               int64_t frameMS)
{
    XStr chain;
    if (CountsAsValue(fadeIn)) {
        chain = XStr(filter) + L"=type=in:duration=" + Seconds(SecondsValueMS(fadeIn));
        if (startMS > 0)
            chain += XStr(L":start_time=") + Seconds(startMS + frameMS);
    }
    if (CountsAsValue(fadeOut) && endMS > 0) {
        const int64_t duration = SecondsValueMS(fadeOut);
        if (!chain.IsEmpty())
            chain += L", ";
        chain += XStr(filter) + L"=type=out:duration=" + Seconds(duration) + L":start_time=" +
                 Seconds(endMS - 2 * frameMS - duration);
    }
    return chain;
}

// args with every video filter in one -vf and every audio filter in one -af.
XStr MergeFilters(const XStr& args)
{
    std::vector<KRAArgItem> items = parseArgItems(args);
    for (KRAArgItem& item : items) {
        if (item.isElement && item.name == L"filter:v")
            item.name = XStr(L"vf");
        else if (item.isElement && item.name == L"filter:a")
            item.name = XStr(L"af");
    }
    return mergeArgument(L"af", mergeArgument(L"vf", writeArgItems(items)));
}

// The length an explicit duration "-t h:m:s" gives the output; -1 when there is none.
int64_t ExplicitLengthMS(const XStr& args)
{
    for (const KRAArgItem& item : parseArgItems(args)) {
        if (item.isElement && item.name == L"t" && !item.value.IsEmpty()) {
            XStrList parts(item.value, L":");
            if (parts.Count() == 3)
                return (parts[0].ToLong() * 3600 + parts[1].ToLong() * 60 + parts[2].ToLong()) * 1000;
            return -1;
        }
    }
    return -1;
}

// The filter graph joining count inputs: each input's video and audio through vf and af,
// silence as long as the input for one without sound, then the concat filter giving "[v]"
// and "[a]".
XStr ConcatGraph(size_t count, const XStr& vf, const XStr& af, bool joinVideo, bool joinAudio,
                 const std::vector<bool>& hasAudio, const std::vector<int64_t>& lengths)
{
    XStr graph;
    for (size_t i = 0; i < count; ++i) {
        const XStr n = XStr::FromULong(i);
        if (joinVideo && !vf.IsEmpty())
            graph += XStr(L"[") + n + L":v]" + vf + L"[" + n + L"v];";
        if (joinAudio && !hasAudio[i])
            graph += XStr(L"anullsrc=r=48000:cl=stereo:d=") +
                     XStr::FromDouble(static_cast<double>(lengths[i]) / 1000.0, 3, false) + L"[" + n + L"a];";
        else if (joinAudio && !af.IsEmpty())
            graph += XStr(L"[") + n + L":a]" + af + L"[" + n + L"a];";
    }
    for (size_t j = 0; j < count; ++j) {
        const XStr n = XStr::FromULong(j);
        if (joinVideo)
            graph += vf.IsEmpty() ? XStr(L"[") + n + L":v]" : XStr(L"[") + n + L"v]";
        if (joinAudio)
            graph += af.IsEmpty() && hasAudio[j] ? XStr(L"[") + n + L":a]" : XStr(L"[") + n + L"a]";
    }
    graph += XStr(L" concat=n=") + XStr::FromULong(count) + L":v=" + (joinVideo ? L"1" : L"0") + L":a=" +
             (joinAudio ? L"1" : L"0") + (joinVideo ? L"[v]" : L"") + (joinAudio ? L"[a]" : L"");
    return graph;
}

// The length in "  Duration: 00:01:05.25, start: ..." of ffmpeg's report of an input; -1 for
// any other line, and for "Duration: N/A".
int64_t ReportedDurationMS(const XStr& line)
{
    const int at = line.Find(L"Duration: "); // positions count from 1; 0: absent
    if (at <= 0)
        return -1;
    const XStr rest = line.MidToEnd(at + 10);
    const int comma = rest.FindChar(L',');
    const XStrList parts(comma > 0 ? rest.Left(comma - 1) : rest, L":");
    if (parts.Count() != 3)
        return -1;
    for (int64_t i = 0; i < 3; ++i) {
        if (parts[i].IsEmpty() || !iswdigit(parts[i][0]))
            return -1;
    }
    const double seconds = XStrToDouble(parts[2]);
    return (parts[0].ToLong() * 3600 + parts[1].ToLong() * 60) * 1000 + static_cast<int64_t>(seconds * 1000.0 + 0.5);
}

// Appends to graph the overlays of the effects ("overlay=X:Y", without labels of their own),
// as many as there are picture inputs of their own (input indexes from firstInput on), each
// laid over what came before, starting at videoLabel. The overlays used leave the list, those
// of another form stay. tail (a filter chain) follows the last. Returns the label of the last
// (none when labelLast is false: the output then goes to the file by itself).
XStr AppendOverlays(XStr& graph, XStr videoLabel, std::vector<XStr>& overlays, size_t firstInput, size_t inputs,
                    bool labelLast, const XStr& tail = XStr())
{
    std::vector<XStr> used, others;
    for (XStr& overlay : overlays) {
        if (overlay.BeginsWith(L"overlay") && used.size() < inputs)
            used.push_back(std::move(overlay));
        else
            others.push_back(std::move(overlay));
    }
    overlays = std::move(others);
    for (size_t n = 0; n < used.size(); ++n) {
        const bool last = n + 1 == used.size();
        const XStr label = last && !labelLast ? XStr() : XStr(L"[marvoni_ov") + XStr::FromULong(n) + L"]";
        if (!graph.IsEmpty())
            graph += L";";
        graph += videoLabel + L"[" + XStr::FromULong(firstInput + n) + L":v]" + used[n] +
                 (last && !tail.IsEmpty() ? XStr(L", ") + tail : XStr()) + label;
        videoLabel = label;
    }
    return videoLabel;
}

// args with chain added at the end of its filter chain called name ("vf", "af").
XStr AddToChain(const wchar_t* name, XStr args, const XStr& chain)
{
    if (chain.IsEmpty())
        return args;
    AppendText(args, XStr(L"-") + name + L" " + quoteArgValue(chain));
    return mergeArgument(name, args);
}

// Filters that leave the picture's size as it is: a crop after them gets the source's size.
bool KeepsPictureSize(const std::wstring& filter)
{
    static const wchar_t* const kSizeKeeping[] = {L"fade",   L"setpts",   L"reverse",     L"fps",        L"framerate",
                                                  L"hue",    L"eq",       L"yadif",       L"hqdn3d",     L"unsharp",
                                                  L"format", L"null",     L"colorlevels", L"curves",     L"vflip",
                                                  L"hflip",  L"dctdnoiz", L"owdenoise",   L"atadenoise", L"nlmeans"};
    const std::wstring name = filter.substr(0, filter.find(L'='));
    return std::any_of(std::begin(kSizeKeeping), std::end(kSizeKeeping),
                       [&](const wchar_t* known) { return name == known; });
}

// ffmpeg's "[Parsed_crop_N @ 0x..] [error] Invalid too big or non positive size for width 'W' or
// height 'H'" in plain words: which crop (its place from the picture's filter chain when the
// command has one), and the picture's size when nothing before the crop changes it. Empty when
// no crop failed so.
XStr CropTooLargeMessage(const std::vector<XStr>& lines, const XStr& videoChain, const XStr& source,
                         const KRAProcessEventsRef& events)
{
    static const std::wregex failed(
        LR"(\[Parsed_crop_(\d+) @[^\]]*\].*Invalid too big or non positive size for width '(-?\d+)' or height '(-?\d+)')");
    std::wsmatch match;
    const std::wstring* found = nullptr;
    std::vector<std::wstring> texts;
    for (const XStr& line : lines)
        texts.push_back(Wide(line));
    for (const std::wstring& text : texts) {
        if (std::regex_search(text, match, failed)) {
            found = &text;
            break;
        }
    }
    if (!found)
        return XStr();
    const size_t index = std::stoul(match[1].str());
    XStr crop = XStr(std::wstring_view(match[2].str())) + L"x" + XStr(std::wstring_view(match[3].str()));
    const std::vector<std::wstring> filters = ChainFilters(videoChain);
    bool sourceSize = false;
    if (index < filters.size() && filters[index].rfind(L"crop=", 0) == 0) {
        // The position as the effect writes it: "crop=W:H:X:Y".
        std::vector<std::wstring> parts;
        std::wstringstream values(filters[index].substr(5));
        for (std::wstring part; std::getline(values, part, L':');)
            parts.push_back(part);
        if (parts.size() == 4 && WholeNumber(parts[2]) && WholeNumber(parts[3]))
            crop += XStr(L" at ") + XStr(std::wstring_view(parts[2])) + L"," + XStr(std::wstring_view(parts[3]));
        sourceSize =
            std::all_of(filters.begin(), filters.begin() + static_cast<std::ptrdiff_t>(index), KeepsPictureSize);
    }
    XStr picture;
    if (sourceSize && !source.IsEmpty()) {
        const auto quit = [&events] { return events && events->bEvtQuit(); };
        if (const QKMediaFileInfoRef info = QKMediaInfoStore::read(source, nullptr, quit).info) {
            const std::optional<QString> width = info->getAudioPropsValueOf(QStringLiteral("Width"));
            const std::optional<QString> height = info->getAudioPropsValueOf(QStringLiteral("Height"));
            if (width && height)
                picture = XStr(L" of ") + XStrFromQString(*width) + L"x" + XStrFromQString(*height);
        }
    }
    return XStr(L"The crop of ") + crop + L" is larger than the picture" + picture + L".";
}

bool HasStream(const std::vector<bool>& inputs)
{
    return std::find(inputs.begin(), inputs.end(), true) != inputs.end();
}

bool HasOverlay(const std::vector<XStr>& graphs)
{
    return std::any_of(graphs.begin(), graphs.end(), [](const XStr& g) { return g.BeginsWith(L"overlay"); });
}

} // namespace

// What the stages of one run hand on to each other. The members are in the order the stages
// fill them, so that what they own goes in the reverse order when the run ends: the
// concatenation list and the temporary output first, then the probe is waited for, then the
// progress file.
struct clFFMPEG::RunState {
    explicit RunState(KRAProcessArg& a) : arg(a) {}
    KRAProcessArg& arg;

    std::vector<XStr> sources;     // as ffmpeg reads them: HEIC images as PNG, repeated for a loop
    std::vector<XStr> sourcesOnce; // every source once
    XStr dest;
    XStr args; // the batch's argument string, rewritten stage by stage
    ProgressFile progress;

    // The named arguments of ours, pulled from args.
    XStr loop;
    std::vector<XStr> extraInputs; // "-i" of the arguments (a watermark's picture), after the sources
    SpecialValues special;
    Effects effects;

    bool streamCopy = false;
    int64_t lengthFactor = 1; // a looped source gives an output that many times as long
    int64_t sourcesMS = 0;    // the sources' length, repeated like them
    BackgroundProbe probing;
    ProbeResult probed;
    std::vector<int64_t> lengths;         // of each input, repeated like the sources
    std::vector<bool> hasVideo, hasAudio; // of each input, repeated like the sources
    bool lengthKnown = false;
    bool lengthFromFFmpeg = false; // no probe: ffmpeg's own report of its input gives the length
    int64_t explicitLengthMS = -1; // from "-t h:m:s"; -1: none
    int64_t trimmedLengthMS = -1;  // what a trim leaves of the output; -1: no trim
    OutputTimeline timeline;       // where the filters and the output's options put the streams
    XStr videoFades, audioFades;   // filter chains that go after every other filter
    XStr videoChain;               // the picture's filter chain of a command with one ("-vf")

    XStr ffmpeg;
    bool destExists = false;
    struct stat destStat {};
    XStr pre; // the options before the inputs
    TemporaryOutput output;
    XStr out; // the name ffmpeg writes to: the temporary output or a plain link to it

    XStrList argv;
    XStr inputText;     // the inputs of argv as command-line text
    XTempFile listFile; // the concatenation list, when the sources are joined by copying

    // A contact sheet: ffmpeg writes numbered frames into this folder, and the sheet made of
    // them becomes the output.
    bool contactSheet = false;
    KRAContactSheetSettings sheet;
    XStr specialInputArgs; // the preview generator's skip at the start
    XTempFolder contactFrames;
};

bool clFFMPEG::prepareSpecialOutputs(RunState& run)
{
    const SpecialValues& values = run.special;
    if (!values.prevGenEncNset.IsEmpty()) {
        const KRAOutputPlan plan = PlanPreviewGenerator(values, FrameRate, LengthMS);
        if (!plan.refused.IsEmpty())
            return fail(plan.refused);
        run.specialInputArgs = plan.inputArgs;
        AppendText(run.args, plan.appendArgs);
        ExpectedFrames = plan.expectedFrames;
        FpsFactor = plan.fpsFactor;
    }
    if (!values.contactCol.IsEmpty()) {
        XStr why;
        if (!ReadContactSheetSettings(values, run.sheet, why))
            return fail(why);
        if (!run.contactFrames.Create("qkp"))
            return fail(XStr(L"Could not create a folder for the contact sheet's frames"));
        const KRAOutputPlan plan = PlanContactSheet(run.sheet, LengthMS);
        AppendText(run.args, plan.appendArgs);
        ExpectedFrames = plan.expectedFrames;
        FpsFactor = plan.fpsFactor;
        run.contactSheet = true;
    }
    return true;
}

bool clFFMPEG::composeContactSheet(RunState& run)
{
    KRAContactSheetSource source;
    source.path = run.sourcesOnce.empty() ? XStr() : run.sourcesOnce.front();
    source.probeJSON = ProbeJSON;
    source.lengthMS = LengthMS;
    QByteArray sheet;
    XStr why;
    if (!ComposeContactSheet(run.sheet, run.contactFrames, source, sheet, why))
        return fail(why);
    if (!XFileWriteDirect(run.output.path.p, sheet.constData(), size_t(sheet.size())))
        return fail(XStr(L"Could not write the contact sheet: ") + run.output.path);
    return true;
}

bool clFFMPEG::fail(const XStr& message)
{
    error(message);
    return false;
}

bool clFFMPEG::runInner(std::vector<XTempFile>& temporaryFiles)
{
    RunState run(*Arg);
    if (!collectSources(run, temporaryFiles) || !openProgressFile(run))
        return false;
    pullNamedArguments(run);
    if (!planInputs(run) || !prepareSpecialOutputs(run))
        return false;
    addFadesTrimsAndFilters(run);
    if (!prepareDestination(run) || !createOutput(run, temporaryFiles))
        return false;
    if (run.contactSheet)
        run.out = XStr(run.contactFrames) + L"/%06d.png";
    if (!buildCommand(run, temporaryFiles) || !startFFmpeg(run))
        return false;
    startReaders(run);
    encodingLoop(run);
    return finish(run);
}

bool clFFMPEG::collectSources(RunState& run, std::vector<XTempFile>& temporaryFiles)
{
    const KRAProcessArg& arg = run.arg;
    if (auto concat = std::dynamic_pointer_cast<QKConvertSourceConcat>(arg.srcFrom)) {
        for (const QUrl& url : concat->concatURLs()) {
            const XStr path = XPathFromFileURL(url);
            if (!path.IsEmpty())
                run.sources.push_back(path);
        }
    } else if (arg.srcFrom) {
        const XStr path = arg.srcFrom->pathForConversion();
        if (!path.IsEmpty())
            run.sources.push_back(path);
    }
    run.dest = XPathFromFileURL(arg.urlTo);
    run.args = XStrFromQString(arg.args);

    // A source that is no regular file would hold the run (a pipe without a writer), and a
    // destination that is none would be replaced by the output.
    for (const XStr& source : run.sources) {
        if (ExistsAndIsNotRegular(source))
            return fail(XStr(L"The source is not a regular file: ") + source);
    }
    if (ExistsAndIsNotRegular(run.dest))
        return fail(XStr(L"The destination is not a regular file: ") + run.dest);

    // HEIC images go to ffmpeg as PNG when an image reader decodes them.
    for (XStr& source : run.sources) {
        if (ExtensionOf(source).ToUpper() == L".HEIC") {
            XTempFile png(nullptr, ".png");
            if (png.IsEmpty())
                continue;
            if (KRAProcess::convertImageToPNG(source, png)) {
                source = png;
                temporaryFiles.push_back(std::move(png));
            }
        }
    }
    if (!run.sources.empty())
        FirstSource = run.sources[0];
    return true;
}

bool clFFMPEG::openProgressFile(RunState& run)
{
    run.progress.file.Create("_qk", nullptr);
    if (run.progress.file.IsEmpty())
        return fail(XStr(L"Could not create the progress file"));
    const std::string bytes = run.progress.file.ToUTF8String();
    run.progress.fd = ::open(bytes.c_str(), O_RDONLY | O_CLOEXEC);
    return true;
}

void clFFMPEG::pullNamedArguments(RunState& run)
{
    XStr& args = run.args;
    pullArgument(L"fextension", args);
    run.loop = pullArgument(L"loopvideo", args);
    // Inputs named in the arguments must follow the sources: in their place among the output
    // options, ffmpeg would take the options before them for their own.
    run.extraInputs = pullArgumentValues(L"i", args);
    SpecialValues& special = run.special;
    special.prevGenEncNset = pullArgument(L"prev_gen_encNset", args);
    special.prevGenUfe = pullArgument(L"prev_gen_ufe", args);
    special.prevGenGfe = pullArgument(L"prev_gen_gfe", args);
    special.prevGenGtf = pullArgument(L"prev_gen_gtf", args);
    special.prevGenInputval = pullArgument(L"prev_gen_inputval", args);
    special.prevGenFirstdelay = pullArgument(L"prev_gen_firstdelay", args);
    special.contactCol = pullArgument(L"contact_col", args);
    special.contactRow = pullArgument(L"contact_row", args);
    special.contactPng = pullArgument(L"contact_png", args);
    special.contactJpeg = pullArgument(L"contact_jpeg", args);
    special.contactWidth = pullArgument(L"contact_width", args);
    special.contactBackcol = pullArgument(L"contact_backcol", args);
    special.contactTopinfo = pullArgument(L"contact_topinfo", args);
    special.contactTimestamp = pullArgument(L"contact_timestamp", args);
    special.contactPadding = pullArgument(L"contact_padding", args);
    Effects& effects = run.effects;
    effects.fadeIn = pullArgument(L"fadein", args);
    effects.fadeOut = pullArgument(L"fadeout", args);
    effects.aFadeIn = pullArgument(L"afadein", args);
    effects.aFadeOut = pullArgument(L"afadeout", args);
    effects.trimStart = pullArgument(L"trimstart", args);
    effects.trimEnd = pullArgument(L"trimend", args);
}

namespace {

// Whether the command is built from the sources' length or streams, so that ffmpeg cannot
// start before they are known.
bool LengthNeededFirst(const Effects& effects, const KRASpecialValues& special, bool joinedByFilter)
{
    return !effects.trimStart.IsEmpty() || !effects.trimEnd.IsEmpty() || CountsAsValue(effects.fadeOut) ||
           CountsAsValue(effects.aFadeOut) || !special.prevGenEncNset.IsEmpty() || !special.contactCol.IsEmpty() ||
           joinedByFilter;
}

} // namespace

KRARunProbes probesOfRun(const KRAProcessArg& arg)
{
    KRARunProbes probes;
    XStr args = XStrFromQString(arg.args);
    const int64_t loops = std::max<int64_t>(1, pullArgument(L"loopvideo", args).ToLong());
    KRASpecialValues special;
    special.prevGenEncNset = pullArgument(L"prev_gen_encNset", args);
    special.contactCol = pullArgument(L"contact_col", args);
    Effects effects;
    effects.fadeOut = pullArgument(L"fadeout", args);
    effects.aFadeOut = pullArgument(L"afadeout", args);
    effects.trimStart = pullArgument(L"trimstart", args);
    effects.trimEnd = pullArgument(L"trimend", args);
    const QList<XStr> paths = QKConvertProcessShared::sourcePaths(arg);
    const bool several = paths.size() * loops > 1;
    // Joined files are probed beside ffmpeg even when the command does not wait for them.
    if (!several && !LengthNeededFirst(effects, special, false))
        return probes;
    for (const XStr& path : paths) {
        // A HEIC picture is read from the PNG the run makes of it.
        if (ExtensionOf(path).ToUpper() != L".HEIC")
            probes.paths.push_back(path);
    }
    probes.wantJSON = !special.contactCol.IsEmpty();
    return probes;
}

bool clFFMPEG::planInputs(RunState& run)
{
    for (const XStr& input : run.extraInputs) {
        struct stat st;
        if (!StatPath(input, st))
            return fail(XStr(L"The file named in the effect's arguments does not exist: ") + input);
        if (!S_ISREG(st.st_mode))
            return fail(XStr(L"The file named in the effect's arguments is not a regular file: ") + input);
    }
    // Whether a stream is copied; the filters added later do not change the answer.
    run.streamCopy = IsStreamCopy(run.args);
    run.timeline = TimelineOf(MergeFilters(run.args), run.effects);

    const int64_t loops = run.loop.ToLong();
    // Every repetition is one more input: a count far beyond what ffmpeg could join would only
    // exhaust the memory building the list.
    constexpr int64_t kMaxJoinedInputs = 10000;
    if (loops > 1 && !run.sources.empty() && loops > kMaxJoinedInputs / static_cast<int64_t>(run.sources.size()))
        return fail(XStr(L"The loop count ") + XStr::FromLong(loops) + L" is too large");
    run.sourcesOnce = run.sources;
    if (loops > 1 && !run.sources.empty()) {
        for (int64_t i = 1; i < loops; ++i)
            run.sources.insert(run.sources.end(), run.sourcesOnce.begin(), run.sourcesOnce.end());
    }
    run.lengthFactor = loops > 1 ? loops : 1;

    // When nothing of the command depends on the probe, it runs beside ffmpeg rather than
    // before it. Joining by re-encoding builds its filter graph from the streams the sources
    // have.
    const bool joinedByFilter = run.sources.size() > 1 && !run.streamCopy;
    const Effects& effects = run.effects;
    if (LengthNeededFirst(effects, run.special, joinedByFilter)) {
        run.probed = ProbeSources(run.arg.events, run.sourcesOnce, !run.special.contactCol.IsEmpty());
        applyProbe(run);
    } else if (run.sources.size() == 1) {
        // One file needs nothing of the probe but its length, which ffmpeg reports as it opens
        // the file: a probe beside it would only take time from the conversion.
        run.lengthFromFFmpeg = true;
    } else {
        run.probing.future = std::async(std::launch::async, ProbeSources, run.arg.events, run.sourcesOnce, false);
    }
    return true;
}

void clFFMPEG::applyProbe(RunState& run)
{
    const ProbeResult& probed = run.probed;
    for (int64_t i = 0; i < run.lengthFactor; ++i) {
        run.lengths.insert(run.lengths.end(), probed.lengths.begin(), probed.lengths.end());
        run.hasVideo.insert(run.hasVideo.end(), probed.hasVideo.begin(), probed.hasVideo.end());
        run.hasAudio.insert(run.hasAudio.end(), probed.hasAudio.begin(), probed.hasAudio.end());
    }
    run.sourcesMS = probed.total * run.lengthFactor;
    LengthMS = run.sourcesMS;
    FrameRate = probed.frameRate;
    ProbeJSON = probed.json;
    run.lengthKnown = true;
    if (LengthMS > 0 && run.arg.callback)
        run.arg.callback->onLengthMS(static_cast<uint64_t>(LengthMS));
}

void clFFMPEG::takeProbeWhenReady(RunState& run, bool wait)
{
    std::future<ProbeResult>& probing = run.probing.future;
    if (!probing.valid())
        return;
    if (!wait && probing.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    run.probed = probing.get();
    applyProbe(run);
    LengthMS =
        std::max<int64_t>(0, run.timeline.outputMS(run.sourcesMS, HasStream(run.hasVideo), HasStream(run.hasAudio)));
    if (run.explicitLengthMS >= 0)
        LengthMS = run.explicitLengthMS;
}

void clFFMPEG::addFadesTrimsAndFilters(RunState& run)
{
    run.args = MergeFilters(run.args);
    const OutputTimeline& timeline = run.timeline;
    const int64_t sourcesMS = run.sourcesMS;
    // Without a probe either stream may be there.
    const bool video = HasStream(run.hasVideo) || !run.lengthKnown;
    const bool audio = HasStream(run.hasAudio) || !run.lengthKnown;
    if (timeline.trimmed) {
        XStr trim = XStr(L"-ss ") + formatTrimTime(timeline.trimStartMS);
        // Without a known length there is no end to count back from: the output runs to the end.
        const int64_t to = timeline.trimToMS(sourcesMS, video, audio);
        if (to >= 0)
            trim += XStr(L" -to ") + formatTrimTime(to);
        AppendText(run.args, trim);
        run.trimmedLengthMS = std::max<int64_t>(0, timeline.outputMS(sourcesMS, video, audio));
    }
    // The fades go after every other filter, on the timeline those give the output: they are
    // added where the command's filters are complete (the join of several inputs, a watermark).
    const int64_t start = timeline.keptStartMS();
    // A slower picture spaces its frames out; a faster one keeps the output's rate, which
    // drops frames in between.
    const double rate = FrameRate > 0 ? FrameRate : 25.0;
    const int64_t frameMS = static_cast<int64_t>(std::llround(1000.0 * std::max(1.0, timeline.videoFactor) / rate));
    run.videoFades = FadeChain(L"fade", run.effects.fadeIn, run.effects.fadeOut, start,
                               timeline.streamEndMS(timeline.videoFactor, sourcesMS, video, audio), frameMS);
    run.audioFades = FadeChain(L"afade", run.effects.aFadeIn, run.effects.aFadeOut, start,
                               timeline.streamEndMS(timeline.audioFactor, sourcesMS, video, audio), 0);
    run.explicitLengthMS = ExplicitLengthMS(run.args);
    const bool special = !run.special.prevGenEncNset.IsEmpty() || !run.special.contactCol.IsEmpty();
    if (run.lengthKnown && !special)
        LengthMS = std::max<int64_t>(0, timeline.outputMS(sourcesMS, video, audio));
    else if (run.explicitLengthMS >= 0)
        LengthMS = run.explicitLengthMS;
}

bool clFFMPEG::prepareDestination(RunState& run)
{
    run.ffmpeg = QKLocateFFmpeg::locateFFmpeg();
    if (run.dest.IsEmpty())
        return fail(XStr(L"No destination file given."));

    run.pre = run.arg.inputArgs ? XStrFromQString(*run.arg.inputArgs) : XStr();
    AppendText(run.pre, run.specialInputArgs);
    // Every line is tagged with its level, which alone decides what is an error; the
    // information lines name the components ffmpeg opened, which tells an error in reading the
    // input from one in writing the output.
    const wchar_t* level = DebugLog.IsOpen() ? L"-loglevel level+info" : L"-loglevel level+info -nostats";
    AppendText(run.args, XStr(level));

    if (run.sources.empty())
        return fail(XStr(L"No input file given."));

    // ffmpeg gets one output, ours: a loose word in the arguments would be written as another.
    // Checked before the destination's folders are made, so that a refused run leaves nothing.
    XStrList preTokens, outputTokens;
    preTokens.ParseArgs(run.pre);
    outputTokens.ParseArgs(run.args);
    for (const XStrList* tokens : {&preTokens, &outputTokens}) {
        if (const std::optional<XStr> word = findOutputWord(*tokens))
            return fail(XStr(L"The arguments hold a word ffmpeg would write as another output file: ") +
                        XQuoteArgument(*word));
    }

    {
        XFileName folder(run.dest);
        folder = folder.GetFolder();
        if (!folder.IsEmpty())
            XCreateFolderTree(folder);
    }
    run.destExists = StatPath(run.dest, run.destStat);
    if (run.destExists) {
        for (const XStr& source : run.sourcesOnce) {
            struct stat sourceStat;
            if (StatPath(source, sourceStat) && sourceStat.st_dev == run.destStat.st_dev &&
                sourceStat.st_ino == run.destStat.st_ino)
                OutputIsSource = true;
        }
    }
    return true;
}

bool clFFMPEG::createOutput(RunState& run, std::vector<XTempFile>& temporaryFiles)
{
    // While written, the output is open to no one the destination it replaces is closed to.
    const mode_t mode = run.destExists ? (run.destStat.st_mode & 0666) : 0666;
    run.output.path = XExitCleanup::MakeFile([&] { return MakeTemporaryOutput(run.dest, mode); });
    if (run.output.path.IsEmpty())
        return fail(XStr(L"Could not create the output file"));
    // ffmpeg's image writer reads a "%" in the name as a frame-number pattern and would write
    // other files: it gets a plain name that leads to the temporary output.
    run.out = run.output.path;
    if (run.output.path.FindChar(L'%') > 0) {
        XTempFile link;
        if (!MakePlainLink(run.output.path, ExtensionOf(run.dest), link))
            return fail(XStr(L"Could not create the output file"));
        run.out = link;
        temporaryFiles.push_back(std::move(link));
    }
    return true;
}

namespace {

// Profiles stored by the macOS program name encoders no Linux ffmpeg has: its AAC encoder and
// its hardware H.264/H.265 encoders (with their "allow software" switch). A profile that is
// never opened again in the setup still converts with the matching ffmpeg encoders.
void MapStoredEncoders(XStrList& tokens)
{
    for (int64_t i = 0; i + 1 < tokens.Count(); ++i) {
        const XStr& option = tokens[i];
        XStr& value = tokens[i + 1];
        if (option == L"--allow_sw" || option == L"-allow_sw") {
            tokens.RemoveAt(i + 1);
            tokens.RemoveAt(i);
            --i;
            continue;
        }
        const bool audio = option == L"-acodec" || option == L"-c:a" || option == L"-codec:a";
        const bool video = option == L"-vcodec" || option == L"-c:v" || option == L"-codec:v";
        if (audio && value == L"aac_at")
            value = L"aac";
        else if (video && value == L"h264_videotoolbox")
            value = L"libx264";
        else if (video && value == L"hevc_videotoolbox")
            value = L"libx265";
    }
}

// The video codec the arguments ask for, when they encode one and leave ffmpeg to choose the
// streams; empty otherwise.
XStr EncodedVideoCodec(const XStrList& tokens)
{
    XStr codec;
    for (int64_t i = 0; i < tokens.Count(); ++i) {
        const XStr& option = tokens[i];
        if (option == L"-vn" || option == L"-map" || option == L"-filter_complex")
            return XStr();
        if ((option == L"-vcodec" || option == L"-c:v" || option == L"-codec:v") && i + 1 < tokens.Count())
            codec = tokens[i + 1];
    }
    return codec.ToLower() == L"copy" ? XStr() : codec;
}

// Whether the source has sound and no picture but cover art. ffmpeg would encode the cover as
// a one-picture video stream still marked as cover art, which MP4 and most other containers
// refuse ("Could not find tag for codec h264").
// Unless the run has probed its source anyway, only files named as sound are asked: a plain
// conversion of a video starts without waiting for a probe.
bool SoundWithCoverArtOnly(const KRAProcessEventsRef& events, const XStr& source, const ProbeResult* probed)
{
    if (probed && !probed->hasVideo.empty())
        return !probed->hasVideo[0] && probed->hasAudio[0];
    static const wchar_t* const kSoundExtensions[] = {L".mp3", L".m4a",  L".m4b", L".aac", L".flac", L".ogg",
                                                      L".oga", L".opus", L".wma", L".wav", L".aif",  L".aiff",
                                                      L".ape", L".wv",   L".mka", L".mpc", L".tta",  L".dsf"};
    const XStr extension = ExtensionOf(source).ToLower();
    if (std::none_of(std::begin(kSoundExtensions), std::end(kSoundExtensions),
                     [&](const wchar_t* known) { return extension == known; }))
        return false;
    const auto quit = [&events] { return events && events->bEvtQuit(); };
    const QKMediaFileInfoRef info = QKMediaInfoStore::read(source, nullptr, quit).info;
    if (!info)
        return false;
    const FFprobeStreams streams = info->streams();
    return !streams.hasVideo && streams.hasAudio;
}

} // namespace

bool clFFMPEG::buildCommand(RunState& run, std::vector<XTempFile>& temporaryFiles)
{
    XStrList& argv = run.argv;
    XStrList preTokens;
    preTokens.ParseArgs(run.pre);
    argv.Add(run.ffmpeg);
    argv.Append(preTokens);
    if (run.sources.size() == 1) {
        argv.Add(L"-i");
        argv.Add(FileArgument(run.sources[0]));
        run.inputText = XStr(L"-i ") + XQuoteArgument(FileArgument(run.sources[0]));
        addExtraInputs(run);
        if (!combineFilterGraphs(run))
            return false;
    } else if (run.streamCopy) {
        run.args = AddToChain(L"af", AddToChain(L"vf", run.args, run.videoFades), run.audioFades);
        if (!addConcatList(run, temporaryFiles))
            return false;
    } else if (!addConcatFilter(run)) {
        return false;
    }
    if (run.sources.size() == 1) {
        for (const KRAArgItem& item : parseArgItems(run.args)) {
            if (item.isElement && item.name == L"vf")
                run.videoChain = item.value;
        }
    }
    XStrList argTokens;
    argTokens.ParseArgs(run.args);
    MapStoredEncoders(argTokens);
    // A video encoder given a sound file converts its sound: its cover art is no video.
    if (run.sources.size() == 1 && !EncodedVideoCodec(argTokens).IsEmpty() &&
        SoundWithCoverArtOnly(run.arg.events, run.sources[0], run.lengthKnown ? &run.probed : nullptr)) {
        if (argTokens.Find(L"-an"))
            return fail(XStr(L"The source holds sound and no video (cover art aside), and this encoder writes "
                             L"only a picture: there is nothing to convert."));
        argTokens.Add(L"-vn");
    }
    argv.Append(argTokens);
    // The log shows the arguments ffmpeg was given, after the stored names were mapped.
    XStr argsText;
    for (int64_t i = 0; i < argTokens.Count(); ++i) {
        if (i > 0)
            argsText += L" ";
        argsText += XQuoteArgument(argTokens[i]);
    }
    // ffmpeg never reads our standard input: from a terminal it would take keys meant for
    // the program and change the terminal's settings under it.
    for (const wchar_t* fixed : {L"-nostdin", L"-y", L"-ignore_unknown", L"-hide_banner", L"-progress"})
        argv.Add(fixed);
    argv.Add(run.progress.file);
    argv.Add(FileArgument(run.out));
    ChildArguments = argv;

    // The same as one command line, for the log.
    CommandLineText = XQuoteArgument(run.ffmpeg) + L" " + run.pre + L" " + L" " + run.inputText + L" " + argsText +
                      L" -nostdin -y -ignore_unknown -hide_banner -progress " + XQuoteArgument(run.progress.file) +
                      L" " + XQuoteArgument(FileArgument(run.out));
    info(CommandLineText);
    return true;
}

bool clFFMPEG::addConcatList(RunState& run, std::vector<XTempFile>& temporaryFiles)
{
    XTempFile& listFile = run.listFile;
    if (!listFile.Create("qkv", ".txt"))
        return fail(XStr(L"Could not create the concatenation list"));
    std::string list;
    for (const XStr& source : run.sources) {
        XStr path = FileArgument(source);
        if (path.FindChar(L'\n') > 0 || path.FindChar(L'\r') > 0) {
            // The list has one file per line: a name with a line break is listed through a
            // link with a plain name.
            XTempFile link;
            if (!MakePlainLink(source, XStr(), link))
                return fail(XStr(L"Could not create the concatenation list"));
            path = link;
            temporaryFiles.push_back(std::move(link));
        }
        XStr escaped = path;
        escaped.Replace(L"'", L"'\\''");
        list += "file '" + escaped.ToUTF8String() + "'\r\n";
    }
    if (!XFileWriteDirect(listFile, list.data(), list.size()))
        return fail(XStr(L"Could not write the concatenation list"));
    for (const wchar_t* word : {L"-f", L"concat", L"-safe", L"0", L"-i"})
        run.argv.Add(word);
    run.argv.Add(listFile);
    run.inputText = XStr(L"-f concat -safe 0 -i ") + XQuoteArgument(listFile);
    return true;
}

bool clFFMPEG::addConcatFilter(RunState& run)
{
    // The concat filter takes the same streams from every input: a picture when every
    // source has one, a sound when any has one, with silence as long as the source for
    // those without.
    const size_t count = run.sources.size();
    const std::vector<bool>& hasVideo = run.hasVideo;
    const bool anyVideo = std::find(hasVideo.begin(), hasVideo.end(), true) != hasVideo.end();
    const bool joinVideo = std::find(hasVideo.begin(), hasVideo.end(), false) == hasVideo.end();
    const bool joinAudio = std::find(run.hasAudio.begin(), run.hasAudio.end(), true) != run.hasAudio.end();
    if (anyVideo && !joinVideo)
        return fail(XStr(L"Files with and without a picture cannot be joined"));
    const XStr vf = pullArgument(L"vf", run.args);
    const XStr af = pullArgument(L"af", run.args);
    for (size_t i = 0; i < count; ++i) {
        run.argv.Add(L"-i");
        run.argv.Add(FileArgument(run.sources[i]));
        AppendText(run.inputText, XStr(L"-i ") + XQuoteArgument(FileArgument(run.sources[i])));
    }
    addExtraInputs(run);
    XStr graph = ConcatGraph(count, vf, af, joinVideo, joinAudio, run.hasAudio, run.lengths);
    XStr videoLabel = joinVideo ? XStr(L"[v]") : XStr();
    if (joinVideo) {
        std::vector<XStr> overlays = pullArgumentValues(L"filter_complex", run.args);
        if (!checkOverlayInputs(run, overlays))
            return false;
        videoLabel = AppendOverlays(graph, videoLabel, overlays, count, run.extraInputs.size(), true);
        for (const XStr& other : overlays)
            AppendText(run.args, XStr(L"-filter_complex ") + quoteArgValue(other));
        // Fades after the join: on each input they would fade every repetition of a loop.
        if (!run.videoFades.IsEmpty()) {
            graph += XStr(L";") + videoLabel + run.videoFades + L"[marvoni_fv]";
            videoLabel = XStr(L"[marvoni_fv]");
        }
    }
    XStr audioLabel = joinAudio ? XStr(L"[a]") : XStr();
    if (joinAudio && !run.audioFades.IsEmpty()) {
        graph += XStr(L";[a]") + run.audioFades + L"[marvoni_fa]";
        audioLabel = XStr(L"[marvoni_fa]");
    }
    run.argv.Add(L"-filter_complex");
    run.argv.Add(graph);
    run.inputText += XStr(L" -filter_complex ") + XQuoteArgument(graph);
    for (const XStr& label : {videoLabel, audioLabel}) {
        if (label.IsEmpty())
            continue;
        run.argv.Add(L"-map");
        run.argv.Add(label);
        run.inputText += XStr(L" -map \"") + label + L"\"";
    }
    return true;
}

void clFFMPEG::addExtraInputs(RunState& run)
{
    for (const XStr& input : run.extraInputs) {
        run.argv.Add(L"-i");
        run.argv.Add(FileArgument(input));
        AppendText(run.inputText, XStr(L"-i ") + XQuoteArgument(FileArgument(input)));
    }
}

bool clFFMPEG::combineFilterGraphs(RunState& run)
{
    std::vector<XStr> graphs = pullArgumentValues(L"filter_complex", run.args);
    if (!checkOverlayInputs(run, graphs))
        return false;
    if (HasOverlay(graphs)) {
        // ffmpeg refuses a simple and a complex filter graph on the same stream: the picture
        // filters go first in the complex graph, so that a watermark lands on the finished
        // frame.
        XStr graph;
        XStr videoLabel(L"[0:v]");
        const XStr vf = pullArgument(L"vf", run.args);
        if (!vf.IsEmpty()) {
            graph = videoLabel + vf + L"[marvoni_vf]";
            videoLabel = XStr(L"[marvoni_vf]");
        }
        // A fade darkens the watermark with the picture.
        AppendOverlays(graph, videoLabel, graphs, 1, run.extraInputs.size(), false, run.videoFades);
        AppendText(run.args, XStr(L"-filter_complex ") + quoteArgValue(graph));
    } else {
        run.args = AddToChain(L"vf", run.args, run.videoFades);
    }
    run.args = AddToChain(L"af", run.args, run.audioFades);
    // Graphs of another form (written by hand, with labels of their own) stay as given.
    for (const XStr& other : graphs)
        AppendText(run.args, XStr(L"-filter_complex ") + quoteArgValue(other));
    return true;
}

bool clFFMPEG::checkOverlayInputs(RunState& run, const std::vector<XStr>& graphs)
{
    const size_t overlays = static_cast<size_t>(
        std::count_if(graphs.begin(), graphs.end(), [](const XStr& g) { return g.BeginsWith(L"overlay"); }));
    if (overlays > run.extraInputs.size())
        return fail(XStr(L"The watermark has no picture: choose a PNG file in its settings."));
    return true;
}

bool clFFMPEG::startFFmpeg(RunState& run)
{
    if (run.ffmpeg.IsEmpty() || !Process.Create(run.argv, XWP_PIPE_STDOUT | XWP_PIPE_STDERR))
        return fail(XStr(L"Could not start FFmpeg process"));
    m_pid = Process.Pid;
    addFFmpegChild(m_pid);
    return true;
}

void clFFMPEG::startReaders(RunState& run)
{
    m_sync = std::make_shared<pipeReadSync_t>();
    m_sync->callback = run.arg.callback;
    m_sync->debugLog = DebugLog.IsOpen() ? &DebugLog : nullptr;
    m_sync->wantDuration = run.lengthFromFFmpeg;
    std::vector<XStr> paths{run.dest, run.output.path, FileArgument(run.out), run.progress.file, run.listFile};
    for (const XStr& source : run.sourcesOnce)
        paths.push_back(FileArgument(source));
    m_sync->log = KRAFFmpegLog(std::move(paths));
    auto errToken = std::make_shared<ReaderToken>(m_sync);
    auto outToken = std::make_shared<ReaderToken>(m_sync);
    {
        std::lock_guard<std::mutex> lock(m_sync->mutex);
        m_sync->openReaders = 2;
    }
    readLinesThread(static_cast<int>(Process.StderrHandle), [errToken](XStr& line) {
        pipeReadSync_t& sync = *errToken->sync;
        std::lock_guard<std::mutex> lock(sync.mutex);
        if (!sync.active)
            return;
        if (sync.debugLog)
            appendDebugLogLine(*sync.debugLog, line);
        if (sync.wantDuration && sync.durationMS < 0)
            sync.durationMS = ReportedDurationMS(line);
        // Judged and reported when the run is over, once ffmpeg has named what it opened.
        sync.log.addLine(line);
    });
    readLinesThread(static_cast<int>(Process.StdoutHandle), [outToken](XStr& line) {
        pipeReadSync_t& sync = *outToken->sync;
        std::lock_guard<std::mutex> lock(sync.mutex);
        if (!sync.active)
            return;
        if (sync.debugLog)
            appendDebugLogLine(*sync.debugLog, line);
        if (!line.IsEmpty() && sync.callback)
            sync.callback->onInfoLine(XStrToQString(line));
    });
}

void clFFMPEG::takeReportedDuration(RunState& run)
{
    if (!run.lengthFromFFmpeg || run.lengthKnown)
        return;
    int64_t reported;
    {
        std::lock_guard<std::mutex> lock(m_sync->mutex);
        reported = m_sync->durationMS;
    }
    if (reported < 0)
        return;
    run.lengthKnown = true;
    LengthMS = run.explicitLengthMS >= 0 ? run.explicitLengthMS : reported;
    if (LengthMS > 0 && run.arg.callback)
        run.arg.callback->onLengthMS(static_cast<uint64_t>(LengthMS));
    // The percent counts the output's time, which the filters may stretch.
    if (run.explicitLengthMS < 0)
        LengthMS = std::max<int64_t>(0, run.timeline.outputMS(reported, true, true));
}

void clFFMPEG::waitForOutputOrEnd()
{
    // ffmpeg closes its pipes as it exits: waking then, rather than at the next tick, starts
    // the next file of a batch at once.
    std::unique_lock<std::mutex> lock(m_sync->mutex);
    if (m_sync->openReaders > 0) {
        m_sync->readersDone.wait_for(lock, std::chrono::milliseconds(25), [&] { return m_sync->openReaders <= 0; });
        return;
    }
    lock.unlock();
    Sleep(2); // the pipes are closed; the process is about to be reapable
}

void clFFMPEG::encodingLoop(RunState& run)
{
    const KRAProcessArg& arg = run.arg;
    info(XStr(L"Encoding loop..."));
    if (arg.callback)
        arg.callback->onPercentDone(0);
    int64_t consumed = 0;
    std::string pending;
    m_lengthKnown = run.lengthKnown || run.explicitLengthMS >= 0;
    for (;;) {
        takeProbeWhenReady(run, false);
        takeReportedDuration(run);
        m_lengthKnown = run.lengthKnown || run.explicitLengthMS >= 0;
        if (reapIfExited()) {
            readProgress(run.progress.fd, consumed, pending);
            if (arg.callback)
                arg.callback->onPercentDone(100);
            break;
        }
        readProgress(run.progress.fd, consumed, pending);
        if (arg.events && arg.events->bEvtQuit() && !Killed) {
            Killed = true;
            killChildNow();
            break;
        }
        setStopped(arg.events && arg.events->bPause());
        waitForOutputOrEnd();
    }
    info(XStr(L"Encoding loop exit"));
    takeProbeWhenReady(run, true);
    killChildNow(); // reaped already; nothing left running
    if (arg.callback)
        arg.callback->onFPS(0);
    Process.Close(0);
}

bool clFFMPEG::finish(RunState& run)
{
    // Every line ffmpeg wrote is handled before the outcome is decided; a pipe held open by
    // something else does not hold the run for longer than a few seconds.
    KRAFFmpegLog log;
    {
        std::unique_lock<std::mutex> lock(m_sync->mutex);
        m_sync->readersDone.wait_for(lock, std::chrono::seconds(5), [&] { return m_sync->openReaders <= 0; });
        log = std::move(m_sync->log);
        m_sync->active = false;
        m_sync->debugLog = nullptr;
    }
    // ffmpeg may have ended before its report of the input's length was read.
    takeReportedDuration(run);

    const bool quit = run.arg.events && run.arg.events->bEvtQuit();
    const bool ffmpegErrors = log.hasErrors();
    // Errors in reading the input alone (a damaged frame, which ffmpeg conceals and goes past)
    // leave an output that may well be whole; it is checked before it is kept. A preview or a
    // contact sheet has no length to check it by.
    const bool inputErrorsOnly = ffmpegErrors && log.errorsOnlyFromInput() && !run.contactSheet && ExpectedFrames == 0;
    bool success = (!ffmpegErrors || inputErrorsOnly) && !Killed && !quit && ChildEndedNormally;
    std::vector<XStr> lines = log.shownErrors();
    // ffmpeg's words for a crop larger than the picture, and what follows from it, are put
    // plainly.
    if (ffmpegErrors) {
        const XStr crop = CropTooLargeMessage(
            lines, run.videoChain, run.sourcesOnce.empty() ? XStr() : run.sourcesOnce.front(), run.arg.events);
        if (!crop.IsEmpty())
            lines = {crop};
    }
    if (success && inputErrorsOnly) {
        // What the check found, when it fails, comes before ffmpeg's lines.
        success = checkOutputOfDamagedInput(run);
        HadError = !success;
        HadWarnings = success;
        for (const XStr& line : lines) {
            if (success)
                warning(line);
            else
                error(line);
        }
    } else if (ffmpegErrors) {
        for (const XStr& line : lines)
            error(line);
        HadError = true;
    }
    // A sheet that could not be made is a failed run: there is no output to stand for it.
    if (success && run.contactSheet)
        success = composeContactSheet(run);
    if (!Killed && !quit && !ChildEndedNormally) {
        if (ChildSignal != 0)
            error(XStr::FromFormat(L"FFmpeg ended by signal %d", ChildSignal));
        else if (!HadError)
            error(XStr::FromFormat(L"FFmpeg ended with exit code %d", ChildExitCode));
    }
    if (success)
        success = replaceDestination(run);
    if (!success)
        HadWarnings = false;
    info(XStr(L"Encoding exit"));
    return success;
}

bool clFFMPEG::checkOutputOfDamagedInput(RunState& run)
{
    const XStr why = L"The source has damaged parts and the output is not whole: ";
    struct stat written;
    if (!StatPath(run.output.path, written) || !S_ISREG(written.st_mode) || written.st_size == 0)
        return fail(why + L"FFmpeg wrote no output file");
    int64_t expected = LengthMS;
    if (run.trimmedLengthMS >= 0)
        expected =
            run.explicitLengthMS >= 0 ? std::min(run.trimmedLengthMS, run.explicitLengthMS) : run.trimmedLengthMS;
    if (expected <= 0)
        return fail(why + L"its length cannot be checked, as the length of the source is not known");
    const auto quit = [events = run.arg.events] { return events && events->bEvtQuit(); };
    XStr json, reason;
    uint64_t durationMS = 0;
    if (!readFFprobeTags(run.output.path, nullptr, &json, durationMS, &reason, quit)) {
        return fail(why + L"FFprobe cannot read it" + (reason.IsEmpty() ? XStr() : XStr(L" (") + reason + L")"));
    }
    const FFprobeStreams streams = parseStreams(json);
    if (!streams.hasVideo && !streams.hasAudio)
        return fail(why + L"it holds neither picture nor sound");
    // Within 2% of the expected length, or half a second, whichever allows more.
    const int64_t tolerance = std::max<int64_t>(500, expected / 50);
    const int64_t length = static_cast<int64_t>(durationMS);
    if (length < expected - tolerance || length > expected + tolerance)
        return fail(why + XStr(L"it is ") + formatTrimTime(length) + L" long, where " + formatTrimTime(expected) +
                    L" was expected");
    return true;
}

bool clFFMPEG::replaceDestination(RunState& run)
{
    // The temporary output replaces the destination only after a run that wrote something,
    // and never replaces what has become something else than a file meanwhile.
    struct stat written;
    if (!StatPath(run.output.path, written) || written.st_size == 0)
        return fail(XStr(L"FFmpeg wrote no output file"));
    if (ExistsAndIsNotRegular(run.dest))
        return fail(XStr(L"The destination is not a regular file: ") + run.dest);
    const std::string tmpBytes = run.output.path.ToUTF8String();
    if (run.destExists)
        ::chmod(tmpBytes.c_str(), run.destStat.st_mode & 07777);
    // What the actions after the conversion may take for this run's output: the file that
    // is now the temporary one.
    const XFileId produced = XFileIdOf(tmpBytes, false);
    const auto move = [&] { return ::rename(tmpBytes.c_str(), run.dest.ToUTF8String().c_str()) == 0; };
    XStr refused;
    const bool moved = run.arg.outputGuard
                           ? run.arg.outputGuard->replace(run.arg.guardIndex, run.dest, produced, move, refused)
                           : move();
    if (!refused.IsEmpty())
        return fail(refused);
    if (!moved)
        return fail(XStr(L"Error moving temporary file to destination file"));
    run.output.pending = false;
    Produced = produced;
    return true;
}
