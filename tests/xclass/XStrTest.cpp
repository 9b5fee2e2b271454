#include "xclass/XStr.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

std::wstring W(const XStr& s)
{
    return std::wstring(s.View());
}

} // namespace

TEST(XStr, EmptyStatesAndInlineStorage)
{
    XStr a;
    EXPECT_EQ(a.NumChars, 1);
    EXPECT_EQ(a.p[0], 0);
    XStr b(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(b.NumChars, 1);
    XStr c(L"abc");
    c = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(c.IsEmpty());

    std::wstring long128(128, L'x');
    XStr d(long128.c_str());
    EXPECT_NE(d.p, d.Buffer);
    EXPECT_EQ(d.BufferSize, 129); // assignment takes exactly the needed size
    d.CatChar(L'y');
    EXPECT_EQ(d.BufferSize, 130 + 130 / 3);
    d.SetLength(3);
    EXPECT_EQ(d.BufferSize, 130 + 130 / 3); // shortening keeps the capacity
    EXPECT_EQ(W(d), L"xxx");
}

TEST(XStr, UserDataTravelsWithCopiesNotAssignments)
{
    XStr a(L"a");
    a.UserData = 7;
    XStr copy(a);
    EXPECT_EQ(copy.UserData, 7u);
    XStr target(L"t");
    target.UserData = 3;
    target = a;
    EXPECT_EQ(target.UserData, 3u);
    XStr moved(std::move(copy));
    EXPECT_EQ(moved.UserData, 7u);
}

TEST(XStr, InsertDeleteAndRemove)
{
    XStr s(L"ab");
    s.InsertChar(L'x', XSTR_LAST);
    EXPECT_EQ(W(s), L"abx");
    s = L"ab";
    s.InsertChar(L'x', 1);
    EXPECT_EQ(W(s), L"xab");
    s = L"ab";
    s.Insert(L"yz", 4);
    EXPECT_EQ(W(s), L"ab");
    s.Insert(L"yz", 3);
    EXPECT_EQ(W(s), L"abyz");

    s = L"abcdef";
    s.Delete(3, 100);
    EXPECT_EQ(W(s), L"ab");
    s = L"abcdef";
    s.Delete(0, 2);
    EXPECT_EQ(W(s), L"abcdef");
    s.Delete(1, 100);
    EXPECT_TRUE(s.IsEmpty());

    s = L"abc";
    EXPECT_EQ(s.RemoveAt(XSTR_LAST), L'c');
    EXPECT_EQ(W(s), L"ab");
    EXPECT_EQ(s.RemoveAt(5), 0);

    s = L"abcdef";
    s.Remove(2, 2);
    EXPECT_EQ(W(s), L"adef");
    s.DeleteRight(10);
    EXPECT_TRUE(s.IsEmpty());

    s = L"  a b  ";
    s.TrimLeft();
    s.TrimRight();
    EXPECT_EQ(W(s), L"a b");
    s.EnsureTrailingChar(L'/');
    s.EnsureTrailingChar(L'/');
    EXPECT_EQ(W(s), L"a b/");
    s.SetLength(6, L'.', true);
    EXPECT_EQ(W(s), L"a b/..");
}

TEST(XStr, EditsWhoseSourceIsTheStringItself)
{
    std::wstring longText(100, L'q');
    XStr s(longText.c_str());
    s += s; // grows past the inline buffer while reading from it
    EXPECT_EQ(W(s), longText + longText);

    XStr t(L"abc");
    t.Insert(t.p, 1);
    EXPECT_EQ(W(t), L"abcabc");

    XStr u(std::wstring(120, L'z').c_str());
    u.Append(u.p + 110);
    EXPECT_EQ(u.Length(), 130);

    XStr v(L"hello world");
    v = v.p + 6;
    EXPECT_EQ(W(v), L"world");

    XStr w(L"aXa");
    w.Replace(w.p, L"-"); // what points into the string being edited
    EXPECT_EQ(W(w), L"-");
}

TEST(XStr, SearchingAndComparing)
{
    XStr s(L"abc");
    EXPECT_EQ(s.Find(L"", 2), 2);
    EXPECT_EQ(s.Find(L"c", 4), 0);
    EXPECT_EQ(s.Find(L"BC", 1, true), 2);
    EXPECT_EQ(s.Find(L"BC", 1, false), 0);
    XStr r(L"a/b/c");
    EXPECT_EQ(r.FindLast(L"/"), 4);
    EXPECT_EQ(r.ReverseFindChar(L'/'), 4);
    EXPECT_EQ(r.ReverseFindChar(L'/', 3), 2);
    XStr before, after;
    EXPECT_TRUE(r.Split(L"/", before, after));
    EXPECT_EQ(W(before), L"a");
    EXPECT_EQ(W(after), L"b/c");
    EXPECT_FALSE(r.Split(L"#", before, after));
    EXPECT_EQ(W(before), L"a/b/c");
    EXPECT_TRUE(after.IsEmpty());

    EXPECT_EQ(XStrCompare(L"abc", L"ab", -1), 0);
    EXPECT_EQ(XStrCompare(L"ab", L"abc", 0), -1);
    EXPECT_EQ(XStrCompare(L"B", L"a", 0, true), 1);
    EXPECT_EQ(XStrCompare(L"abc", L"", -1), 0);
    EXPECT_EQ(XStrCompare(L"abX", L"abY", 2), 0);
    EXPECT_EQ(XStrCompare(L"a", nullptr), 1);

    EXPECT_TRUE(s.EndsWith(L""));
    EXPECT_FALSE(s.EndsWith(L"xabc"));
    EXPECT_TRUE(s.EndsWith(L"BC", true));
}

TEST(XStr, ReplaceResumesBehindReplacement)
{
    XStr s(L"aXa");
    s.Replace(L"a", L"aa");
    EXPECT_EQ(W(s), L"aaXaa");
    XStr t(L"One one ONE");
    t.Replace(L"one", L"1", true);
    EXPECT_EQ(W(t), L"1 1 1");
    XStr u(L"/home/user/x");
    EXPECT_TRUE(u.ReplacePrefix(L"/home/user", L"~"));
    EXPECT_EQ(W(u), L"~/x");
    EXPECT_FALSE(u.ReplacePrefix(L"/nope", L""));
}

TEST(XStr, CaseMappingIsAsciiOnly)
{
    const wchar_t text[] = {L'a', 0xE9, 0x1F600, 0};
    XStr s(text);
    const XStr upper = s.ToUpper();
    EXPECT_EQ(upper.p[0], L'A');
    EXPECT_EQ(upper.p[1], 0xE9);
    EXPECT_EQ(upper.p[2], 0x1F600);
    EXPECT_EQ(W(XStr(L"MiXeD").ToLower()), L"mixed");
}

TEST(XStrUTF8, DecodesAndEncodesValidText)
{
    XStr s = XStr::FromUTF8(Bytes({0x61, 0xC3, 0xA9, 0x62}).c_str());
    ASSERT_EQ(s.Length(), 3);
    EXPECT_EQ(s.p[1], 0xE9);
    const wchar_t smiley[] = {0x1F600, 0};
    XStr e(smiley);
    EXPECT_EQ(std::string(e.UTF8()), Bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(e.UTF16()[0], 0xF600);
    EXPECT_EQ(e.UTF16()[1], 0);
}

TEST(XStrUTF8, InvalidBytesSurviveTheRoundTrip)
{
    // Overlong forms, stray continuation bytes, truncated sequences, and an encoded escape
    // character must all come back as the same bytes: file names are bytes.
    const std::string samples[] = {
        Bytes({0x61, 0xC0, 0xAF, 0x62}),
        Bytes({0x61, 0xE0, 0x80, 0x80, 0x62}),
        Bytes({0x80}),
        Bytes({0x61, 0xE2, 0x82}),
        Bytes({0xED, 0xB3, 0x80}), // U+DCC0 encoded: would collide with the escape of 0xC0
        Bytes({0xFE, 0xFF, 0xC3}),
        Bytes({0x66, 0x69, 0x6C, 0x65, 0xE9, 0x2E, 0x6D, 0x70, 0x34}), // Latin-1 name
    };
    for (const auto& bytes : samples) {
        XStr s = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
        EXPECT_EQ(s.ToUTF8String(), bytes);
        EXPECT_EQ(std::string(s.UTF8()), bytes);
    }
    XStr overlong = XStr::FromUTF8(Bytes({0x61, 0xC0, 0xAF, 0x62}).c_str());
    EXPECT_EQ(overlong.Length(), 4);
    EXPECT_EQ(overlong.p[1], 0xDCC0);
}

// Only the forms of Unicode scalar values decode to characters; every other byte is kept as its
// escape. So a decoded name never holds a surrogate (which a UTF-16 bridge would pair with its
// neighbour) nor a code point beyond U+10FFFF (which UTF-16 cannot carry).
TEST(XStrUTF8, OnlyScalarValuesDecodeOtherBytesStayEscaped)
{
    const std::vector<std::string> patterns = {
        Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), // a surrogate pair, each half encoded alone
        Bytes({0xF4, 0x90, 0x80, 0x80}),             // U+110000
        Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}),       // the old 5-byte form
        Bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), // and 6-byte form
        Bytes({0xF7, 0xBF, 0xBF, 0xBF}),
    };
    for (const std::string& bytes : patterns) {
        const XStr s = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
        ASSERT_EQ(static_cast<size_t>(s.Length()), bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            EXPECT_EQ(static_cast<uint32_t>(s.p[i]), 0xDC00u + static_cast<uint8_t>(bytes[i]));
        EXPECT_EQ(s.ToUTF8String(), bytes);
    }
    EXPECT_EQ(static_cast<uint32_t>(XStr::FromUTF8(Bytes({0xF4, 0x8F, 0xBF, 0xBF}).c_str()).p[0]), 0x10FFFFu);
    EXPECT_EQ(static_cast<uint32_t>(XStr::FromUTF8(Bytes({0xEE, 0x80, 0x80}).c_str()).p[0]), 0xE000u);
}

