#include "xclass/XFormat.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string U(const XStr& s)
{
    return s.ToUTF8String();
}
} // namespace

TEST(XFormat, ApplyNumberFormatGroupsAndSigns)
{
    const struct {
        const wchar_t* in;
        const char* out;
    } cases[] = {
        {L"", ""},
        {L"1", "1"},
        {L"123", "123"},
        {L"1234", "1,234"},
        {L"1234567", "1,234,567"},
        {L"-123", "-123"},
        {L"-123456", "-123,456"},
        {L"1234.5678", "1,234.5678"},
        {L"-1000000.25", "-1,000,000.25"},
        {L"0.5", "0.5"},
    };
    for (const auto& c : cases) {
        XStr s(c.in);
        XApplyNumberFormat(s);
        EXPECT_EQ(U(s), c.out) << U(XStr(c.in));
    }
}

TEST(XFormat, Numbers)
{
    EXPECT_EQ(U(XFormatNumber(-1234)), "-1,234");
    EXPECT_EQ(U(XFormatNumber(0)), "0");
    EXPECT_EQ(U(XFormatNumber(INT64_MIN)), "-9,223,372,036,854,775,808");
    EXPECT_EQ(U(XFormatUnsigned(UINT64_MAX)), "18,446,744,073,709,551,615");
    EXPECT_EQ(U(XFormatFloat(1234.5, 2, false)), "1,234.5");
    EXPECT_EQ(U(XFormatFloat(1234.5, 2, true)), "1,234.50");
    EXPECT_EQ(U(XFormatFloat(-9876543.0, 1, false)), "-9,876,543");
}

TEST(XFormat, DurationInWords)
{
    const int64_t h1m2s3 = 3600000 + 2 * 60000 + 3000;
    EXPECT_EQ(U(XFormatDuration(h1m2s3, 0)), "1 hour 2 minutes");
    EXPECT_EQ(U(XFormatDuration(2 * 3600000 + 5000, 0)), "2 hours");
    EXPECT_EQ(U(XFormatDuration(61000, 0)), "1 minute 1 second");
    EXPECT_EQ(U(XFormatDuration(120000, 0)), "2 minutes");
    EXPECT_EQ(U(XFormatDuration(2500, 0)), "2.5 seconds");
    EXPECT_EQ(U(XFormatDuration(2500, 4)), "2 seconds");
    EXPECT_EQ(U(XFormatDuration(1000, 0)), "1 second");
    EXPECT_EQ(U(XFormatDuration(0, 0)), "0");
    EXPECT_EQ(U(XFormatDuration(500, 0)), "500 mili-seconds");
    EXPECT_EQ(U(XFormatDuration(1, 0)), "1 mili-second");
    EXPECT_EQ(U(XFormatDuration(500, 4)), "0");
}

TEST(XFormat, DurationWithSeparators)
{
    const int64_t h1m2s3 = 3600000 + 2 * 60000 + 3000;
    EXPECT_EQ(U(XFormatDuration(h1m2s3, 1)), "1:02:03");
    EXPECT_EQ(U(XFormatDuration(63000, 1)), "1:03");
    EXPECT_EQ(U(XFormatDuration(5000, 1)), "0:05");
    EXPECT_EQ(U(XFormatDuration(h1m2s3, 2)), "01:02:03");
    EXPECT_EQ(U(XFormatDuration(h1m2s3 + 456, 3)), "01:02:03.456");
    EXPECT_EQ(U(XFormatDuration(100LL * 3600000 + 7, 3)), "100:00:00.007");
    EXPECT_EQ(U(XFormatDuration(1000, 5)), "");
    // An unknown (negative) length shows as nothing rather than negative fields.
    EXPECT_EQ(U(XFormatDuration(-65000, 1)), "0:00");
}

TEST(XFormat, FileSizes)
{
    EXPECT_EQ(U(XFormatFileSize(0, false)), "0 bytes");
    EXPECT_EQ(U(XFormatFileSize(1, false)), "1 byte");
    EXPECT_EQ(U(XFormatFileSize(1023, false)), "1023 bytes");
    EXPECT_EQ(U(XFormatFileSize(1024, false)), "1 KB");
    EXPECT_EQ(U(XFormatFileSize(1025, false)), "1 KB");
    EXPECT_EQ(U(XFormatFileSize(1536, false)), "2 KB");
    EXPECT_EQ(U(XFormatFileSize(1048575, false)), "1,024 KB");
    EXPECT_EQ(U(XFormatFileSize(1048576, false)), "1 MB");
    EXPECT_EQ(U(XFormatFileSize(1610612736, false)), "1.5 GB");
    EXPECT_EQ(U(XFormatFileSize(2147483648LL, false)), "2 GB");
    EXPECT_EQ(U(XFormatFileSize(1073731000, false)), "1,023.99 MB");
    EXPECT_EQ(U(XFormatFileSize(3LL << 40, false)), "3 TB");
    EXPECT_EQ(U(XFormatFileSize(5, true)), "0 KB");
    EXPECT_EQ(U(XFormatFileSize(0, true)), "0 KB");
    EXPECT_EQ(U(XFormatFileSize(1048576, true)), "1,024 KB");
}
