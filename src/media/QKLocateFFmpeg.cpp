#include "media/QKLocateFFmpeg.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "media/QKExternalFFmpeg.h"
#include "media/QKToolRun.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XTempFile.h"
#include "xclass/XWorkerProcess.h"

namespace {

bool IsRegularFile(const XStr& path)
{
    bool isFolder = false;
    return XFileExists(path, &isFolder) && !isFolder;
}

bool IsExecutableFile(const XStr& path)
{
    XStr p(path);
    struct stat st;
    return ::stat(p.UTF8(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.UTF8(), X_OK) == 0;
}

// The program shipped in the resources folder, else the first on PATH; empty when neither.
XStr ShippedOrOnPath(const wchar_t* name)
{
    XFileName shipped(XGetResourcesFolder());
    shipped.AppendPath(name);
    if (IsExecutableFile(shipped))
        return shipped;
    return XFindProgramInPath(name);
}

XStr ErrnoText(int error)
{
    return XStr::FromUTF8(std::strerror(error));
}

// Why a child run did not give an answer, as a short English text.
XStr RunFailureText(const QKToolResult& r, const wchar_t* what, int timeoutMs)
{
    if (!r.started)
        return XStr::FromFormat(L"%s could not be started (%s).", what, ErrnoText(r.startErrno).p);
    if (r.timedOut)
        return XStr::FromFormat(L"%s did not finish within %d seconds and was stopped.", what, timeoutMs / 1000);
    if (r.tooLarge)
        return XStr::FromFormat(L"%s printed more than expected and was stopped.", what);
    XStr line = r.lastErrorLine();
    if (!line.IsEmpty())
        return XStr::FromFormat(L"%s failed: %s", what, line.p);
    return XStr::FromFormat(L"%s failed (exit code %d).", what, r.exitCode);
}

void SetError(XStr* error, const XStr& text)
{
    if (error)
        *error = text;
}

std::mutex& EncoderLock()
{
    static std::mutex lock;
    return lock;
}

// The file an answer was given for: a copy replaced at the same path (an update of the
// distribution's package, a hand-made build) changes its time and is asked again.
struct FileStamp {
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    int64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec),
                     static_cast<int64_t>(st.st_size)};
}

struct EncoderAnswer {
    FileStamp stamp;
    bool has = false;
};

std::map<std::string, EncoderAnswer>& EncoderAnswers()
{
    static std::map<std::string, EncoderAnswer> answers;
    return answers;
}

bool ListsEncoder(const std::string& listing, const std::string& encoder)
{
    size_t begin = 0;
    while (begin < listing.size()) {
        size_t end = listing.find('\n', begin);
        if (end == std::string::npos)
            end = listing.size();
        // " V....D libx264   description": flags, then the encoder's name.
        const std::string line = listing.substr(begin, end - begin);
        const size_t flags = line.find_first_not_of(" \t");
        if (flags != std::string::npos) {
            const size_t gap = line.find_first_of(" \t", flags);
            if (gap != std::string::npos) {
                const size_t name = line.find_first_not_of(" \t", gap);
                if (name != std::string::npos) {
                    size_t nameEnd = line.find_first_of(" \t\r", name);
                    if (nameEnd == std::string::npos)
                        nameEnd = line.size();
                    if (line.compare(name, nameEnd - name, encoder) == 0)
                        return true;
                }
            }
        }
        begin = end + 1;
    }
    return false;
}

std::atomic<int>& CheckTimeout()
{
    static std::atomic<int> ms{QKLocateFFmpeg::kQueryTimeoutMs};
    return ms;
}

std::string RealPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string text(resolved);
    std::free(resolved);
    return text;
}

enum class Candidate { Missing, Usable, Refused };

// relative ("ffmpeg", "bin/ffmpeg") inside folder, looked at without following any link: each
// folder on the way a real folder, the last a regular file, and its real path still inside
// folder. A link could point anywhere (at /bin/echo, or bin at /usr/bin),
// and copying what it names would install a program the archive never held.
Candidate LookAtCandidate(const std::string& folder, const std::string& relative, std::string& path, XStr& why)
{
    path = folder;
    size_t begin = 0;
    while (begin < relative.size()) {
        size_t end = relative.find('/', begin);
        if (end == std::string::npos)
            end = relative.size();
        const bool last = end == relative.size();
        path += "/" + relative.substr(begin, end - begin);
        const std::string shown = relative.substr(0, end);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            return Candidate::Missing;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            const std::string to = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string("?");
            why = XStr::FromFormat(L"The archive's \"%s\" is a link (to \"%s\"), not a program of its own.",
                                   XStr::FromUTF8(shown).p, XStr::FromUTF8(to).p);
            return Candidate::Refused;
        }
        if (!last && !S_ISDIR(st.st_mode))
            return Candidate::Missing;
        if (last && S_ISDIR(st.st_mode))
            return Candidate::Missing; // a folder named ffmpeg: look in bin/
        if (last && !S_ISREG(st.st_mode)) {
            why = XStr::FromFormat(L"The archive's \"%s\" is not a regular file.", XStr::FromUTF8(shown).p);
            return Candidate::Refused;
        }
        begin = end + 1;
    }
    const std::string root = RealPath(folder);
    const std::string real = RealPath(path);
    if (root.empty() || real.size() <= root.size() + 1 || real.compare(0, root.size() + 1, root + "/") != 0) {
        why = XStr::FromFormat(L"The archive's \"%s\" lies outside the unpacked archive.", XStr::FromUTF8(relative).p);
        return Candidate::Refused;
    }
    return Candidate::Usable;
}

