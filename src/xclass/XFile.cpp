#include "xclass/XFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "xclass/XFileName.h"
#include "xclass/XFindFile.h"
#include "xclass/XPlatform.h"
#include "xclass/XTime.h"

namespace {

int WhenceFor(int origin)
{
    switch (origin) {
    case 0:
        return SEEK_SET;
    case 1:
        return SEEK_END;
    case 2:
        return SEEK_CUR;
    default:
        return -1;
    }
}

// Reads until size bytes or the end; the count, or -1 on an error.
ssize_t ReadFully(int fd, void* data, size_t size)
{
    auto* bytes = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = XReadRetry(fd, bytes + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool PReadFully(int fd, void* data, size_t size, off_t offset)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, bytes, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO; // the file got shorter under us
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// fstat of an open handle; *failed (when given) tells whether it could not be had.
bool StatHandle(int fd, struct stat& st, bool* failed)
{
    const bool ok = fd != -1 && fstat(fd, &st) == 0;
    if (failed)
        *failed = !ok;
    return ok;
}

uint64_t BirthTime(int fd, const struct stat& st)
{
    struct statx stx;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME))
        return XUnixTimeToFileTime(stx.stx_btime.tv_sec);
    return XStatToFileTimeCreate(st);
}

constexpr size_t kShiftChunk = 65536;

// Result of a look-ahead that must not wait on a pipe.
constexpr int kWouldWait = -2;

// The line parser, shared by files and memory files over a byte source with
// int Get(bool mayWait) (a byte, -1 at the end, kWouldWait) and Unget(count).
template <typename Source>
bool ParseByteLine(Source& src, XStr& line, bool utf8, bool skipMark, int& pendingLF)
{
    std::string collected;
    collected.reserve(256);
    for (;;) {
        const int c = src.Get(true);
        if (c < 0) {
            if (collected.empty())
                return false;
            break;
        }
        if (skipMark && c == 0xEF && collected.empty()) {
            const int c2 = src.Get(true);
            const int c3 = c2 < 0 ? -1 : src.Get(true);
            if (c2 == 0xBB && c3 == 0xBF)
                continue;
            src.Unget((c2 >= 0) + (c3 >= 0));
            collected += static_cast<char>(c);
            continue;
        }
        if (c == 0)
            continue;
        if (c == '\n')
            break;
        if (c == '\r') {
            const int next = src.Get(false);
            if (next == kWouldWait) {
                pendingLF = 1;
            } else if (next < 0) {
                if (collected.empty())
                    return false;
            } else if (next != '\n') {
                src.Unget(1);
            }
            break;
        }
        collected += static_cast<char>(c);
    }
    line = utf8 ? XStr::FromUTF8Bytes(collected.data(), collected.size())
                : XStr::FromAnsiData(collected.data(), collected.size());
    return true;
}

template <typename Source>
bool ParseUTF16Line(Source& src, XStr& line, int& pendingLF)
{
    std::wstring text;
    auto unit = [&](bool mayWait) -> int {
        const int a = src.Get(mayWait);
        if (a < 0)
            return a;
        const int b = src.Get(true);
        if (b < 0)
            return -1; // half a unit: the end
        return a | (b << 8);
    };
    for (;;) {
        const int u = unit(true);
        if (u < 0)
            break;
        if (u == 0xFEFF && text.empty())
            continue;
        if (u == '\n') {
            line = XStr(std::wstring_view(text));
            return true;
        }
        if (u == '\r') {
            const int next = unit(false);
            if (next == kWouldWait) {
                pendingLF = 2;
            } else if (next < 0) {
                break;
            } else if (next != '\n') {
                src.Unget(2);
            }
            line = XStr(std::wstring_view(text));
            return true;
        }
        if (u != 0)
            text += static_cast<wchar_t>(u);
    }
    line = XStr(std::wstring_view(text));
    return !text.empty();
}

} // namespace

