#include "engine/clFFMPEG.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <future>
#include <set>
#include <string>

#include "media/FFprobeInfo.h"
#include "engine/KRAProcess.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKDebugLog.h"
#include "job/QKElemValueList.h"
#include "media/QKLocateFFmpeg.h"
#include "xclass/XBlockRunner.h"
#include "xclass/XCriticalSection.h"
#include "xclass/XExitCleanup.h"
#include "xclass/XFileName.h"
#include "xclass/XFormat.h"
#include "xclass/XPlatform.h"
#include "xclass/XTempFile.h"
#include "platform/XWorkspace.h"

// ---- Argument text ------------------------------------------------------------------------

std::vector<KRAArgItem> parseArgItems(const XStr& text)
{
    XStrList tokens;
    tokens.ParseArgs(text);
    std::vector<KRAArgItem> items;
    const int64_t n = tokens.Count();
    for (int64_t i = 0; i < n; ++i) {
        const std::wstring_view t = tokens[i].View();
        if (t.empty() || t[0] != L'-') {
            // A word that belongs to no element stays where it is.
            items.push_back(KRAArgItem{false, XStr(t), XStr()});
            continue;
        }
        size_t nameStart = 1;
        if (nameStart < t.size() && t[nameStart] == L'-')
            ++nameStart;
        const size_t equals = t.find(L'=', nameStart);
        if (equals != std::wstring_view::npos) {
            items.push_back(KRAArgItem{true, XStr(t.substr(nameStart, equals - nameStart)), XStr(t.substr(equals + 1))});
            continue;
        }
        KRAArgItem item{true, XStr(t.substr(nameStart)), XStr()};
        if (i + 1 < n) {
            const XStr& next = tokens[i + 1];
            if (next.IsEmpty() || next.p[0] != L'-') {
                item.value = next;
                ++i;
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

XStr quoteArgValue(const XStr& value)
{
    if (value.IsEmpty())
        return XStr(L"\"\"");
    bool wrap = false;
    std::wstring out;
    for (wchar_t c : value.View()) {
        if (c == L' ' || c == L',')
            wrap = true;
        if (c == L'"' || c == L'\\')
            out += L'\\';
        out += c;
    }
    if (wrap)
        out = L"\"" + out + L"\"";
    return XStr(std::wstring_view(out));
}

XStr writeArgItems(const std::vector<KRAArgItem>& items)
{
    XStr out;
    for (const KRAArgItem& item : items) {
        if (!out.IsEmpty())
            out += L" ";
        if (!item.isElement) {
            out += quoteArgValue(item.name);
            continue;
        }
        out += L"-";
        // A name is written as it was read; one that could not be read back as one word is
        // escaped like a value (without the wrapping, which would hide the leading "-").
        for (wchar_t c : item.name.View()) {
            if (c == L'"' || c == L'\\' || c == L' ')
                out.CatChar(L'\\');
            out.CatChar(c);
        }
        if (!item.value.IsEmpty()) {
            out += L" ";
            out += quoteArgValue(item.value);
        }
    }
    return out;
}

static bool SameName(const XStr& a, const wchar_t* b)
{
    return XStrCompare(a, b, 0, true) == 0;
}

XStr pullArgument(const wchar_t* name, XStr& args)
{
    std::vector<KRAArgItem> items = parseArgItems(args);
    XStr joined;
    std::vector<KRAArgItem> kept;
    for (KRAArgItem& item : items) {
        if (item.isElement && SameName(item.name, name)) {
            if (!item.value.IsEmpty()) {
                if (!joined.IsEmpty())
                    joined += L", ";
                joined += item.value;
            }
            continue;
        }
        kept.push_back(std::move(item));
    }
    args = writeArgItems(kept);
    return joined;
}

XStr mergeArgument(const wchar_t* name, const XStr& args)
{
    std::vector<KRAArgItem> items = parseArgItems(args);
    std::vector<KRAArgItem> kept;
    int64_t first = -1;
    for (KRAArgItem& item : items) {
        if (item.isElement && SameName(item.name, name)) {
            if (first < 0) {
                first = static_cast<int64_t>(kept.size());
                kept.push_back(std::move(item));
            } else if (!item.value.IsEmpty()) {
                XStr& value = kept[static_cast<size_t>(first)].value;
                if (!value.IsEmpty())
                    value += L", ";
                value += item.value;
            }
            continue;
        }
        kept.push_back(std::move(item));
    }
    return writeArgItems(kept);
}

namespace {

// The length of ffmpeg's context prefix at the start of a line: up to two "[name @ address] "
// groups, the parent object's and the object's own.
size_t ContextPrefixLength(std::wstring_view line)
{
    size_t pos = 0;
    for (int group = 0; group < 2 && pos < line.size() && line[pos] == L'['; ++group) {
        const size_t close = line.find(L"] ", pos);
        if (close == std::wstring_view::npos || line.substr(pos, close - pos).find(L" @ ") == std::wstring_view::npos)
            break;
        pos = close + 2;
    }
    return pos;
}

// True when ffmpeg tagged the line as information or a warning: the level tag comes right
// after the context prefix. Anywhere else the same text is part of the message (a file
// name, say) and says nothing about the line.
bool HasNoErrorLevel(const XStr& line)
{
    const std::wstring_view rest = line.View().substr(ContextPrefixLength(line.View()));
    for (const wchar_t* tag : {L"[info]", L"[warning]"}) {
        const size_t length = wcslen(tag);
        if (rest.size() >= length && XStrCompare(XStr(rest.substr(0, length)), tag, 0, true) == 0)
            return true;
    }
    return false;
}

} // namespace

bool filterErrorLine(XStr& line, const std::vector<XStr>& paths)
{
    line.TrimLeft();
    line.TrimRight();
    if (line.IsEmpty() || HasNoErrorLevel(line))
        return false;
    // The known noise is recognised in the message without the run's own file names, so that
    // a name holding one of these texts never hides an error about that file.
    XStr message = line;
    std::vector<XStr> longestFirst = paths;
    std::sort(longestFirst.begin(), longestFirst.end(),
              [](const XStr& a, const XStr& b) { return a.Length() > b.Length(); });
    for (const XStr& path : longestFirst) {
        if (!path.IsEmpty())
            message.Replace(path, L"");
    }
    if (message.EndsWith(L"Metal API Validation Enabled") || message.EndsWith(L"Zero Metal services found"))
        return false;
    if (message.Find(L" GVA info:") > 0)
        return false;
    static const wchar_t* const droppedNoCase[] = {L"Referenced QT chapter track not found", L"co located POCs unavailable",
        L"unable to decode APP fields", L"invalidating cache"};
    for (const wchar_t* text : droppedNoCase) {
        if (message.Find(text, 1, true) > 0)
            return false;
    }
    if (message.BeginsWith(L"encoded ", true))
        return false;
    if (message.Find(L"cannot load nvcuda.dll", 1, true) > 0)
        line = XStr(L"Error: compatible Nvidia GPU not found, or Nvidia drivers not installed");
    return true;
}

namespace {

// The options of ffmpeg's own that take no value. Each switch among them may also be given
// as "-noNAME"; "autorotate" and "autoscale" take a value, but not in their "-no" form. Every
// other option, an encoder's or a format's included, takes the next word as its value,
// whatever that word is.
const wchar_t* const kSwitches[] = {L"accurate_seek", L"an", L"auto_conversion_filters", L"benchmark", L"benchmark_all",
    L"bitexact", L"copy_unknown", L"copyinkf", L"copyts", L"debug_ts", L"dn", L"dump", L"find_stream_info",
    L"fix_sub_duration", L"force_fps", L"hex", L"hide_banner", L"ignore_unknown", L"n", L"psnr", L"qphist", L"re",
    L"recast_media", L"shortest", L"sn", L"start_at_zero", L"stats", L"stdin", L"vn", L"xerror", L"y"};
const wchar_t* const kOtherOptionsWithoutValue[] = {L"report", L"vstats"};
const wchar_t* const kSwitchesWithValue[] = {L"autorotate", L"autoscale"};

template <size_t N>
bool NameIn(std::wstring_view name, const wchar_t* const (&names)[N])
{
    return std::any_of(std::begin(names), std::end(names), [&](const wchar_t* n) { return name == n; });
}

} // namespace

bool ffmpegOptionTakesValue(const XStr& option)
{
    std::wstring_view name = option.View();
    if (name.empty() || name[0] != L'-')
        return false;
    name.remove_prefix(1);
    name = name.substr(0, name.find(L':')); // "-an:0" is "-an" for a stream
    if (NameIn(name, kSwitches) || NameIn(name, kOtherOptionsWithoutValue))
        return false;
    if (name.size() > 2 && name.substr(0, 2) == L"no") {
        const std::wstring_view negated = name.substr(2);
        if (NameIn(negated, kSwitches) || NameIn(negated, kSwitchesWithValue))
            return false;
    }
    return true;
}

std::optional<XStr> findOutputWord(const XStrList& tokens)
{
    const int64_t n = tokens.Count();
    for (int64_t i = 0; i < n; ++i) {
        const XStr& word = tokens[i];
        if (word == L"--") // the word after it, or, at the end, whatever follows the list
            return i + 1 < n ? tokens[i + 1] : word;
        if (word.Length() < 2 || word.p[0] != L'-') // "-" alone is standard output
            return word;
        if (ffmpegOptionTakesValue(word))
            ++i;
    }
    return std::nullopt;
}

XStr formatTrimTime(int64_t ms)
{
    return XFormatDuration(ms < 0 ? 0 : ms, 3);
}

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

// Makes an empty file beside dest, named after it with ".tmp" before its extension (a number
// added when that name is taken), never over an existing file, with the permission bits of
// mode (less the umask). Empty on failure.
XStr MakeTemporaryOutput(const XStr& dest, mode_t mode)
{
    const XStr ext = ExtensionOf(dest);
    const XStr stem = ext.IsEmpty() ? dest : dest.Mid(1, dest.Length() - ext.Length());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        XStr name = stem + L".tmp";
        if (attempt > 0)
            name += XStr(L"-") + XTempUniqueId();
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
        if (!(c == L'.' || c == L'_' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'))) {
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

bool clFFMPEG::prepareSpecialOutputs(const SpecialValues& values, XStr& args)
{
    (void)args;
    if (!values.prevGenEncNset.IsEmpty()) {
        error(XStr(L"The output type \"[Preview Generator]\" is not available yet"));
        return false;
    }
    if (!values.contactCol.IsEmpty()) {
        error(XStr(L"The output type \"[Contact Sheet]\" is not available yet"));
        return false;
    }
    return true;
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
    // Whatever ended the run, the actions after a conversion hear of it.
    QKConvertProcessShared::conversionFinished(*arg, success);
    return success;
}

bool clFFMPEG::runInner(std::vector<XTempFile>& temporaryFiles)
{
    KRAProcessArg& arg = *Arg;

    // Sources.
    std::vector<XStr> sources;
    if (auto concat = std::dynamic_pointer_cast<QKConvertSourceConcat>(arg.srcFrom)) {
        for (const QUrl& url : concat->concatURLs()) {
            const XStr path = XPathFromFileURL(url);
            if (!path.IsEmpty())
                sources.push_back(path);
        }
    } else if (arg.srcFrom) {
        const XStr path = arg.srcFrom->pathForConversion();
        if (!path.IsEmpty())
            sources.push_back(path);
    }

    // Destination and arguments.
    const XStr dest = XPathFromFileURL(arg.urlTo);
    XStr args = XStrFromQString(arg.args);

    // A source that is no regular file would hold the run (a pipe without a writer), and a
    // destination that is none would be replaced by the output.
    for (const XStr& source : sources) {
        if (ExistsAndIsNotRegular(source)) {
            error(XStr(L"The source is not a regular file: ") + source);
            return false;
        }
    }
    if (ExistsAndIsNotRegular(dest)) {
        error(XStr(L"The destination is not a regular file: ") + dest);
        return false;
    }

    // HEIC images go to ffmpeg as PNG when an image reader decodes them.
    for (XStr& source : sources) {
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

    // Probe: the length of each source, the first frame rate and the first source's JSON.
    // When nothing of the command depends on it, it runs beside ffmpeg rather than before it.
    struct ProbeResult {
        std::vector<int64_t> lengths;
        // What each source holds; a source ffprobe could not read is taken to hold both.
        std::vector<bool> hasVideo, hasAudio;
        int64_t total = 0;
        double frameRate = 0;
        XStr json;
    };
    auto probe = [events = arg.events](std::vector<XStr> paths) {
        ProbeResult result;
        const auto quit = [&events] { return events && events->bEvtQuit(); }; // ends a slow probe at once
        for (size_t i = 0; i < paths.size(); ++i) {
            XStr json;
            uint64_t duration = 0;
            const bool read = readFFprobeTags(paths[i], nullptr, &json, duration, nullptr, quit);
            result.lengths.push_back(static_cast<int64_t>(duration));
            result.hasVideo.push_back(!read || parseHasStream(json, L"video"));
            result.hasAudio.push_back(!read || parseHasStream(json, L"audio"));
            result.total += static_cast<int64_t>(duration);
            if (result.frameRate == 0)
                result.frameRate = parseVideoFrameRate(json);
            if (i == 0)
                result.json = json;
        }
        return result;
    };
    if (!sources.empty())
        FirstSource = sources[0];

    // Progress file.
    XTempFile progressFile("_qk", nullptr);
    if (progressFile.IsEmpty()) {
        error(XStr(L"Could not create the progress file"));
        return false;
    }
    const std::string progressBytes = progressFile.ToUTF8String();
    const int progressFd = ::open(progressBytes.c_str(), O_RDONLY | O_CLOEXEC);
    XScopeExit closeProgress([progressFd] {
        if (progressFd >= 0)
            ::close(progressFd);
    });

    // Named arguments.
    pullArgument(L"fextension", args);
    const XStr loopValue = pullArgument(L"loopvideo", args);
    SpecialValues special;
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
    const XStr fadeIn = pullArgument(L"fadein", args);
    const XStr fadeOut = pullArgument(L"fadeout", args);
    const XStr aFadeIn = pullArgument(L"afadein", args);
    const XStr aFadeOut = pullArgument(L"afadeout", args);
    const XStr trimStart = pullArgument(L"trimstart", args);
    const XStr trimEnd = pullArgument(L"trimend", args);

    // Stream copy? (The filters added below do not change the answer.)
    bool streamCopy = false;
    {
        const QKElemValueList elements(XStrToQString(args));
        auto valueOf = [&](const char* a, const char* b) {
            const std::optional<QString> v = elements.findValue(QString::fromLatin1(a));
            return v ? *v : elements.findValue(QString::fromLatin1(b), QString());
        };
        const QString acodec = valueOf("acodec", "codec:a");
        const QString vcodec = valueOf("vcodec", "codec:v");
        streamCopy = acodec.compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0 ||
                     vcodec.compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0;
    }

    const int64_t loops = loopValue.ToLong();
    // Every repetition is one more input: a count far beyond what ffmpeg could join would only
    // exhaust the memory building the list.
    constexpr int64_t kMaxJoinedInputs = 10000;
    if (loops > 1 && !sources.empty() && loops > kMaxJoinedInputs / static_cast<int64_t>(sources.size())) {
        error(XStr(L"The loop count ") + XStr::FromLong(loops) + L" is too large");
        return false;
    }
    const std::vector<XStr> sourcesOnce = sources;
    if (loops > 1 && !sources.empty()) {
        for (int64_t i = 1; i < loops; ++i)
            sources.insert(sources.end(), sourcesOnce.begin(), sourcesOnce.end());
    }
    // Joining by re-encoding builds its filter graph from the streams the sources have.
    const bool joinedByFilter = sources.size() > 1 && !streamCopy;
    // A looped source gives an output that many times as long.
    const int64_t lengthFactor = loops > 1 ? loops : 1;
    std::vector<int64_t> lengths;
    std::vector<bool> hasVideo, hasAudio; // of each input, repeated like the sources
    ProbeResult probed;
    bool lengthKnown = false;
    auto applyProbe = [&](ProbeResult result) {
        probed = std::move(result);
        for (int64_t i = 0; i < lengthFactor; ++i) {
            lengths.insert(lengths.end(), probed.lengths.begin(), probed.lengths.end());
            hasVideo.insert(hasVideo.end(), probed.hasVideo.begin(), probed.hasVideo.end());
            hasAudio.insert(hasAudio.end(), probed.hasAudio.begin(), probed.hasAudio.end());
        }
        LengthMS = probed.total * lengthFactor;
        FrameRate = probed.frameRate;
        ProbeJSON = probed.json;
        lengthKnown = true;
        if (LengthMS > 0 && arg.callback)
            arg.callback->onLengthMS(static_cast<uint64_t>(LengthMS));
    };
    const bool lengthNeededFirst = !trimStart.IsEmpty() || !trimEnd.IsEmpty() || CountsAsValue(fadeOut) ||
                                   CountsAsValue(aFadeOut) || !special.prevGenEncNset.IsEmpty() ||
                                   !special.contactCol.IsEmpty() || joinedByFilter;
    std::future<ProbeResult> probing;
    if (lengthNeededFirst)
        applyProbe(probe(sourcesOnce));
    else
        probing = std::async(std::launch::async, probe, sourcesOnce);
    // Whatever way the run ends, the probe has finished before it returns.
    XScopeExit waitForProbe([&] {
        if (probing.valid())
            probing.wait();
    });

    if (!prepareSpecialOutputs(special, args))
        return false;

    // Fades.
    if (CountsAsValue(fadeIn))
        AppendText(args, XStr(L"-vf ") + quoteArgValue(XStr(L"fade=type=in:duration=") + fadeIn));
    if (CountsAsValue(aFadeIn))
        AppendText(args, XStr(L"-af ") + quoteArgValue(XStr(L"afade=type=in:duration=") + aFadeIn));
    if (CountsAsValue(fadeOut) || CountsAsValue(aFadeOut)) {
        int64_t total = 0;
        for (int64_t length : lengths)
            total += length;
        const double totalSeconds = static_cast<double>(total) / 1000.0;
        if (CountsAsValue(fadeOut)) {
            const double d = XStrToDouble(fadeOut);
            AppendText(args, XStr(L"-vf ") + quoteArgValue(XStr(L"fade=type=out:duration=") + XStr::FromDouble(d + 0.1, 2, false) +
                                                  L":start_time=" + XStr::FromDouble(totalSeconds - d, 2, false)));
        }
        if (CountsAsValue(aFadeOut)) {
            const double d = XStrToDouble(aFadeOut);
            AppendText(args, XStr(L"-af ") + quoteArgValue(XStr(L"afade=type=out:duration=") + XStr::FromDouble(d + 0.1, 2, false) +
                                                  L":start_time=" + XStr::FromDouble(totalSeconds - d, 2, false)));
        }
    }

    // Trim.
    if (!trimStart.IsEmpty() || !trimEnd.IsEmpty()) {
        const int64_t start = trimStart.IsEmpty() ? 0 : static_cast<int64_t>(XStrToDouble(trimStart) * 1000.0);
        XStr trim = XStr(L"-ss ") + formatTrimTime(start);
        // Without a known length there is no end to count back from: the output runs to the end.
        if (!trimEnd.IsEmpty() || LengthMS > 0) {
            const int64_t end = LengthMS - (trimEnd.IsEmpty() ? 0 : static_cast<int64_t>(XStrToDouble(trimEnd) * 1000.0));
            trim += XStr(L" -to ") + formatTrimTime(end);
        }
        AppendText(args, trim);
    }

    // Filters: every video filter in one -vf, every audio filter in one -af.
    {
        std::vector<KRAArgItem> items = parseArgItems(args);
        for (KRAArgItem& item : items) {
            if (item.isElement && item.name == L"filter:v")
                item.name = XStr(L"vf");
            else if (item.isElement && item.name == L"filter:a")
                item.name = XStr(L"af");
        }
        args = mergeArgument(L"af", mergeArgument(L"vf", writeArgItems(items)));
    }

    // An explicit duration "-t h:m:s" is the length of the output.
    int64_t explicitLengthMS = -1;
    for (const KRAArgItem& item : parseArgItems(args)) {
        if (item.isElement && item.name == L"t" && !item.value.IsEmpty()) {
            XStrList parts(item.value, L":");
            if (parts.Count() == 3) {
                explicitLengthMS = (parts[0].ToLong() * 3600 + parts[1].ToLong() * 60 + parts[2].ToLong()) * 1000;
                LengthMS = explicitLengthMS;
            }
            break;
        }
    }

    const XStr ffmpeg = QKLocateFFmpeg::locateFFmpeg();

    // Output: always a temporary file beside the destination.
    if (dest.IsEmpty()) {
        error(XStr(L"No destination file given."));
        return false;
    }
    {
        XFileName folder(dest);
        folder = folder.GetFolder();
        if (!folder.IsEmpty())
            XCreateFolderTree(folder);
    }
    struct stat destStat;
    const bool destExists = StatPath(dest, destStat);
    if (destExists) {
        for (const XStr& source : sources) {
            struct stat sourceStat;
            if (StatPath(source, sourceStat) && sourceStat.st_dev == destStat.st_dev && sourceStat.st_ino == destStat.st_ino)
                OutputIsSource = true;
        }
    }

    const XStr pre = arg.inputArgs ? XStrFromQString(*arg.inputArgs) : XStr();

    // ffmpeg's own output: errors only; with the debug log, everything, each line with its
    // level so that the filter still drops the information and warnings.
    AppendText(args, XStr(DebugLog.IsOpen() ? L"-loglevel level+info" : L"-loglevel 16"));

    if (sources.empty()) {
        error(XStr(L"No input file given."));
        return false;
    }

    // ffmpeg gets one output, ours: a loose word in the arguments would be written as another.
    XStrList preTokens, outputTokens;
    preTokens.ParseArgs(pre);
    outputTokens.ParseArgs(args);
    for (const XStrList* tokens : {&preTokens, &outputTokens}) {
        if (const std::optional<XStr> word = findOutputWord(*tokens)) {
            error(XStr(L"The arguments hold a word ffmpeg would write as another output file: ") + XQuoteArgument(*word));
            return false;
        }
    }

    // While written, the output is open to no one the destination it replaces is closed to.
    const XStr tmpOut = XExitCleanup::MakeFile(
        [&] { return MakeTemporaryOutput(dest, destExists ? (destStat.st_mode & 0666) : 0666); });
    if (tmpOut.IsEmpty()) {
        error(XStr(L"Could not create the output file"));
        return false;
    }
    bool tmpOutPending = true;
    XScopeExit removeTmpOut([&] {
        if (tmpOutPending)
            XDeleteFile(tmpOut);
        XExitCleanup::RemoveFile(tmpOut);
    });
    // ffmpeg's image writer reads a "%" in the name as a frame-number pattern and would write
    // other files: it gets a plain name that leads to the temporary output.
    XStr out = tmpOut;
    if (tmpOut.FindChar(L'%') > 0) {
        XTempFile link;
        if (!MakePlainLink(tmpOut, ExtensionOf(dest), link)) {
            error(XStr(L"Could not create the output file"));
            return false;
        }
        out = link;
        temporaryFiles.push_back(std::move(link));
    }

    // The argument list and, for the log, the same as one command line.
    XStrList argv;
    argv.Add(ffmpeg);
    argv.Append(preTokens);
    XStr inputText;
    XStr listFile; // kept until the run ends
    XTempFile listFileOwner;
    if (sources.size() == 1) {
        argv.Add(L"-i");
        argv.Add(FileArgument(sources[0]));
        inputText = XStr(L"-i ") + XQuoteArgument(FileArgument(sources[0]));
    } else if (streamCopy) {
        if (!listFileOwner.Create("qkv", ".txt")) {
            error(XStr(L"Could not create the concatenation list"));
            return false;
        }
        std::string list;
        for (const XStr& source : sources) {
            XStr path = FileArgument(source);
            if (path.FindChar(L'\n') > 0 || path.FindChar(L'\r') > 0) {
                // The list has one file per line: a name with a line break is listed through a
                // link with a plain name.
                XTempFile link;
                if (!MakePlainLink(source, XStr(), link)) {
                    error(XStr(L"Could not create the concatenation list"));
                    return false;
                }
                path = link;
                temporaryFiles.push_back(std::move(link));
            }
            XStr escaped = path;
            escaped.Replace(L"'", L"'\\''");
            list += "file '" + escaped.ToUTF8String() + "'\r\n";
        }
        if (!XFileWriteDirect(listFileOwner, list.data(), list.size())) {
            error(XStr(L"Could not write the concatenation list"));
            return false;
        }
        listFile = listFileOwner;
        argv.Add(L"-f");
        argv.Add(L"concat");
        argv.Add(L"-safe");
        argv.Add(L"0");
        argv.Add(L"-i");
        argv.Add(listFile);
        inputText = XStr(L"-f concat -safe 0 -i ") + XQuoteArgument(listFile);
    } else {
        // The concat filter takes the same streams from every input: a picture when every
        // source has one, a sound when any has one, with silence as long as the source for
        // those without.
        const size_t count = sources.size();
        const bool anyVideo = std::find(hasVideo.begin(), hasVideo.end(), true) != hasVideo.end();
        const bool joinVideo = std::find(hasVideo.begin(), hasVideo.end(), false) == hasVideo.end();
        const bool joinAudio = std::find(hasAudio.begin(), hasAudio.end(), true) != hasAudio.end();
        if (anyVideo && !joinVideo) {
            error(XStr(L"Files with and without a picture cannot be joined"));
            return false;
        }
        const XStr vf = pullArgument(L"vf", args);
        const XStr af = pullArgument(L"af", args);
        XStr graph;
        for (size_t i = 0; i < count; ++i) {
            argv.Add(L"-i");
            argv.Add(FileArgument(sources[i]));
            AppendText(inputText, XStr(L"-i ") + XQuoteArgument(FileArgument(sources[i])));
        }
        for (size_t i = 0; i < count; ++i) {
            const XStr n = XStr::FromULong(i);
            if (joinVideo && !vf.IsEmpty())
                graph += XStr(L"[") + n + L":v]" + vf + L"[" + n + L"v];";
            if (joinAudio && !hasAudio[i])
                graph += XStr(L"anullsrc=r=48000:cl=stereo:d=") + XStr::FromDouble(static_cast<double>(lengths[i]) / 1000.0, 3, false) +
                         L"[" + n + L"a];";
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
        argv.Add(L"-filter_complex");
        argv.Add(graph);
        inputText += XStr(L" -filter_complex ") + XQuoteArgument(graph);
        for (const wchar_t* label : {joinVideo ? L"[v]" : nullptr, joinAudio ? L"[a]" : nullptr}) {
            if (!label)
                continue;
            argv.Add(L"-map");
            argv.Add(label);
            inputText += XStr(L" -map \"") + label + L"\"";
        }
    }
    XStrList argTokens;
    argTokens.ParseArgs(args);
    argv.Append(argTokens);
    for (const wchar_t* fixed : {L"-y", L"-ignore_unknown", L"-hide_banner", L"-progress"})
        argv.Add(fixed);
    argv.Add(progressFile);
    argv.Add(FileArgument(out));
    ChildArguments = argv;

    CommandLineText = XQuoteArgument(ffmpeg) + L" " + pre + L" " + L" " + inputText + L" " + args +
                      L" -y -ignore_unknown -hide_banner -progress " + XQuoteArgument(progressFile) + L" " +
                      XQuoteArgument(FileArgument(out));
    info(CommandLineText);

    // Start.
    if (ffmpeg.IsEmpty() || !Process.Create(argv, XWP_PIPE_STDOUT | XWP_PIPE_STDERR)) {
        error(XStr(L"Could not start FFmpeg process"));
        return false;
    }
    m_pid = Process.Pid;
    addFFmpegChild(m_pid);

    // Readers.
    m_sync = std::make_shared<pipeReadSync_t>();
    m_sync->callback = arg.callback;
    m_sync->debugLog = DebugLog.IsOpen() ? &DebugLog : nullptr;
    m_sync->paths = {dest, tmpOut, FileArgument(out), progressFile, listFile};
    for (const XStr& source : sources)
        m_sync->paths.push_back(FileArgument(source));
    {
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
            XStr shown = line;
            if (!filterErrorLine(shown, sync.paths))
                return;
            sync.hadError = true;
            if (sync.callback)
                sync.callback->onErrorLine(XStrToQString(shown));
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

    // Encoding loop.
    info(XStr(L"Encoding loop..."));
    if (arg.callback)
        arg.callback->onPercentDone(0);
    int64_t consumed = 0;
    std::string pending;
    auto takeProbeWhenReady = [&](bool wait) {
        if (!probing.valid())
            return;
        if (!wait && probing.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        applyProbe(probing.get());
        if (explicitLengthMS >= 0)
            LengthMS = explicitLengthMS;
    };
    m_lengthKnown = lengthKnown || explicitLengthMS >= 0;
    for (;;) {
        takeProbeWhenReady(false);
        m_lengthKnown = lengthKnown || explicitLengthMS >= 0;
        if (reapIfExited()) {
            readProgress(progressFd, consumed, pending);
            if (arg.callback)
                arg.callback->onPercentDone(100);
            break;
        }
        readProgress(progressFd, consumed, pending);
        if (arg.events && arg.events->bEvtQuit() && !Killed) {
            Killed = true;
            killChildNow();
            break;
        }
        setStopped(arg.events && arg.events->bPause());
        Sleep(25);
    }
    info(XStr(L"Encoding loop exit"));
    takeProbeWhenReady(true);
    killChildNow(); // reaped already; nothing left running
    if (arg.callback)
        arg.callback->onFPS(0);
    Process.Close(0);

    // Every line ffmpeg wrote is handled before the outcome is decided; a pipe held open by
    // something else does not hold the run for longer than a few seconds.
    {
        std::unique_lock<std::mutex> lock(m_sync->mutex);
        m_sync->readersDone.wait_for(lock, std::chrono::seconds(5), [&] { return m_sync->openReaders <= 0; });
        HadError = m_sync->hadError;
        m_sync->active = false;
        m_sync->debugLog = nullptr;
    }

    composeSpecialOutputs(special);

    const bool quit = arg.events && arg.events->bEvtQuit();
    bool success = !HadError && !Killed && !quit && ChildEndedNormally;
    if (!Killed && !quit && !ChildEndedNormally) {
        if (ChildSignal != 0)
            error(XStr::FromFormat(L"FFmpeg ended by signal %d", ChildSignal));
        else if (!HadError)
            error(XStr::FromFormat(L"FFmpeg ended with exit code %d", ChildExitCode));
    }

    // The temporary output replaces the destination only after a successful run that wrote
    // something, and never replaces what has become something else than a file meanwhile.
    struct stat written;
    if (success && (!StatPath(tmpOut, written) || written.st_size == 0)) {
        error(XStr(L"FFmpeg wrote no output file"));
        success = false;
    }
    if (success && ExistsAndIsNotRegular(dest)) {
        error(XStr(L"The destination is not a regular file: ") + dest);
        success = false;
    }
    if (success) {
        const std::string tmpBytes = tmpOut.ToUTF8String();
        if (destExists)
            ::chmod(tmpBytes.c_str(), destStat.st_mode & 07777);
        if (::rename(tmpBytes.c_str(), dest.ToUTF8String().c_str()) == 0) {
            tmpOutPending = false;
        } else {
            error(XStr(L"Error moving temporary file to destination file"));
            success = false;
        }
    }

    info(XStr(L"Encoding exit"));
    return success;
}
