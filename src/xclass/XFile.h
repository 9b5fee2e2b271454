// XFile: the library's file handle, a POSIX descriptor with its name, opened with
// Windows-style access and disposition codes and guarded between processes by flock share
// modes. XMemFile offers the same reading, writing and line operations over memory. The
// free functions at the end read or write a whole file in one call.
//
// Origin codes of Read, Write and Seek: 0 from the beginning, 1 from the end, 2 from the
// current position (Read and Write first move to the beginning or the end for 0 and 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "xclass/XBuffer.h"
#include "xclass/XStr.h"

// Access codes of XFile::Open.
constexpr int XFILE_READ = 1;
constexpr int XFILE_READWRITE = 2; // any value with bit 2 set

// Disposition codes of XFile::Open (low three bits) and its two locking flags.
constexpr uint32_t XFILE_CREATE_NEW = 1;    // fail if the file exists
constexpr uint32_t XFILE_CREATE_ALWAYS = 2; // create or truncate
constexpr uint32_t XFILE_OPEN_EXISTING = 3;
constexpr uint32_t XFILE_OPEN_ALWAYS = 4; // create when missing
constexpr uint32_t XFILE_TRUNCATE_EXISTING = 5;
constexpr uint32_t XFILE_WAIT_FOR_LOCK = 0x40000000u; // wait instead of failing at once
constexpr uint32_t XFILE_NO_LOCK = 0x80000000u;

// Share codes.
constexpr int XFILE_SHARE_EXCLUSIVE = 0; // LOCK_EX
constexpr int XFILE_SHARE_READ = 1;      // LOCK_SH

class XFile {
public:
    XStr Name;
    int32_t Handle = -1;
    bool ReportErrors = false; // print failures of open, read and write on standard output
    bool OwnsHandle = false;   // close the descriptor on reopen, Close and destruction

    XFile();
    explicit XFile(int fd); // attaches without owning
    XFile(const wchar_t* name, int access, uint32_t disposition, bool reportErrors = false, int share = 1);
    XFile(const char* name, int access, uint32_t disposition, bool reportErrors = false, int share = 1);
    virtual ~XFile();
    XFile(const XFile&) = delete;
    XFile& operator=(const XFile&) = delete;

    // Opens (close-on-exec, mode 0666 less the umask) and, unless XFILE_NO_LOCK, takes a
    // shared (share 1) or exclusive (share 0) flock, failing at once on a conflict unless
    // XFILE_WAIT_FOR_LOCK. A file is truncated only once its lock is held, so an open that
    // fails on another process's lock changes nothing. The open itself never waits for the
    // other end of a FIFO or for a device. The narrow form reads Windows-1252.
    bool Open(const wchar_t* name, int access, uint32_t disposition, bool reportErrors = false, int share = 1);
    bool Open(const char* name, int access, uint32_t disposition, bool reportErrors = false, int share = 1);
    // Silent, shared lock: (1, 3), (2, 3), (2, 2), (2, 4).
    bool OpenRead(const wchar_t* name);
    bool OpenUpdate(const wchar_t* name);
    bool OpenCreate(const wchar_t* name);
    bool OpenAlways(const wchar_t* name);
    // OpenRead / OpenUpdate retried every 100 ms while another process holds a conflicting
    // lock, about ten seconds in all; any other failure ends at once.
    bool OpenReadMedia(const wchar_t* name);
    bool OpenUpdateMedia(const wchar_t* name);
    bool IsOpen() const { return Handle != -1; }

    void Close();
    void Attach(int fd);          // not owned
    bool AttachDuplicate(int fd); // owns dup(fd)
    static bool DuplicateHandle(int fd, uint64_t* out);
    bool Lock(bool exclusive, bool nonBlocking);

    // One read after positioning; failed (optional) tells an error from an empty read.
    uint32_t Read(void* buffer, uint32_t size, int origin = 2, bool* failed = nullptr);
    // True only when all size bytes were written (null data with size 0 succeeds).
    bool Write(const void* data, size_t size, int origin = 2);
    bool Seek(int64_t offset, int origin);
    int64_t GetPosition() const;                   // -1 when closed
    int64_t GetSize(bool* failed = nullptr) const; // -1 on failure
    // Open on a regular file (not a FIFO, a device, a socket or a folder).
    bool IsRegularFile() const;
    bool Truncate(int64_t length);
    // 100-ns units since 1601 (whole seconds); 0 and failed set when fstat fails. The
    // creation time is the birth time where the file system records one.
    uint64_t GetCreateTime(bool* failed = nullptr) const;
    uint64_t GetAccessTime(bool* failed = nullptr) const;
    uint64_t GetWriteTime(bool* failed = nullptr) const;
    // Moves the bytes from offset to the end by delta: delta > 0 inserts delta bytes at
    // offset (zeroed when zeroFill), delta < 0 removes the -delta bytes before offset. Space
    // for an insertion is reserved before anything moves and a removal that would reach
    // before offset 0 is refused, so a failure never cuts the file.
    bool ShiftTail(int64_t offset, int64_t delta, bool zeroFill);