// Bytes of an XFile for the line parser. A seekable file is read in blocks and positioned
// back behind the line; a pipe keeps what it read ahead in the XFile.
class XFileLineSource {
public:
    explicit XFileLineSource(XFile& file) : m_file(file)
    {
        m_start = lseek(file.Handle, 0, SEEK_CUR);
        m_seekable = m_start >= 0;
        if (!m_seekable) {
            m_data = std::move(file.m_pending);
            file.m_pending.clear();
        }
    }

    int Get(bool mayWait)
    {
        if (m_index == m_data.size()) {
            if (m_end)
                return -1;
            if (!m_seekable && !mayWait)
                return kWouldWait;
            char block[4096];
            const ssize_t n = XReadRetry(m_file.Handle, block, sizeof block);
            if (n <= 0) {
                m_end = true;
                return -1;
            }
            m_data.append(block, static_cast<size_t>(n));
        }
        return static_cast<uint8_t>(m_data[m_index++]);
    }

    void Unget(size_t count) { m_index -= std::min(count, m_index); }

    void Finish()
    {
        if (m_seekable)
            lseek(m_file.Handle, m_start + static_cast<off_t>(m_index), SEEK_SET);
        else
            m_file.m_pending = m_data.substr(m_index);
    }

private:
    XFile& m_file;
    std::string m_data;
    size_t m_index = 0;
    off_t m_start = 0;
    bool m_seekable = false;
    bool m_end = false;
};

namespace {

class MemLineSource {
public:
    explicit MemLineSource(XMemFile& file) : m_file(file)
    {
        const auto used = static_cast<int64_t>(file.Buffer.Used);
        m_file.Position = std::clamp<int64_t>(m_file.Position, 0, used);
    }
    int Get(bool)
    {
        if (!m_file.Buffer.Data || m_file.Position >= static_cast<int64_t>(m_file.Buffer.Used))
            return -1;
        return m_file.Buffer.Data[m_file.Position++];
    }
    void Unget(size_t count) { m_file.Position -= std::min<int64_t>(static_cast<int64_t>(count), m_file.Position); }

private:
    XMemFile& m_file;
};

// The line writers of XFile and XMemFile: "\r\n" after the text when newline.
template <typename File>
bool WriteTextLine(File& file, const char* text, bool newline)
{
    const char* t = text ? text : "";
    bool ok = file.Write(t, strlen(t), 2);
    if (newline && ok)
        ok = file.Write("\r\n", 2, 2);
    return ok;
}

// Each character as its low 16 bits, little-endian.
template <typename File>
bool WriteUTF16Line(File& file, const wchar_t* text, bool newline)
{
    std::string bytes;
    if (text)
        for (; *text; ++text) {
            bytes += static_cast<char>(*text & 0xFF);
            bytes += static_cast<char>((*text >> 8) & 0xFF);
        }
    if (newline)
        bytes.append("\r\0\n\0", 4);
    return file.Write(bytes.data(), bytes.size(), 2);
}

// The bytes [start, end) that a negative delta removes before offset, clipped to the size:
// -1 (errno EINVAL) when they would begin before the file, 0 when none are left, else 1.
int RemovalRange(int64_t offset, int64_t delta, int64_t size, int64_t& start, int64_t& end)
{
    start = offset + delta;
    if (start < 0) {
        errno = EINVAL;
        return -1;
    }
    end = std::min(offset, size);
    return start < end ? 1 : 0;
}

// Memory-file twin of ShiftTail: the same rules over Data[0, Used).
bool ShiftBuffer(XMemFile& mem, int64_t offset, int64_t delta, bool zeroFill)
{
    XBuffer& b = mem.Buffer;
    const auto size = static_cast<int64_t>(b.Used);
    if (delta > 0) {
        if (offset > size)
            offset = size;
        if (!mem.SetSize(size + delta, true))
            return false;
        memmove(b.Data + offset + delta, b.Data + offset, static_cast<size_t>(size - offset));
        if (zeroFill)
            memset(b.Data + offset, 0, static_cast<size_t>(delta));
        return true;
    }
    int64_t start = 0;
    int64_t end = 0;
    if (const int range = RemovalRange(offset, delta, size, start, end); range <= 0)
        return range == 0;
    if (end < size)
        memmove(b.Data + start, b.Data + end, static_cast<size_t>(size - end));
    b.Used = static_cast<uint64_t>(size - (end - start));
    return true;
}

} // namespace