// The first line of a program's answer, short enough to quote.
XStr FirstLineQuoted(const std::string& out)
{
    std::string line = out.substr(0, out.find_first_of("\r\n"));
    if (line.size() > 60)
        line = line.substr(0, 60) + "...";
    return XStr::FromUTF8(line);
}

} // namespace

int QKLocateFFmpeg::checkTimeoutMs()
{
    return CheckTimeout().load();
}

void QKLocateFFmpeg::setCheckTimeoutMs(int ms)
{
    CheckTimeout().store(ms > 0 ? ms : kQueryTimeoutMs);
}

XStr QKLocateFFmpeg::pathToExternalFFmpeg()
{
    return XGetAppDataPath(L"ffmpeg");
}

XStr QKLocateFFmpeg::pathToAutoMarker()
{
    return pathToExternalFFmpeg() + L".auto";
}

XStr QKLocateFFmpeg::locateFFmpeg()
{
    const XStr external = pathToExternalFFmpeg();
    if (XFileExists(external))
        return external;
    return ShippedOrOnPath(L"ffmpeg");
}

XStr QKLocateFFmpeg::locateFFprobe()
{
    return ShippedOrOnPath(L"ffprobe");
}

bool QKLocateFFmpeg::haveInstalledFFmpeg()
{
    return XFileExists(pathToExternalFFmpeg());
}

bool QKLocateFFmpeg::isAutoInstalled()
{
    return XFileExists(pathToAutoMarker());
}

bool QKLocateFFmpeg::haveExternalFFmpeg()
{
    if (haveInstalledFFmpeg())
        return true;
    const XStr ffmpeg = locateFFmpeg();
    return !ffmpeg.IsEmpty() && ffmpegHasEncoder(ffmpeg, L"libx264");
}

bool QKLocateFFmpeg::ffmpegHasEncoder(const XStr& ffmpegPath, const wchar_t* encoder)
{
    if (ffmpegPath.IsEmpty() || !encoder || !*encoder)
        return false;
    // Every answer is kept per path and encoder and holds while the file is unchanged: pages and
    // catalogues ask on every call, and a query starts ffmpeg.
    const std::string key = ffmpegPath.ToUTF8String() + '\n' + XStr(encoder).ToUTF8String();
    // One query at a time: several threads asking at start-up share the one answer.
    std::lock_guard<std::mutex> lock(EncoderLock());
    // A file that cannot be looked at is asked every time (and most likely fails to start).
    const std::optional<FileStamp> stamp = StampOf(ffmpegPath.ToUTF8String());
    const FileStamp current = stamp.value_or(FileStamp{});
    if (stamp) {
        const auto found = EncoderAnswers().find(key);
        if (found != EncoderAnswers().end() && found->second.stamp == current)
            return found->second.has;
    }
    XStrList args;
    args.Add(ffmpegPath);
    args.Add(L"-hide_banner");
    args.Add(L"-encoders");
    const QKToolResult r = QKToolRun::run(args, kQueryTimeoutMs);
    const bool has = r.started && !r.timedOut && ListsEncoder(r.out, XStr(encoder).ToUTF8String());
    if (stamp)
        EncoderAnswers()[key] = EncoderAnswer{current, has};
    else
        EncoderAnswers().erase(key);
    return has;
}

void QKLocateFFmpeg::forgetEncoderAnswers()
{
    std::lock_guard<std::mutex> lock(EncoderLock());
    EncoderAnswers().clear();
}

void QKLocateFFmpeg::installHooks()
{
    QKExternalFFmpeg::setProbe([] { return QKLocateFFmpeg::haveExternalFFmpeg(); });
}