// Every byte string of up to three bytes decodes to scalar values and escapes only, and encodes
// back to the same bytes.
TEST(XStrUTF8, EveryShortByteStringRoundTrips)
{
    unsigned char bytes[3];
    for (size_t length = 1; length <= 3; ++length) {
        const uint32_t count = 1u << (8 * length);
        for (uint32_t n = 0; n < count; ++n) {
            for (size_t i = 0; i < length; ++i)
                bytes[i] = static_cast<unsigned char>(n >> (8 * i));
            const XStr s = XStr::FromUTF8Bytes(bytes, length);
            for (int i = 0; i < s.Length(); ++i) {
                const uint32_t c = static_cast<uint32_t>(s.p[i]);
                ASSERT_TRUE(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF || (c >= 0xDC80 && c <= 0xDCFF))) << n;
            }
            ASSERT_EQ(s.ToUTF8String(), std::string(reinterpret_cast<char*>(bytes), length)) << n;
        }
    }
}

TEST(XStrUTF8, RandomBytesRoundTripWithEmbeddedZeros)
{
    std::mt19937 rng(42);
    for (int round = 0; round < 200; round++) {
        std::string bytes(static_cast<size_t>(rng() % 300), '\0');
        for (auto& b : bytes)
            b = static_cast<char>(rng() & 0xFF);
        XStr s = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
        ASSERT_EQ(s.ToUTF8String(), bytes);
    }
    // The counted form without zeros stops at the first embedded 0.
    const std::string withZero("ab\0cd", 5);
    EXPECT_EQ(W(XStr::FromUTF8(withZero.data(), withZero.size())), L"ab");
    EXPECT_EQ(XStr::FromUTF8Bytes(withZero.data(), withZero.size()).Length(), 5);
}

