// XTime: the library's local date and time, a broken-down local time (struct tm) with
// arithmetic done on epoch seconds, plus the Windows-style XSystemTime record and 64-bit
// file times (100-ns units since 1601-01-01, whole seconds only).
#pragma once

#include <cstdint>
#include <ctime>
#include <sys/time.h>

#include "xclass/XStr.h"

// Seconds from 1601-01-01 to 1970-01-01, in 100-ns units.
constexpr uint64_t XFILETIME_UNIX_EPOCH = 116444736000000000ULL;
constexpr uint64_t XFILETIME_PER_SECOND = 10000000ULL;

// Whole seconds since 1970 <-> file time. Sub-second parts are dropped: file times of the
// library are always whole seconds.
constexpr uint64_t XUnixTimeToFileTime(int64_t seconds)
{
    return static_cast<uint64_t>(seconds) * XFILETIME_PER_SECOND + XFILETIME_UNIX_EPOCH;
}
constexpr int64_t XFileTimeToUnixTime(uint64_t fileTime)
{
    // Signed division so that times before 1970 come back negative.
    return (static_cast<int64_t>(fileTime - XFILETIME_UNIX_EPOCH)) / static_cast<int64_t>(XFILETIME_PER_SECOND);
}

// The current time (time(NULL)) as a file time.
uint64_t XGetFileTimeNow();

struct XSystemTime {
    uint16_t wYear;
    uint16_t wMonth;     // 1-12
    uint16_t wDayOfWeek; // 0-6, Sunday 0
    uint16_t wDay;       // 1-31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

class XTime {
public:
    struct tm Tm; // always a local time

    XTime(); // now
    explicit XTime(time_t seconds);
    explicit XTime(const XSystemTime& st); // day of week and milliseconds ignored; normalised
    XTime(const XTime& other) = default;
    XTime& operator=(const XTime& other) = default;

    time_t GetTime() const;            // seconds since 1970
    XSystemTime GetSystemTime() const; // milliseconds 0
    uint64_t GetFileTime() const;

    // Both operands are absolute times: the sum / difference of their epoch seconds.
    XTime operator+(const XTime& b) const;
    XTime& operator+=(const XTime& b);
    XTime operator-(const XTime& b) const;
    XTime& operator-=(const XTime& b);

    int Compare(const XTime& b) const; // -1 earlier, 0 equal, 1 later
    void Add(int64_t seconds, int64_t minutes = 0, int64_t hours = 0, int64_t days = 0);
    int64_t DiffSeconds(const XTime& other) const; // other - this
    int64_t DiffDays(const XTime& other) const;    // whole days, truncated toward zero

    XStr FormatTime() const; // "HH:MM:SS"
    XStr FormatDate() const; // "YYYY-MM-DD"
    XStr AscTime() const;    // asctime text, ends with a line feed

private:
    void SetFromSeconds(time_t seconds);
};

double XTimevalToSeconds(const struct timeval& tv);
struct timeval XSecondsToTimeval(double seconds);