// =============================================================================================
// XFile

XFile::XFile() = default;

XFile::XFile(int fd) : Handle(fd) {}

XFile::XFile(const wchar_t* name, int access, uint32_t disposition, bool reportErrors, int share)
{
    Open(name, access, disposition, reportErrors, share);
}

XFile::XFile(const char* name, int access, uint32_t disposition, bool reportErrors, int share)
{
    Open(name, access, disposition, reportErrors, share);
}

XFile::~XFile()
{
    Close();
}

void XFile::ReportFailure(const char* what)
{
    if (!ReportErrors)
        return;
    const int err = errno;
    const std::string text = std::string(what) + Name.ToUTF8String() + "'";
    puts(text.c_str());
    errno = err;
}

bool XFile::Open(const wchar_t* name, int access, uint32_t disposition, bool reportErrors, int share)
{
    Close();
    if (access & 2)
        XIgnoreFileSizeSignal();
    Name = name ? name : L"";
    OwnsHandle = true;
    ReportErrors = reportErrors;
    // A FIFO without a writer, or a device, would block open itself: no open waits for a
    // peer. Reads and writes on the descriptor block as usual again (see below).
    int flags = ((access & 2) ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool truncate = false;
    switch (disposition & 7) {
    case XFILE_CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case XFILE_CREATE_ALWAYS:
        flags |= O_CREAT;
        truncate = true;
        break;
    case XFILE_OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case XFILE_TRUNCATE_EXISTING:
        truncate = true;
        break;
    default:
        break;
    }
    const bool lock = !(disposition & XFILE_NO_LOCK);
    // Without a lock to respect the file may be truncated by open itself; with one, only
    // once the lock is ours: a conflict must leave another process's file untouched.
    if (truncate && !lock)
        flags |= O_TRUNC;
    const std::string path = Name.ToUTF8String();
    int fd;
    do
        fd = open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReportFailure("Unable to open '");
        return false;
    }
    if (lock) {
        int operation = share == 1 ? LOCK_SH : LOCK_EX;
        if (!(disposition & XFILE_WAIT_FOR_LOCK))
            operation |= LOCK_NB;
        int r;
        do
            r = flock(fd, operation);
        while (r != 0 && errno == EINTR);
        if (r != 0 && errno == EWOULDBLOCK) {
            close(fd);
            errno = EWOULDBLOCK;
            ReportFailure("Unable to open '");
            return false;
        }
        // Any other flock failure (a file system without locks): open without a lock.
        if (truncate) {
            bool truncated = ftruncate(fd, 0) == 0;
            if (!truncated && (errno == EINVAL || errno == EBADF) && !(access & 2)) {
                // Opened for reading only: truncate through a second, short-lived descriptor.
                const int w = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
                truncated = w >= 0;
                if (w >= 0)
                    close(w);
            }
            if (!truncated) {
                const int err = errno;
                close(fd);
                errno = err;
                ReportFailure("Unable to open '");
                return false;
            }
        }
    }
    const int status = fcntl(fd, F_GETFL);
    if (status != -1)
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    Handle = fd;
    return true;
}

bool XFile::Open(const char* name, int access, uint32_t disposition, bool reportErrors, int share)
{
    const XStr wide = XStr::FromAnsi(name ? name : "");
    return Open(wide.p, access, disposition, reportErrors, share);
}

bool XFile::OpenRead(const wchar_t* name)
{
    return Open(name, 1, 3, false, 1);
}

bool XFile::OpenUpdate(const wchar_t* name)
{
    return Open(name, 2, 3, false, 1);
}

