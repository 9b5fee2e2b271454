#include "xclass/XPlatform.h"
#include "xclass/XEnvironment.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// ---- Windows-named calls -----------------------------------------------------------------

void Sleep(uint32_t ms)
{
    struct timespec wait;
    wait.tv_sec = static_cast<time_t>(ms / 1000);
    wait.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    // A signal handled meanwhile must not cut the wait short.
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {}
}

int64_t GetTickCount64()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

uint32_t GetTickCount()
{
    return static_cast<uint32_t>(GetTickCount64());
}

bool QueryPerformanceCounter(uint64_t* out)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    if (out)
        *out = static_cast<uint64_t>(tv.tv_sec) * 1000000ULL + static_cast<uint64_t>(tv.tv_usec);
    return true;
}

bool QueryPerformanceFrequency(uint64_t* out)
{
    if (out)
        *out = 1000000;
    return true;
}

bool CloseHandle(int64_t fd)
{
    return close(static_cast<int>(fd)) == 0;
}

uint32_t GetCurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}

void GetLocalTime(XSystemTime* out)
{
    if (out)
        *out = XTime().GetSystemTime();
}

bool SystemTimeToFileTime(const XSystemTime* st, uint64_t* out)
{
    if (!st || !out)
        return false;
    *out = XTime(*st).GetFileTime();
    return true;
}

int strcpy_s(char* dst, size_t size, const char* src)
{
    if (!dst || !src) {
        if (dst && size > 0)
            dst[0] = 0;
        errno = EINVAL;
        return EINVAL;
    }
    const size_t length = strlen(src);
    if (size < length + 1) {
        if (size > 0)
            dst[0] = 0;
        errno = ERANGE;
        return ERANGE;
    }
    memcpy(dst, src, length + 1);
    return 0;
}

int strcat_s(char* dst, size_t size, const char* src)
{
    if (!dst || !src) {
        if (dst && size > 0)
            dst[0] = 0;
        errno = EINVAL;
        return EINVAL;
    }
    const char* end = static_cast<const char*>(memchr(dst, 0, size));
    if (!end) {
        if (size > 0)
            dst[0] = 0;
        errno = EINVAL;
        return EINVAL;
    }
    const size_t position = static_cast<size_t>(end - dst);
    const size_t length = strlen(src);
    if (position + length + 1 > size) {
        dst[0] = 0;
        errno = ERANGE;
        return ERANGE;
    }
    memmove(dst + position, src, length + 1);
    return 0;
}

int _wfopen_s(FILE** out, const wchar_t* path, const wchar_t* mode)
{
    if (!out || !path || !mode) {
        errno = EINVAL;
        return EINVAL;
    }
    const std::string narrowPath = XStr(path).ToUTF8String();
    const std::string narrowMode = XStr(mode).ToUTF8String();
    errno = 0;
    FILE* file = fopen(narrowPath.c_str(), narrowMode.c_str());
    if (!file)
        return errno != 0 ? errno : -1;
    *out = file;
    return 0;
}

// ---- Console -----------------------------------------------------------------------------