bool QKLocateFFmpeg::installWorker(const XStr& path, const XStr& staging, XStr* error)
{
    const XFileName source(QKToolRun::absolutePath(path));
    const XFileName name = source.GetFileName();
    XStr found;
    XTempFolder unpacked; // removed when this function returns, whatever the outcome

    if (XStrCompare(name, L"ffmpeg") == 0) {
        if (!IsRegularFile(source)) {
            SetError(error, XStr::FromFormat(L"The file \"%s\" does not exist.", source.p));
            return false;
        }
        found = source;
    } else if (name.EndsWith(L".tar.gz") || name.EndsWith(L".tar.bz2")) {
        if (!IsRegularFile(source)) {
            SetError(error, XStr::FromFormat(L"The archive \"%s\" does not exist.", source.p));
            return false;
        }
        if (!unpacked.Create(nullptr)) {
            SetError(error, XStr::FromFormat(L"No temporary folder could be made (%s).", ErrnoText(errno).p));
            return false;
        }
        const XStr tar = XFindProgramInPath(L"tar");
        if (tar.IsEmpty()) {
            SetError(error, XStr(L"The program tar was not found."));
            return false;
        }
        // tar itself, with the folder given by -C: the archive's name reaches it as one
        // argument whatever it holds, and --force-local keeps a ":" in it from naming a host.
        XStrList args;
        args.Add(tar);
        args.Add(L"--force-local");
        args.Add(L"-C");
        args.Add(unpacked);
        args.Add(name.EndsWith(L".tar.bz2") ? L"-xjf" : L"-xzf");
        args.Add(source);
        const QKToolResult r = QKToolRun::run(args, kUnpackTimeoutMs, 1 << 20);
        const std::string folder = XStr(unpacked).ToUTF8String();
        for (const char* relative : {"ffmpeg", "bin/ffmpeg"}) {
            std::string candidate;
            XStr why;
            const Candidate look = LookAtCandidate(folder, relative, candidate, why);
            if (look == Candidate::Refused) {
                SetError(error, why);
                return false;
            }
            if (look == Candidate::Usable) {
                found = XStr::FromUTF8(candidate);
                break;
            }
        }
        if (found.IsEmpty()) {
            if (!r.succeeded())
                SetError(error,
                         XStr(L"The archive could not be unpacked. ") + RunFailureText(r, L"tar", kUnpackTimeoutMs));
            else
                SetError(error, XStr(L"The archive holds no ffmpeg (neither \"ffmpeg\" nor \"bin/ffmpeg\")."));
            return false;
        }
    } else {
        SetError(error,
                 XStr::FromFormat(
                     L"\"%s\" is neither an ffmpeg executable (named \"ffmpeg\") nor a .tar.gz or .tar.bz2 archive.",
                     name.p));
        return false;
    }

    XDeleteFile(staging);
    if (!XCopyFile(found, staging, true)) {
        const int saved = errno;
        XDeleteFile(staging);
        SetError(error, XStr::FromFormat(L"ffmpeg could not be copied into place (%s).", ErrnoText(saved).p));
        return false;
    }
    XStr stagingPath(staging);
    if (::chmod(stagingPath.UTF8(), 0755) != 0) {
        const int saved = errno;
        XDeleteFile(staging);
        SetError(error, XStr::FromFormat(L"ffmpeg could not be made executable (%s).", ErrnoText(saved).p));
        return false;
    }
    // Only a program that answers as ffmpeg replaces the one in use. It is not trusted yet:
    // whatever it starts goes with it.
    XStrList args;
    args.Add(staging);
    args.Add(L"-version");
    const int timeoutMs = checkTimeoutMs();
    const QKToolResult check = QKToolRun::runIsolated(args, timeoutMs);
    if (!check.succeeded()) {
        XDeleteFile(staging);
        SetError(error, check.timedOut ? XStr::FromFormat(L"The new ffmpeg did not answer \"-version\" within %d "
                                                          L"seconds and was stopped.",
                                                          (timeoutMs + 999) / 1000)
                                       : XStr(L"The new ffmpeg does not run. ") +
                                             RunFailureText(check, L"ffmpeg -version", timeoutMs));
        return false;
    }
    if (check.out.rfind("ffmpeg version", 0) != 0) {
        XDeleteFile(staging);
        SetError(error, check.out.empty()
                            ? XStr(L"The new program is no ffmpeg: it prints nothing for \"-version\".")
                            : XStr::FromFormat(L"The new program is no ffmpeg: its \"-version\" answer begins with "
                                               L"\"%s\", not \"ffmpeg version\".",
                                               FirstLineQuoted(check.out).p));
        return false;
    }
    return true;
}

bool QKLocateFFmpeg::installFrom(const XStr& path, bool isAuto, XStr* error)
{
    const XStr target = pathToExternalFFmpeg();
    XFileName folder(XFileName(target).GetFolder());
    if (!XFileExists(folder) && !XCreateFolderTreeWithMode(folder, 0700)) {
        SetError(error, XStr::FromFormat(L"The folder \"%s\" could not be made (%s).", folder.p, ErrnoText(errno).p));
        return false;
    }
    // Staged beside the target, so that the final rename stays on one file system.
    const XStr staging = target + L".install-" + XTempUniqueId();
    if (!installWorker(path, staging, error))
        return false;

    XStr from(staging), to(target);
    if (::rename(from.UTF8(), to.UTF8()) != 0) {
        const int saved = errno;
        XDeleteFile(staging);
        SetError(error, XStr::FromFormat(L"ffmpeg could not be put in place (%s).", ErrnoText(saved).p));
        return false;
    }
    const XStr marker = pathToAutoMarker();
    if (isAuto) {
        // The new copy is in place and works either way; the marker only records its origin.
        XFile file;
        file.OpenCreate(marker);
    } else {
        XDeleteFile(marker);
    }
    return true;
}

void QKLocateFFmpeg::revertToInternal()
{
    XDeleteFile(pathToExternalFFmpeg());
    XDeleteFile(pathToAutoMarker());
}
