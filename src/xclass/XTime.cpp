#include "xclass/XTime.h"

#include <cmath>
#include <cstring>

namespace {
// mktime on a copy: the stored fields stay as they are. tm_isdst is kept as localtime set
// it (or -1), so an hour that exists twice on the night summer time ends keeps its meaning.
time_t MakeTime(const struct tm& fields)
{
    struct tm copy = fields;
    return mktime(&copy);
}
} // namespace

uint64_t XGetFileTimeNow()
{
    return XUnixTimeToFileTime(static_cast<int64_t>(time(nullptr)));
}

XTime::XTime()
{
    memset(&Tm, 0, sizeof Tm);
    SetFromSeconds(time(nullptr));
}

XTime::XTime(time_t seconds)
{
    memset(&Tm, 0, sizeof Tm);
    SetFromSeconds(seconds);
}

XTime::XTime(const XSystemTime& st)
{
    memset(&Tm, 0, sizeof Tm);
    Tm.tm_sec = st.wSecond;
    Tm.tm_min = st.wMinute;
    Tm.tm_hour = st.wHour;
    Tm.tm_mday = st.wDay;
    Tm.tm_mon = static_cast<int>(st.wMonth) - 1;
    Tm.tm_year = static_cast<int>(st.wYear) - 1900;
    // The record says nothing about summer time: let mktime decide from the date, or every
    // summer date would come out an hour off.
    Tm.tm_isdst = -1;
    mktime(&Tm); // normalises in place: day 32 rolls into the next month
}

void XTime::SetFromSeconds(time_t seconds)
{
    struct tm result;
    if (localtime_r(&seconds, &result) != nullptr)
        Tm = result;
}

time_t XTime::GetTime() const
{
    return MakeTime(Tm);
}

XSystemTime XTime::GetSystemTime() const
{
    XSystemTime st;
    st.wYear = static_cast<uint16_t>(Tm.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(Tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(Tm.tm_wday);
    st.wDay = static_cast<uint16_t>(Tm.tm_mday);
    st.wHour = static_cast<uint16_t>(Tm.tm_hour);
    st.wMinute = static_cast<uint16_t>(Tm.tm_min);
    st.wSecond = static_cast<uint16_t>(Tm.tm_sec);
    st.wMilliseconds = 0;
    return st;
}

uint64_t XTime::GetFileTime() const
{
    return XUnixTimeToFileTime(static_cast<int64_t>(GetTime()));
}

XTime XTime::operator+(const XTime& b) const
{
    return XTime(GetTime() + b.GetTime());
}

XTime& XTime::operator+=(const XTime& b)
{
    SetFromSeconds(GetTime() + b.GetTime());
    return *this;
}

XTime XTime::operator-(const XTime& b) const
{
    return XTime(GetTime() - b.GetTime());
}

XTime& XTime::operator-=(const XTime& b)
{
    SetFromSeconds(GetTime() - b.GetTime());
    return *this;
}

int XTime::Compare(const XTime& b) const
{
    const time_t a = GetTime(), other = b.GetTime();
    return a < other ? -1 : (a > other ? 1 : 0);
}

void XTime::Add(int64_t seconds, int64_t minutes, int64_t hours, int64_t days)
{
    const int64_t delta = seconds + minutes * 60 + hours * 3600 + days * 86400;
    SetFromSeconds(static_cast<time_t>(GetTime() + delta));
}

int64_t XTime::DiffSeconds(const XTime& other) const
{
    return static_cast<int64_t>(other.GetTime()) - static_cast<int64_t>(GetTime());
}

int64_t XTime::DiffDays(const XTime& other) const
{
    return DiffSeconds(other) / 86400;
}

XStr XTime::FormatTime() const
{
    char text[64];
    snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(Tm.tm_hour), static_cast<unsigned>(Tm.tm_min),
             static_cast<unsigned>(Tm.tm_sec));
    return XStr::FromUTF8(text);
}

XStr XTime::FormatDate() const
{
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02u", static_cast<unsigned>(Tm.tm_year + 1900),
             static_cast<unsigned>(Tm.tm_mon + 1), static_cast<unsigned>(Tm.tm_mday));
    return XStr::FromUTF8(text);
}

XStr XTime::AscTime() const
{
    char text[128]; // asctime_r needs 26; a year beyond 9999 needs more
    struct tm copy = Tm;
    if (asctime_r(&copy, text) == nullptr)
        return XStr();
    return XStr::FromUTF8(text);
}

double XTimevalToSeconds(const struct timeval& tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1000000.0;
}

struct timeval XSecondsToTimeval(double seconds)
{
    const int64_t n = static_cast<int64_t>(std::floor(seconds * 1000000.0 + 0.5));
    int64_t whole = n / 1000000;
    int64_t micro = n % 1000000;
    if (micro < 0) { // keep the microseconds in 0..999999
        micro += 1000000;
        whole -= 1;
    }
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(whole);
    tv.tv_usec = static_cast<suseconds_t>(micro);
    return tv;
}