bool XFile::OpenCreate(const wchar_t* name)
{
    return Open(name, 2, 2, false, 1);
}

bool XFile::OpenAlways(const wchar_t* name)
{
    return Open(name, 2, 4, false, 1);
}

namespace {
bool RetryWhileLocked(const std::function<bool()>& open)
{
    for (int attempt = 0; attempt < 100; attempt++) {
        if (open())
            return true;
        if (errno != EAGAIN)
            return false;
        Sleep(100);
    }
    return false;
}
} // namespace

bool XFile::OpenReadMedia(const wchar_t* name)
{
    const XStr path(name ? name : L"");
    return RetryWhileLocked([&] { return Open(path.p, 1, 3, false, 1); });
}

bool XFile::OpenUpdateMedia(const wchar_t* name)
{
    const XStr path(name ? name : L"");
    return RetryWhileLocked([&] { return Open(path.p, 2, 3, false, 1); });
}

void XFile::Close()
{
    if (Handle != -1 && OwnsHandle)
        close(Handle);
    Handle = -1;
    m_pending.clear();
    m_pendingLF = 0;
}

void XFile::Attach(int fd)
{
    Close();
    Handle = fd;
    OwnsHandle = false;
    ReportErrors = false;
}

bool XFile::AttachDuplicate(int fd)
{
    Close();
    ReportErrors = false;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    Handle = copy;
    OwnsHandle = true;
    return true;
}

bool XFile::DuplicateHandle(int fd, uint64_t* out)
{
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    if (out)
        *out = static_cast<uint32_t>(copy);
    return true;
}

bool XFile::Lock(bool exclusive, bool nonBlocking)
{
    int operation = exclusive ? LOCK_EX : LOCK_SH;
    if (nonBlocking)
        operation |= LOCK_NB;
    int r;
    do
        r = flock(Handle, operation);
    while (r != 0 && errno == EINTR && !nonBlocking);
    return r == 0;
}

bool XFile::PositionFor(int origin)
{
    if (origin == 0 || origin == 1) {
        m_pending.clear();
        m_pendingLF = 0;
        return lseek(Handle, 0, origin == 0 ? SEEK_SET : SEEK_END) >= 0;
    }
    return true;
}

uint32_t XFile::Read(void* buffer, uint32_t size, int origin, bool* failed)
{
    if (failed)
        *failed = false;
    if (Handle == -1 || !PositionFor(origin) || (!buffer && size)) {
        if (failed)
            *failed = true;
        ReportFailure("Unable to read from '");
        return 0;
    }
    if (!m_pending.empty() && size) {
        // Bytes a line read took ahead from a pipe come first.
        const size_t n = std::min<size_t>(size, m_pending.size());
        memcpy(buffer, m_pending.data(), n);
        m_pending.erase(0, n);
        return static_cast<uint32_t>(n);
    }
    const ssize_t n = XReadRetry(Handle, buffer, size);
    if (n < 0) {
        if (failed)
            *failed = true;
        ReportFailure("Unable to read from '");
        return 0;
    }
    return static_cast<uint32_t>(n);
}

bool XFile::Write(const void* data, size_t size, int origin)
{
    if (!data) {
        if (size == 0)
            return true;
        if (ReportErrors)
            puts("Error writing a NULL buffer to file");
        errno = EINVAL;
        return false;
    }
    XIgnoreFileSizeSignal();
    if (Handle == -1 || !PositionFor(origin) || !XWriteFully(Handle, data, size)) {
        if (Handle == -1)
            errno = EBADF;
        ReportFailure("Unable to write to '");
        return false;
    }
    return true;
}

bool XFile::Seek(int64_t offset, int origin)
{
    const int whence = WhenceFor(origin);
    if (Handle == -1 || whence < 0)
        return false;
    if (whence == SEEK_CUR && !m_pending.empty())
        offset -= static_cast<int64_t>(m_pending.size());
    if (lseek(Handle, static_cast<off_t>(offset), whence) < 0)
        return false;
    m_pending.clear();
    m_pendingLF = 0;
    return true;
}