    // One line without its line end (LF, CR or CR LF). utf16: 16-bit little-endian units;
    // otherwise bytes decoded as UTF-8 (utf8, a leading byte-order mark skipped) or as
    // Windows-1252. False at the end of the file with nothing read.
    bool ReadLine(XStr& line, bool utf16 = false, bool utf8 = false);
    bool WriteLine(const char* text, bool newline = true); // then "\r\n" when newline
    bool WriteLineUTF16(const wchar_t* text, bool newline = true);
    bool HasUTF16BOM();
    bool HasUTF8BOM();
    bool WriteUTF16BOM();

protected:
    bool PositionFor(int origin);
    void ReportFailure(const char* what);

private:
    friend class XFileLineSource;
    // Lines read from a pipe: bytes read ahead of the line, and a CR that ended the last
    // line before its LF had arrived (a pipe cannot be positioned back).
    std::string m_pending;
    int m_pendingLF = 0; // 1: skip one LF byte; 2: skip one LF unit (UTF-16)
};

class XMemFile {
public:
    XBuffer Buffer; // Used is the length of the data
    int64_t Position = 0;

    XMemFile() = default;
    ~XMemFile();
    XMemFile(const XMemFile&) = delete;
    XMemFile& operator=(const XMemFile&) = delete;

    bool Write(const void* data, size_t length, int origin = 2);
    size_t Read(void* dst, size_t length, int origin = 2);
    // A position beyond the data zero-fills up to it.
    bool Seek(int64_t offset, int origin);
    bool SetSize(int64_t length, bool reserve = false);
    bool WriteLine(const char* text, bool newline = true);
    bool WriteLineUTF16(const wchar_t* text, bool newline = true);
    bool ShiftTail(int64_t offset, int64_t delta, bool zeroFill);
    // As XFile::ReadLine, except that a UTF-8 byte-order mark is kept.
    bool ReadLine(XStr& line, bool utf16 = false, bool utf8 = false);

    bool LoadFromHandle(int fd);            // the whole file; Position 0
    bool LoadFromFile(const wchar_t* path); // a missing file loads as empty; false for no regular file
    bool SaveToHandle(int fd);              // Used bytes at the descriptor's position
    bool SaveToFile(const wchar_t* path);   // create always

private:
    bool Reserve(uint64_t size);
};

// ---- Whole files ----
// A missing file reads as empty (true); an existing one that cannot be read, or that is no
// regular file, is false.
bool XFileReadAll(const wchar_t* path, XBuffer& out);
bool XFileReadAll(const wchar_t* path, XMemFile& out);
// Create always and write in place. Readers may see a partial file: use XFileWriteAll
// (XFileRewrite.h) for files that others read.
bool XFileWriteDirect(const wchar_t* path, const void* data, size_t size);
bool XFileWriteDirect(const wchar_t* path, const XBuffer& buffer);
uint32_t XFileReadAt(const wchar_t* path, void* buffer, uint32_t size, int64_t offset, int origin,
                     bool* failed = nullptr, bool reportErrors = false);
int64_t XFileSize(const wchar_t* path, bool* failed = nullptr);
uint64_t XFileCreateTime(const wchar_t* path, bool* failed = nullptr);
uint64_t XFileAccessTime(const wchar_t* path, bool* failed = nullptr);
uint64_t XFileWriteTime(const wchar_t* path, bool* failed = nullptr);
XStr XFileReadLink(const wchar_t* path); // empty when it is no link

// Descriptor I/O that survives signals. XReadRetry is one read() repeated while it is
// interrupted (the count, 0 at the end, -1 on an error). XWriteFully writes every byte, at
// offset when it is not negative, else at the descriptor's position.
ssize_t XReadRetry(int fd, void* buffer, size_t size);
bool XWriteFully(int fd, const void* data, size_t size, int64_t offset = -1);

// strerror(err) + " (errno:N)".
XStr XErrnoText(int err);
XStr XErrnoText();

// A file-size limit (ulimit -f) makes writes fail with EFBIG instead of killing the process:
// sets SIGXFSZ to be ignored unless the program installed a handler of its own. The file
// functions of the library call it before writing.
void XIgnoreFileSizeSignal();
