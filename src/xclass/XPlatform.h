// The platform layer: the Windows-named calls that code written for Windows expects, the
// console and report channels of command-line tools, random bytes, and what the library
// knows about volumes (mount points, volume roots, external and remote volumes).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "xclass/XStr.h"
#include "xclass/XTime.h"

// ---- Windows-named calls -----------------------------------------------------------------

void Sleep(uint32_t ms);
// Milliseconds of a monotonic clock, 32-bit and wrapping after about 49.7 days: compare
// unsigned differences (GetTickCount() - start >= timeout). A change of the wall clock does
// not move it, so every time-out of the library is built on it.
uint32_t GetTickCount();
int64_t GetTickCount64();
// Microseconds since 1970 (wall clock); the frequency is 1000000.
bool QueryPerformanceCounter(uint64_t* out);
bool QueryPerformanceFrequency(uint64_t* out);
bool CloseHandle(int64_t fd);
uint32_t GetCurrentProcessId();
// waitpid that goes on after a signal interrupted it.
int XWaitPid(int pid, int* status, int options);
void GetLocalTime(XSystemTime* out);
bool SystemTimeToFileTime(const XSystemTime* st, uint64_t* out);

// Bounded copies: 0, or EINVAL / ERANGE (also in errno) with dst emptied.
int strcpy_s(char* dst, size_t size, const char* src);
int strcat_s(char* dst, size_t size, const char* src);
// 0 with *out set, else errno (or -1); *out untouched on failure.
int _wfopen_s(FILE** out, const wchar_t* path, const wchar_t* mode);

// ---- Console -----------------------------------------------------------------------------

void XPrintW(const wchar_t* text); // as UTF-8 to standard output
void XPrintA(const char* text);    // the bytes as they are
void XPrint1252(const char* text); // Windows-1252 in, UTF-8 out
void XTrace(const wchar_t* format, ...);

// ---- Report channels of command-line tools ---------------------------------------------------

// Three descriptors; 0 or -1 means "write nothing there".
struct STNStdReport {
    int64_t hFileError = 2;
    int64_t hFileInfo = 2;
    int64_t hFileDebug = 2;

    // "*** Error: " + line to hFileDebug, then the line alone to hFileError. The line is the
    // text, then "  [" + context + "]" when a context (Windows-1252) is given, then "\r\n".
    void Error(const wchar_t* text, const char* context = nullptr);
    void Information(const wchar_t* text, const char* context = nullptr);
};

// ---- Random bytes ----------------------------------------------------------------------------

// 16 bytes from /dev/urandom (from getrandom, else a clock mix, when that cannot deliver).
void XRandomBytes16(uint8_t out[16]);
// The same 16 bytes as 32 upper-case hexadecimal digits.
XStr XRandomHex32();

// ---- Volumes -----------------------------------------------------------------------------------

// The mount point (from /proc/self/mountinfo) of the file system holding path, without a
// trailing "/" except for "/" itself. The path is resolved first (links followed); a path
// that does not exist yet is looked up through its nearest existing parent. Empty on failure.
XStr XGetMountPoint(const XStr& path);
// The file-system type of that mount ("ext4", "nfs4", "fuse.sshfs", ...); empty on failure.
XStr XGetMountType(const XStr& path);

// The folders that hold the mounted volumes, each with a trailing "/": "/media/",
// "/media/$USER/", "/run/media/$USER/" and "/mnt/" (the ones USER is known for).
std::vector<XStr> XGetVolumeRootFolders();
// True when path, with or without a trailing "/", is one of those folders.
bool XIsVolumeRootFolder(const XStr& path);

// True when the path's volume is mounted under a volume-root folder or sits on a removable
// block device. Every failure gives false.
bool XIsVolumeExternal(const XStr& path);
// True when the path's volume is a network file system. Every failure gives false.
bool XIsVolumeRemote(const XStr& path);