int64_t XFile::GetPosition() const
{
    if (Handle == -1)
        return -1;
    return static_cast<int64_t>(lseek(Handle, 0, SEEK_CUR));
}

int64_t XFile::GetSize(bool* failed) const
{
    struct stat st;
    return StatHandle(Handle, st, failed) ? static_cast<int64_t>(st.st_size) : -1;
}

bool XFile::IsRegularFile() const
{
    struct stat st;
    return Handle != -1 && fstat(Handle, &st) == 0 && S_ISREG(st.st_mode);
}

bool XFile::Truncate(int64_t length)
{
    XIgnoreFileSizeSignal();
    return Handle != -1 && ftruncate(Handle, static_cast<off_t>(length)) == 0;
}

uint64_t XFile::GetCreateTime(bool* failed) const
{
    struct stat st;
    return StatHandle(Handle, st, failed) ? BirthTime(Handle, st) : 0;
}

uint64_t XFile::GetAccessTime(bool* failed) const
{
    struct stat st;
    return StatHandle(Handle, st, failed) ? XStatToFileTimeAccess(st) : 0;
}

uint64_t XFile::GetWriteTime(bool* failed) const
{
    struct stat st;
    return StatHandle(Handle, st, failed) ? XStatToFileTimeWrite(st) : 0;
}

bool XFile::ShiftTail(int64_t offset, int64_t delta, bool zeroFill)
{
    if (offset < 0 || delta == 0)
        return true;
    XIgnoreFileSizeSignal();
    struct stat st;
    if (Handle == -1 || fstat(Handle, &st) != 0)
        return false;
    const auto size = static_cast<int64_t>(st.st_size);
    std::vector<char> buffer(kShiftChunk);

    if (delta > 0) {
        if (offset > size)
            offset = size;
        // Claim the room first: a full disk must fail before a single byte has moved.
        const int reserve = posix_fallocate(Handle, static_cast<off_t>(size), static_cast<off_t>(delta));
        if (reserve != 0) {
            if (ftruncate(Handle, static_cast<off_t>(size)) != 0) {
                // The length was not changed by the failed reservation in the first place.
            }
            errno = reserve;
            return false;
        }
        // From the end backwards, so that no chunk overwrites bytes not yet moved.
        for (int64_t pos = size; pos > offset;) {
            const auto chunk = static_cast<size_t>(std::min<int64_t>(kShiftChunk, pos - offset));
            pos -= static_cast<int64_t>(chunk);
            if (!PReadFully(Handle, buffer.data(), chunk, static_cast<off_t>(pos)) ||
                !XWriteFully(Handle, buffer.data(), chunk, static_cast<off_t>(pos + delta)))
                return false; // the file keeps its new length: nothing is cut away
        }
        if (zeroFill) {
            std::fill(buffer.begin(), buffer.end(), 0);
            for (int64_t pos = offset; pos < offset + delta;) {
                const auto chunk = static_cast<size_t>(std::min<int64_t>(kShiftChunk, offset + delta - pos));
                if (!XWriteFully(Handle, buffer.data(), chunk, static_cast<off_t>(pos)))
                    return false;
                pos += static_cast<int64_t>(chunk);
            }
        }
        return true;
    }

    // Removal of the bytes [offset + delta, offset).
    int64_t start = 0;
    int64_t end = 0;
    if (const int range = RemovalRange(offset, delta, size, start, end); range <= 0)
        return range == 0;
    const int64_t gap = end - start;
    for (int64_t pos = end; pos < size;) {
        const auto chunk = static_cast<size_t>(std::min<int64_t>(kShiftChunk, size - pos));
        if (!PReadFully(Handle, buffer.data(), chunk, static_cast<off_t>(pos)) ||
            !XWriteFully(Handle, buffer.data(), chunk, static_cast<off_t>(pos - gap)))
            return false; // not truncated: the bytes not yet moved are still at the end
        pos += static_cast<int64_t>(chunk);
    }
    return ftruncate(Handle, static_cast<off_t>(size - gap)) == 0;
}

