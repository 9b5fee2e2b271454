#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "common/TestEnv.h"
#include "xclass/XPlatform.h"
#include "xclass/XTime.h"

namespace {

// Runs a test in a given time zone and puts the old one back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) : m_tz(std::in_place, "TZ", zone) { tzset(); }
    ~ZoneScope()
    {
        m_tz.reset();
        tzset();
    }

private:
    std::optional<TestEnvScope> m_tz;
};

bool HaveZone(const char* name)
{
    struct stat st;
    return stat((std::string("/usr/share/zoneinfo/") + name).c_str(), &st) == 0;
}

XSystemTime Make(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0)
{
    return XSystemTime{y, mo, 0, d, h, mi, s, 0};
}

TEST(XTime, FileTimesCountFrom1601InWholeSeconds)
{
    ZoneScope zone("UTC");
    EXPECT_EQ(XTime(Make(1970, 1, 1)).GetFileTime(), 116444736000000000ULL);
    EXPECT_EQ(XUnixTimeToFileTime(0), 116444736000000000ULL);
    EXPECT_EQ(XUnixTimeToFileTime(1), 116444736010000000ULL);
    EXPECT_EQ(XFileTimeToUnixTime(XUnixTimeToFileTime(1719828000)), 1719828000);
    EXPECT_EQ(XFileTimeToUnixTime(XUnixTimeToFileTime(-86400)), -86400);
    uint64_t fileTime = 0;
    const XSystemTime st = Make(2000, 1, 1);
    ASSERT_TRUE(SystemTimeToFileTime(&st, &fileTime));
    EXPECT_EQ(fileTime, XUnixTimeToFileTime(946684800));
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &fileTime));

    const uint64_t before = XUnixTimeToFileTime(time(nullptr));
    const uint64_t now = XGetFileTimeNow();
    EXPECT_GE(now, before);
    EXPECT_EQ(now % XFILETIME_PER_SECOND, 0u);
}

TEST(XTime, SummerTimeIsTakenFromTheDate)
{
    if (!HaveZone("Europe/Berlin"))
        GTEST_SKIP() << "no time-zone data";
    ZoneScope zone("Europe/Berlin");
    // 12:00 in July is 10:00 UTC (UTC+2), in January 11:00 UTC (UTC+1).
    EXPECT_EQ(XTime(Make(2024, 7, 1, 12)).GetTime(), 1719828000);
    EXPECT_EQ(XTime(Make(2024, 1, 15, 12)).GetTime(), 1705316400);
    uint64_t fileTime = 0;
    const XSystemTime summer = Make(2024, 7, 1, 12);
    ASSERT_TRUE(SystemTimeToFileTime(&summer, &fileTime));
    EXPECT_EQ(fileTime, XUnixTimeToFileTime(1719828000));

    const XSystemTime back = XTime(static_cast<time_t>(1719828000)).GetSystemTime();
    EXPECT_EQ(back.wHour, 12);
    EXPECT_EQ(back.wDayOfWeek, 1); // a Monday
    // A record turned into a time and back is the same record.
    const XSystemTime again = XTime(XTime(Make(2024, 8, 31, 23, 59, 58)).GetTime()).GetSystemTime();
    EXPECT_EQ(again.wMonth, 8);
    EXPECT_EQ(again.wDay, 31);
    EXPECT_EQ(again.wHour, 23);
    EXPECT_EQ(again.wSecond, 58);
}

TEST(XTime, RecordsAreNormalised)
{
    ZoneScope zone("UTC");
    const XSystemTime st = XTime(Make(2024, 2, 30, 8, 5, 3)).GetSystemTime();
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 5); // 2024-03-01 was a Friday
    EXPECT_EQ(st.wMilliseconds, 0);
    const XTime t(Make(2024, 2, 30, 8, 5, 3));
    EXPECT_EQ(std::string(t.FormatDate().ToUTF8String()), "2024-03-01");
    EXPECT_EQ(std::string(t.FormatTime().ToUTF8String()), "08:05:03");
    EXPECT_EQ(t.AscTime().ToUTF8String(), "Fri Mar  1 08:05:03 2024\n");
}

TEST(XTime, ArithmeticAndComparison)
{
    ZoneScope zone("UTC");
    const XTime a(Make(2024, 5, 1));
    XTime b(Make(2024, 5, 2, 12));
    EXPECT_EQ(a.Compare(XTime(Make(2024, 5, 1))), 0);
    EXPECT_EQ(a.Compare(b), -1);
    EXPECT_EQ(b.Compare(a), 1);
    EXPECT_EQ(a.DiffSeconds(b), 36 * 3600);
    EXPECT_EQ(a.DiffDays(b), 1);
    EXPECT_EQ(b.DiffDays(a), -1); // truncated toward zero

    XTime c = a;
    c.Add(30, 1, 2, 3);
    EXPECT_EQ(a.DiffSeconds(c), 30 + 60 + 2 * 3600 + 3 * 86400);
}

TEST(XTime, TimevalConversions)
{
    const timeval tv = XSecondsToTimeval(1.9999995);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 0);
    const timeval negative = XSecondsToTimeval(-0.5);
    EXPECT_DOUBLE_EQ(XTimevalToSeconds(negative), -0.5);
    EXPECT_GE(negative.tv_usec, 0);
}

} // namespace