TEST(XStrAnsi, Windows1252Mapping)
{
    const wchar_t text[] = {0x20AC, 0x100, 0xE9, 0};
    XStr s(text);
    EXPECT_EQ(std::string(s.Ansi()), Bytes({0x80, '_', 0xE9}));
    XStr d = XStr::FromAnsi(Bytes({0x8F, 0x80, 0x41}).c_str());
    EXPECT_EQ(d.p[0], L'_');
    EXPECT_EQ(d.p[1], 0x20AC);
    EXPECT_EQ(d.p[2], L'A');
    const uint8_t ascii[] = {'a', 0xC3, 'b', 0};
    EXPECT_EQ(W(XStr::FromASCII(ascii)), L"a_b");
}

TEST(XStrNumbers, ToAndFromText)
{
    EXPECT_EQ(W(XStr::FromLong(0)), L"0");
    EXPECT_EQ(W(XStr::FromLong(INT64_MIN)), L"-9223372036854775808");
    EXPECT_EQ(W(XStr::FromLong(-42)), L"-42");
    EXPECT_EQ(W(XStr::FromULong(UINT64_MAX)), L"18446744073709551615");
    EXPECT_EQ(W(XStr::FromDouble(2.5, 0, false)), L"2");
    EXPECT_EQ(W(XStr::FromDouble(0.999999, 5, false)), L"1");
    EXPECT_EQ(W(XStr::FromDouble(-0.5, 2, true)), L"-0.50");
    EXPECT_EQ(W(XStr::FromDouble(100, 2, false)), L"100");
    EXPECT_EQ(W(XStr::FromDouble(3, 0, true)), L"3.");
    EXPECT_EQ(W(XStr::FromDouble(0.125, 2, false)), L"0.12");
    EXPECT_EQ(W(XStr::FromDouble(0.05, 2, true)), L"0.05");
    EXPECT_EQ(W(XStr::Hex(0)), L"0");
    EXPECT_EQ(W(XStr::Hex(0x1F)), L"1F");
    EXPECT_EQ(W(XStr::HexDigits(0x1234, 2)), L"34");
    const uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(W(XStr::HexBytes(bytes, 3)), L"00AB7F");
    uint8_t back[3];
    EXPECT_TRUE(XHexToBytes(L"00ab7F", back, 3));
    EXPECT_EQ(back[1], 0xAB);
    EXPECT_FALSE(XHexToBytes(L"00ab", back, 3));

    EXPECT_EQ(XStr(L" -12ab").ToLong(), -12);
    EXPECT_EQ(XStr(L"-5").ToULong(), 0u);
    EXPECT_TRUE(XStr(L"TRUE").IsTrue());
    EXPECT_TRUE(XStr(L"2").IsTrue());
    EXPECT_FALSE(XStr(L"no").IsTrue());
    EXPECT_DOUBLE_EQ(XStrToDouble(L"  3.25 kb"), 3.25);
    EXPECT_DOUBLE_EQ(XStrToDouble(L"+-1.5"), -1.5);
    EXPECT_DOUBLE_EQ(XStrToDouble(L"1e3"), 1);
    EXPECT_DOUBLE_EQ(XStrToDouble(L"1.2x5"), 1.5);
    EXPECT_EQ(XHexToULong(L"fFz"), 0xFFu);
}