bool XFile::ReadLine(XStr& line, bool utf16, bool utf8)
{
    line = L"";
    if (Handle == -1)
        return false;
    XFileLineSource src(*this);
    if (m_pendingLF) {
        // The CR that ended the last line came alone; its LF may follow now.
        const bool unit = m_pendingLF == 2;
        m_pendingLF = 0;
        const int a = src.Get(true);
        const int b = unit && a >= 0 ? src.Get(true) : 0;
        if (!(a == '\n' && b == 0))
            src.Unget((a >= 0) + (unit && b >= 0));
    }
    const bool ok = utf16 ? ParseUTF16Line(src, line, m_pendingLF) : ParseByteLine(src, line, utf8, utf8, m_pendingLF);
    src.Finish();
    return ok;
}

bool XFile::WriteLine(const char* text, bool newline)
{
    return WriteTextLine(*this, text, newline);
}

bool XFile::WriteLineUTF16(const wchar_t* text, bool newline)
{
    return WriteUTF16Line(*this, text, newline);
}

namespace {
// Whether the file starts with the byte-order mark; a file still at its start moves behind it.
bool SkipByteOrderMark(XFile& file, const unsigned char* mark, size_t size)
{
    if (file.Handle == -1)
        return false;
    unsigned char head[3];
    if (pread(file.Handle, head, size, 0) != static_cast<ssize_t>(size) || memcmp(head, mark, size) != 0)
        return false;
    if (file.GetPosition() == 0)
        lseek(file.Handle, static_cast<off_t>(size), SEEK_SET);
    return true;
}
} // namespace

bool XFile::HasUTF16BOM()
{
    static const unsigned char mark[2] = {0xFF, 0xFE};
    return SkipByteOrderMark(*this, mark, sizeof mark);
}

bool XFile::HasUTF8BOM()
{
    static const unsigned char mark[3] = {0xEF, 0xBB, 0xBF};
    return SkipByteOrderMark(*this, mark, sizeof mark);
}

bool XFile::WriteUTF16BOM()
{
    const unsigned char mark[2] = {0xFF, 0xFE};
    return Write(mark, 2, 0);
}

// =============================================================================================
// XMemFile

XMemFile::~XMemFile()
{
    Buffer.Free();
}

bool XMemFile::Reserve(uint64_t size)
{
    if (size <= Buffer.Size && Buffer.Data)
        return true;
    const uint64_t used = Buffer.Used;
    const bool ok = Buffer.SetSize(size, true, false, size * 2 / 3);
    if (ok)
        Buffer.Used = used;
    return ok;
}

bool XMemFile::Write(const void* data, size_t length, int origin)
{
    if (origin == 0)
        Position = 0;
    else if (origin == 1)
        Position = static_cast<int64_t>(Buffer.Used);
    if (length == 0)
        return true;
    if (!data) {
        errno = EINVAL;
        return false;
    }
    const uint64_t end = static_cast<uint64_t>(Position) + length;
    if (!Reserve(end))
        return false;
    if (static_cast<uint64_t>(Position) > Buffer.Used)
        memset(Buffer.Data + Buffer.Used, 0, static_cast<size_t>(static_cast<uint64_t>(Position) - Buffer.Used));
    memcpy(Buffer.Data + Position, data, length);
    Position = static_cast<int64_t>(end);
    Buffer.Used = std::max(Buffer.Used, end);
    return true;
}

size_t XMemFile::Read(void* dst, size_t length, int origin)
{
    if (origin == 0)
        Position = 0;
    else if (origin == 1)
        Position = static_cast<int64_t>(Buffer.Used);
    else
        Position = std::clamp<int64_t>(Position, 0, static_cast<int64_t>(Buffer.Used));
    if (!Buffer.Data || !dst)
        return 0;
    const size_t n = std::min<uint64_t>(Buffer.Used - static_cast<uint64_t>(Position), length);
    memcpy(dst, Buffer.Data + Position, n);
    Position += static_cast<int64_t>(n);
    return n;
}