namespace {
void WriteStdout(const std::string& bytes)
{
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

void WriteAll(int64_t handle, const std::string& bytes)
{
    if (handle == 0 || handle == -1)
        return;
    const int fd = static_cast<int>(handle);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

std::string ReportLine(const wchar_t* text, const char* context)
{
    std::string line = XStr(text ? text : L"").ToUTF8String();
    if (context) {
        line += "  [";
        line += XStr::FromAnsi(context).ToUTF8String();
        line += "]";
    }
    line += "\r\n";
    return line;
}
} // namespace

void XPrintW(const wchar_t* text)
{
    if (text)
        WriteStdout(XStr(text).ToUTF8String());
}

void XPrintA(const char* text)
{
    if (text)
        WriteStdout(text);
}

void XPrint1252(const char* text)
{
    if (text)
        WriteStdout(XStr::FromAnsi(text).ToUTF8String());
}

void XTrace(const wchar_t* format, ...)
{
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    const XStr text = XStr::FromFormatV(format, args);
    va_end(args);
    XPrintW(text);
}

void STNStdReport::Error(const wchar_t* text, const char* context)
{
    const std::string line = ReportLine(text, context);
    WriteAll(hFileDebug, "*** Error: " + line);
    WriteAll(hFileError, line);
}

void STNStdReport::Information(const wchar_t* text, const char* context)
{
    const std::string line = ReportLine(text, context);
    WriteAll(hFileDebug, "*** Information: " + line);
    WriteAll(hFileInfo, line);
}

// ---- Random bytes ----------------------------------------------------------------------------

void XRandomBytes16(uint8_t out[16])
{
    size_t done = 0;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (done < 16) {
            const ssize_t n = read(fd, out + done, 16 - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    while (done < 16) {
        const ssize_t n = getrandom(out + done, 16 - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (done < 16) {
        // Neither source delivered: the callers need names that differ from call to call,
        // not secrets, so a mix of clocks, process id and a counter is enough.
        static uint64_t counter = 0;
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t state = static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
        state ^= static_cast<uint64_t>(getpid()) << 32;
        state += __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED) * 0x9E3779B97F4A7C15ULL;
        for (; done < 16; ++done) {
            state += 0x9E3779B97F4A7C15ULL; // splitmix64
            uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            out[done] = static_cast<uint8_t>(z ^ (z >> 31));
        }
    }
}

XStr XRandomHex32()
{
    uint8_t bytes[16];
    XRandomBytes16(bytes);
    static const char digits[] = "0123456789ABCDEF";
    wchar_t text[33];
    for (int i = 0; i < 16; ++i) {
        text[i * 2] = static_cast<wchar_t>(digits[bytes[i] >> 4]);
        text[i * 2 + 1] = static_cast<wchar_t>(digits[bytes[i] & 15]);
    }
    text[32] = 0;
    return XStr(text);
}

// ---- Volumes -----------------------------------------------------------------------------------

namespace {
struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string device; // "major:minor"
};

// Mount points in mountinfo escape blanks, tabs, line feeds and backslashes as \ooo.
std::string Unescape(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountEntry> ReadMountInfo()
{
    std::vector<MountEntry> entries;
    FILE* file = fopen("/proc/self/mountinfo", "re");
    if (!file)
        return entries;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, file)) > 0) {
        std::vector<std::string> fields;
        std::string current;
        for (ssize_t i = 0; i < length; ++i) {
            const char ch = line[i];
            if (ch == ' ' || ch == '\n') {
                if (!current.empty())
                    fields.push_back(current);
                current.clear();
            } else {
                current += ch;
            }
        }
        if (!current.empty())
            fields.push_back(current);
        // id parent major:minor root mount-point options [optional...] - type source super
        size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (fields.size() < 5 || separator + 1 >= fields.size())
            continue;
        entries.push_back({Unescape(fields[4]), fields[separator + 1], fields[2]});
    }
    free(line);
    fclose(file);
    return entries;
}

// The resolved path, or that of the nearest existing parent with the rest appended.
std::string ResolvePath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return std::string();
    std::string head = path;
    std::string tail;
    for (;;) {
        char* resolved = realpath(head.c_str(), nullptr);
        if (resolved) {
            std::string result = resolved;
            free(resolved);
            if (!tail.empty())
                result += (result == "/" ? "" : "/") + tail;
            return result;
        }
        while (head.size() > 1 && head.back() == '/')
            head.pop_back();
        const size_t slash = head.rfind('/');
        if (head == "/" || slash == std::string::npos)
            return std::string();
        const std::string name = head.substr(slash + 1);
        tail = tail.empty() ? name : name + "/" + tail;
        head = slash == 0 ? "/" : head.substr(0, slash);
    }
}

bool FindMount(const XStr& path, MountEntry* found)
{
    const std::string resolved = ResolvePath(path.ToUTF8String());
    if (resolved.empty())
        return false;
    bool any = false;
    size_t bestLength = 0;
    for (const MountEntry& entry : ReadMountInfo()) {
        const std::string& m = entry.mountPoint;
        const bool contains =
            m == "/" || resolved == m ||
            (resolved.size() > m.size() && resolved.compare(0, m.size(), m) == 0 && resolved[m.size()] == '/');
        // A later mount on the same point hides the earlier one: ">=" lets it win.
        if (contains && (!any || m.size() >= bestLength)) {
            *found = entry;
            bestLength = m.size();
            any = true;
        }
    }
    return any;
}

std::string UserName()
{
    const std::string user = XGetEnv("USER");
    if (!user.empty() && user.find('/') == std::string::npos)
        return user;
    struct passwd record;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &record, buffer, sizeof buffer, &result) == 0 && result && result->pw_name &&
        *result->pw_name && !strchr(result->pw_name, '/'))
        return result->pw_name;
    return std::string();
}