TEST(XStrFormat, Conversions)
{
    EXPECT_EQ(W(XStr::FromFormat(L"%05d", -42)), L"-0042");
    EXPECT_EQ(W(XStr::FromFormat(L"%5d", -42)), L"  -42");
    EXPECT_EQ(W(XStr::FromFormat(L"%+d", 0)), L"+0");
    EXPECT_EQ(W(XStr::FromFormat(L"%x", 255)), L"ff");
    EXPECT_EQ(W(XStr::FromFormat(L"%4X", 255)), L"  FF");
    EXPECT_EQ(W(XStr::FromFormat(L"%.2f", 1.5)), L"1.5");
    EXPECT_EQ(W(XStr::FromFormat(L"%f", 2.0)), L"2");
    EXPECT_EQ(W(XStr::FromFormat(L"100%%")), L"100%");
    EXPECT_EQ(W(XStr::FromFormat(L"%1.2.3f", 1.0)), L"");
    EXPECT_EQ(W(XStr::FromFormat(L"abc%")), L"");
    EXPECT_EQ(W(XStr::FromFormat(L"[%s|%s]", L"x", static_cast<const wchar_t*>(nullptr))), L"[x|]");
    EXPECT_EQ(W(XStr::FromFormat(L"%c%03u", L'#', 7u)), L"#007");
}

TEST(XStrFormat, LongModifiersRead64Bits)
{
    const long long big = 123456789012345LL;
    EXPECT_EQ(W(XStr::FromFormat(L"%lld|%d", big, 5)), L"123456789012345|5");
    EXPECT_EQ(W(XStr::FromFormat(L"%ld", static_cast<long>(-big))), L"-123456789012345");
    EXPECT_EQ(W(XStr::FromFormat(L"%llu %llx", 18446744073709551615ULL, 0xABCDEF0123ULL)),
              L"18446744073709551615 abcdef0123");
    EXPECT_EQ(W(XStr::FromFormat(L"%zu", static_cast<size_t>(5000000000ULL))), L"5000000000");
}

TEST(XStrNatural, Order)
{
    EXPECT_EQ(XStrCompareNatural(L"file9", L"file10"), -1);
    EXPECT_EQ(XStrCompareNatural(L"a007", L"a7"), 0);
    EXPECT_EQ(XStrCompareNatural(L"Ab", L"ab"), -1);
    const wchar_t eAcute[] = {0xE9, 0};
    EXPECT_EQ(XStrCompareNatural(eAcute, L"f"), -1);
    EXPECT_EQ(XStrCompareNatural(L"X1", L"x9"), -1);
    EXPECT_EQ(XStrCompareNatural(L"x9", L"x10"), -1);
    EXPECT_EQ(XStrCompareNatural(L"x10", L"x9"), 1);
    EXPECT_EQ(XCharToASCII(0xF0), L'o');
    EXPECT_EQ(XCharToASCII(0xC6), L'_');
    EXPECT_EQ(XCharToASCII(0x178), L'Y');
    const wchar_t word[] = {L'C', 0xF4, L't', 0xE9, 0};
    EXPECT_EQ(W(XStr::FoldToASCII(word)), L"Cote");
}

TEST(XStrQuote, Arguments)
{
    EXPECT_EQ(W(XQuoteArgument(XStr(L"movie_01.mp4"))), L"movie_01.mp4");
    EXPECT_EQ(W(XQuoteArgument(XStr(L"my file"))), L"\"my file\"");
    EXPECT_EQ(W(XQuoteArgument(XStr(L"a\"b"))), L"\"a\\\"b\"");
    EXPECT_EQ(W(XQuoteArgument(XStr(L"end\\"))), L"\"end\\\\\"");
    EXPECT_EQ(W(XQuoteArgument(XStr())), L"\"\"");
}