bool XMemFile::Seek(int64_t offset, int origin)
{
    int64_t base = 0;
    if (origin == 1)
        base = static_cast<int64_t>(Buffer.Used);
    else if (origin == 2)
        base = Position;
    const int64_t target = std::max<int64_t>(0, offset + base);
    if (static_cast<uint64_t>(target) > Buffer.Used && !SetSize(target, true))
        return false;
    Position = target;
    return true;
}

bool XMemFile::SetSize(int64_t length, bool reserve)
{
    const uint64_t size = static_cast<uint64_t>(std::max<int64_t>(0, length));
    if (size <= Buffer.Used) {
        Buffer.Used = size;
        return true;
    }
    if (size > Buffer.Size || !Buffer.Data) {
        const uint64_t used = Buffer.Used;
        if (!Buffer.SetSize(size, true, false, reserve ? size * 2 / 3 : 0))
            return false;
        Buffer.Used = used;
    }
    memset(Buffer.Data + Buffer.Used, 0, static_cast<size_t>(size - Buffer.Used));
    Buffer.Used = size;
    return true;
}

bool XMemFile::WriteLine(const char* text, bool newline)
{
    return WriteTextLine(*this, text, newline);
}

bool XMemFile::WriteLineUTF16(const wchar_t* text, bool newline)
{
    return WriteUTF16Line(*this, text, newline);
}

bool XMemFile::ShiftTail(int64_t offset, int64_t delta, bool zeroFill)
{
    if (offset < 0 || delta == 0)
        return true;
    return ShiftBuffer(*this, offset, delta, zeroFill);
}

bool XMemFile::ReadLine(XStr& line, bool utf16, bool utf8)
{
    line = L"";
    MemLineSource src(*this);
    int pendingLF = 0; // memory never makes a look-ahead wait
    return utf16 ? ParseUTF16Line(src, line, pendingLF) : ParseByteLine(src, line, utf8, false, pendingLF);
}

bool XMemFile::LoadFromHandle(int fd)
{
    Buffer.Used = 0;
    Position = 0;
    if (fd < 0 || lseek(fd, 0, SEEK_SET) < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    if (st.st_size == 0)
        return true;
    const auto size = static_cast<uint64_t>(st.st_size);
    if (!Reserve(size))
        return false;
    const ssize_t n = ReadFully(fd, Buffer.Data, static_cast<size_t>(size));
    if (n < 0)
        return false;
    Buffer.Used = static_cast<uint64_t>(n);
    return true;
}

bool XMemFile::LoadFromFile(const wchar_t* path)
{
    Buffer.Used = 0;
    Position = 0;
    if (!XFileExists(path))
        return true;
    XFile file;
    if (!file.Open(path, 1, 3, false, 1))
        return false;
    if (!file.IsRegularFile()) {
        errno = EINVAL;
        return false;
    }
    return LoadFromHandle(file.Handle);
}

bool XMemFile::SaveToHandle(int fd)
{
    if (fd == -1)
        return false;
    struct stat st;
    if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= 4294967295ULL)
        return false;
    XIgnoreFileSizeSignal();
    return Buffer.Used == 0 || XWriteFully(fd, Buffer.Data, static_cast<size_t>(Buffer.Used));
}

bool XMemFile::SaveToFile(const wchar_t* path)
{
    XFile file;
    if (!file.Open(path, 2, 2, false, 1))
        return false;
    return SaveToHandle(file.Handle);
}

// =============================================================================================
// Whole files