bool IsRemovableDevice(const std::string& device)
{
    const std::string link = "/sys/dev/block/" + device;
    char* target = realpath(link.c_str(), nullptr);
    if (!target)
        return false;
    std::string folder = target;
    free(target);
    if (folder.find("/usb") != std::string::npos)
        return true;
    struct stat st;
    if (stat((folder + "/partition").c_str(), &st) == 0) // a partition: ask its disk
        folder = folder.substr(0, folder.rfind('/'));
    FILE* file = fopen((folder + "/removable").c_str(), "re");
    if (!file)
        return false;
    const int ch = fgetc(file);
    fclose(file);
    return ch == '1';
}
} // namespace

XStr XGetMountPoint(const XStr& path)
{
    MountEntry entry;
    if (!FindMount(path, &entry))
        return XStr();
    return XStr::FromUTF8(entry.mountPoint);
}

XStr XGetMountType(const XStr& path)
{
    MountEntry entry;
    if (!FindMount(path, &entry))
        return XStr();
    return XStr::FromUTF8(entry.fsType);
}

std::vector<XStr> XGetVolumeRootFolders()
{
    std::vector<XStr> folders;
    folders.push_back(XStr(L"/media/"));
    const std::string user = UserName();
    if (!user.empty()) {
        folders.push_back(XStr::FromUTF8("/media/" + user + "/"));
        folders.push_back(XStr::FromUTF8("/run/media/" + user + "/"));
    }
    folders.push_back(XStr(L"/mnt/"));
    return folders;
}

bool XIsVolumeRootFolder(const XStr& path)
{
    XStr withSlash = path;
    if (withSlash.IsEmpty())
        return false;
    if (!withSlash.EndsWith(L"/"))
        withSlash += L"/";
    for (const XStr& folder : XGetVolumeRootFolders()) {
        if (withSlash == folder)
            return true;
    }
    return false;
}

bool XIsVolumeExternal(const XStr& path)
{
    MountEntry entry;
    if (!FindMount(path, &entry))
        return false;
    const XStr mountPoint = XStr::FromUTF8(entry.mountPoint);
    for (const XStr& folder : XGetVolumeRootFolders()) {
        if (mountPoint.Length() > folder.Length() && mountPoint.BeginsWith(folder))
            return true;
    }
    return IsRemovableDevice(entry.device);
}

bool XIsVolumeRemote(const XStr& path)
{
    MountEntry entry;
    if (!FindMount(path, &entry))
        return false;
    static const char* const networkTypes[] = {"nfs",
                                               "nfs4",
                                               "cifs",
                                               "smb3",
                                               "smbfs",
                                               "ncpfs",
                                               "afs",
                                               "9p",
                                               "ceph",
                                               "glusterfs",
                                               "lustre",
                                               "gfs2",
                                               "ocfs2",
                                               "davfs",
                                               "coda",
                                               "fuse.sshfs",
                                               "fuse.glusterfs",
                                               "fuse.s3fs",
                                               "fuse.rclone",
                                               "fuse.davfs2",
                                               "fuse.gvfsd-fuse",
                                               "fuse.curlftpfs"};
    for (const char* type : networkTypes) {
        if (entry.fsType == type)
            return true;
    }
    return false;
}

int XWaitPid(int pid, int* status, int options)
{
    for (;;) {
        const pid_t r = ::waitpid(pid, status, options);
        if (r != -1 || errno != EINTR)
            return r;
    }
}