bool XFileReadAll(const wchar_t* path, XBuffer& out)
{
    out.Free();
    XFile file;
    if (!file.Open(path, 1, 3, false, 1))
        return !XFileExists(path);
    // A FIFO or a device has no size to read up to: it could block or never end.
    if (!file.IsRegularFile()) {
        errno = EINVAL;
        return false;
    }
    const int64_t size = file.GetSize();
    if (size < 0 || static_cast<uint64_t>(size) >= 4294967295ULL)
        return false;
    if (size == 0)
        return true;
    if (!out.SetSize(static_cast<uint64_t>(size), false))
        return false;
    const ssize_t n = ReadFully(file.Handle, out.Data, static_cast<size_t>(size));
    if (n != size) {
        out.Used = n > 0 ? static_cast<uint64_t>(n) : 0;
        return false;
    }
    out.Used = static_cast<uint64_t>(size);
    return true;
}

bool XFileReadAll(const wchar_t* path, XMemFile& out)
{
    const bool ok = XFileReadAll(path, out.Buffer);
    out.Position = 0;
    out.Buffer.Used = std::min(out.Buffer.Used, out.Buffer.Size);
    return ok;
}

bool XFileWriteDirect(const wchar_t* path, const void* data, size_t size)
{
    XFile file;
    if (!file.Open(path, 2, 2, false, 1))
        return false;
    return file.Write(data, size, 2);
}

bool XFileWriteDirect(const wchar_t* path, const XBuffer& buffer)
{
    return XFileWriteDirect(path, buffer.Data, static_cast<size_t>(buffer.Used));
}

uint32_t XFileReadAt(const wchar_t* path, void* buffer, uint32_t size, int64_t offset, int origin, bool* failed,
                     bool reportErrors)
{
    if (failed)
        *failed = true;
    XFile file;
    if (!file.Open(path, 1, 3, reportErrors, 1) || !file.Seek(offset, origin))
        return 0;
    return file.Read(buffer, size, 2, failed);
}

namespace {
// A getter of XFile applied to the file at path, opened for reading; fallback when it won't open.
template <typename T>
T FromOpenFile(const wchar_t* path, bool* failed, T fallback, T (XFile::*getter)(bool*) const)
{
    XFile file;
    if (!file.Open(path, 1, 3, false, 1)) {
        if (failed)
            *failed = true;
        return fallback;
    }
    return (file.*getter)(failed);
}
} // namespace

int64_t XFileSize(const wchar_t* path, bool* failed)
{
    return FromOpenFile<int64_t>(path, failed, -1, &XFile::GetSize);
}

uint64_t XFileCreateTime(const wchar_t* path, bool* failed)
{
    return FromOpenFile<uint64_t>(path, failed, 0, &XFile::GetCreateTime);
}

uint64_t XFileAccessTime(const wchar_t* path, bool* failed)
{
    return FromOpenFile<uint64_t>(path, failed, 0, &XFile::GetAccessTime);
}

uint64_t XFileWriteTime(const wchar_t* path, bool* failed)
{
    return FromOpenFile<uint64_t>(path, failed, 0, &XFile::GetWriteTime);
}

XStr XFileReadLink(const wchar_t* path)
{
    const std::string bytes = XStr(path ? path : L"").ToUTF8String();
    std::vector<char> buffer(1024);
    for (;;) {
        const ssize_t n = readlink(bytes.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return XStr();
        if (static_cast<size_t>(n) < buffer.size())
            return XStr::FromUTF8Bytes(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

ssize_t XReadRetry(int fd, void* buffer, size_t size)
{
    ssize_t n;
    do
        n = read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n;
}

bool XWriteFully(int fd, const void* data, size_t size, int64_t offset)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = offset < 0 ? write(fd, bytes, size) : pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        if (offset >= 0)
            offset += n;
    }
    return true;
}

XStr XErrnoText(int err)
{
    char buffer[256];
    const char* text = strerror_r(err, buffer, sizeof buffer);
    XStr result = XStr::FromUTF8(text ? text : "");
    if (!result.IsEmpty())
        result.CatChar(L' ');
    result += XStr::FromUTF8("(errno:" + std::to_string(err) + ")");
    return result;
}

XStr XErrnoText()
{
    return XErrnoText(errno);
}

void XIgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current;
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
            current.sa_handler == SIG_DFL)
            signal(SIGXFSZ, SIG_IGN);
    });
}
