#include "xclass/XBase64.h"
#include "xclass/XBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& data, unsigned flags)
{
    return XBase64EncodeToStr(data.data(), data.size(), flags).ToUTF8String();
}

std::string Decode(const std::string& text)
{
    int length = 0;
    XBase64Decode(text.data(), static_cast<int>(text.size()), nullptr, &length);
    std::string out(static_cast<size_t>(length), '\0');
    int capacity = length;
    EXPECT_TRUE(XBase64Decode(text.data(), static_cast<int>(text.size()), out.data(), &capacity));
    EXPECT_EQ(capacity, length);
    return out;
}

std::string Bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

} // namespace

TEST(XBase64, KnownTexts)
{
    EXPECT_EQ(Encode("abc", 0), "YWJj");
    EXPECT_EQ(Encode("ab", 0), "YWI=");
    EXPECT_EQ(Encode("ab", XBASE64_NO_PADDING), "YWI");
    EXPECT_EQ(Encode("a", 0), "YQ==");
    EXPECT_EQ(Encode("a", XBASE64_NO_PADDING), "YQ");
    EXPECT_EQ(Encode("", 0), "");
    EXPECT_EQ(Encode(std::string("\xfb\xff", 2), 0), "+/8=");
}

TEST(XBase64, LineLayout)
{
    const std::string t57 = Encode(Bytes(57, 1), 0);
    EXPECT_EQ(t57.size(), 76u);
    EXPECT_EQ(t57.find('\r'), std::string::npos);

    const std::string t58 = Encode(Bytes(58, 1), 0);
    ASSERT_EQ(t58.size(), 76u + 2 + 4);
    EXPECT_EQ(t58.substr(76, 2), "\r\n");
    EXPECT_EQ(t58.substr(80), "==");

    const std::string t114 = Encode(Bytes(114, 2), 0); // exactly two full lines
    ASSERT_EQ(t114.size(), 76u * 2 + 2);
    EXPECT_EQ(t114.substr(76, 2), "\r\n");

    const std::string t60 = Encode(Bytes(60, 3), XBASE64_NO_LINE_BREAKS);
    EXPECT_EQ(t60.size(), 80u);
    EXPECT_EQ(t60.find('\r'), std::string::npos);
}

TEST(XBase64, RoundTripEveryLengthAndFlag)
{
    for (unsigned flags = 0; flags < 4; ++flags)
        for (size_t n = 0; n < 400; ++n) {
            const std::string data = Bytes(n, static_cast<unsigned>(n));
            ASSERT_EQ(Decode(Encode(data, flags)), data) << "n=" << n << " flags=" << flags;
        }
}

// The encoder is handed exactly the capacity it asks for, in a heap block of that size, with
// the terminator requested: the sanitizer build sees any write past it.
TEST(XBase64, EstimateHoldsTextAndTerminator)
{
    for (unsigned flags = 0; flags < 4; ++flags)
        for (size_t n = 0; n < 1200; ++n) {
            const std::string data = Bytes(n, 7);
            const int size = XBase64EncodeSize(n, flags);
            ASSERT_GT(size, 0);
            auto buffer = std::make_unique<char[]>(static_cast<size_t>(size));
            int length = size;
            ASSERT_TRUE(XBase64Encode(data.data(), n, buffer.get(), &length, flags, true))
                << "n=" << n << " flags=" << flags;
            ASSERT_LT(length, size);
            ASSERT_EQ(buffer[static_cast<size_t>(length)], '\0');
            ASSERT_EQ(std::string(buffer.get(), static_cast<size_t>(length)), Encode(data, flags));
            // One byte less than asked for is refused.
            int small = size - 1;
            ASSERT_FALSE(XBase64Encode(data.data(), n, buffer.get(), &small, flags, true));
        }
}

TEST(XBase64, EncodeRefusesNullArguments)
{
    char out[16];
    int length = sizeof out;
    EXPECT_FALSE(XBase64Encode(nullptr, 1, out, &length, 0, true));
    EXPECT_FALSE(XBase64Encode("a", 1, nullptr, &length, 0, true));
    EXPECT_FALSE(XBase64Encode("a", 1, out, nullptr, 0, true));
}

TEST(XBase64, DecodeSkipsNoise)
{
    EXPECT_EQ(Decode("YW Jj\r\n"), "abc");
    EXPECT_EQ(Decode("YWJj===="), "abc");
    EXPECT_EQ(Decode("Y"), "");
    EXPECT_EQ(Decode("YWI"), "ab");
    // Decoding stops at a NUL even when the length says more.
    EXPECT_EQ(Decode(std::string("YWJj\0YWJj", 9)), "abc");
}

TEST(XBase64, DecodeEdgeArguments)
{
    char out[8];
    int length = 5;
    EXPECT_FALSE(XBase64Decode(nullptr, 4, out, &length));
    EXPECT_FALSE(XBase64Decode("YWJj", 4, out, nullptr));
    length = 5;
    EXPECT_TRUE(XBase64Decode("YWJj", 0, out, &length));
    EXPECT_EQ(length, 0);
    length = 5;
    EXPECT_FALSE(XBase64Decode("YWJj", 0, nullptr, &length));
    EXPECT_EQ(length, 0);
}

TEST(XBase64, DecodeIntoTooSmallBufferReportsFullLength)
{
    char out[8];
    memset(out, '#', sizeof out);
    int length = 5; // "abcdef" needs 6
    EXPECT_FALSE(XBase64Decode("YWJjZGVm", 8, out, &length));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(std::string(out, 3), "abc"); // the group that fitted
    EXPECT_EQ(out[3], '#');                // nothing of the group that did not
}

TEST(XBase64, CharValues)
{
    EXPECT_EQ(XBase64CharValue('A'), 0);
    EXPECT_EQ(XBase64CharValue('z'), 51);
    EXPECT_EQ(XBase64CharValue('0'), 52);
    EXPECT_EQ(XBase64CharValue('+'), 62);
    EXPECT_EQ(XBase64CharValue('/'), 63);
    EXPECT_EQ(XBase64CharValue('='), -1);
    EXPECT_EQ(XBase64CharValue('-'), -1);
    EXPECT_EQ(XBase64CharValue(0xe9), -1);
}

TEST(XBase64, FileNameSafeForm)
{
    // "???" encodes as "Pz8/".
    XStr safe = XBase64EncodeCStrSafe("???", 0);
    EXPECT_EQ(safe.ToUTF8String(), "Pz8-");
    EXPECT_EQ(XBase64DecodeSafeToStr(safe.UTF8(), 1).ToUTF8String(), "???");
    XBase64UnmakeSafe(safe);
    EXPECT_EQ(safe.ToUTF8String(), "Pz8/");
    XBase64MakeSafe(safe);
    EXPECT_EQ(safe.ToUTF8String(), "Pz8-");

    const XStr wide(L"\u00e9t\u00e9 / ?>");
    const XStr wideSafe = XBase64EncodeWideSafe(wide, XBASE64_NO_LINE_BREAKS);
    EXPECT_EQ(XBase64DecodeSafeToStr(XStr(wideSafe).UTF8(), 0), wide);
}

TEST(XBase64, DecodeToStrModes)
{
    EXPECT_EQ(XBase64DecodeToStr("YWJj", 1).ToUTF8String(), "abc");
    // "é" in UTF-8 (C3 A9) and in Windows-1252 (E9).
    EXPECT_EQ(XBase64DecodeToStr("w6k=", 2), XStr(L"\u00e9"));
    EXPECT_EQ(XBase64DecodeToStr("6Q==", 1), XStr(L"\u00e9"));
    const XStr text(L"Gr\u00fc\u00dfe");
    EXPECT_EQ(XBase64DecodeToStr(XBase64EncodeWide(text, 0).UTF8(), 0), text);
    EXPECT_EQ(XBase64EncodeCStr("abc", 0).ToUTF8String(), "YWJj");
}

TEST(XBase64, DecodeToBuffer)
{
    XBuffer buffer;
    ASSERT_TRUE(XBase64DecodeToBuffer("YWJjZA==", buffer, false));
    EXPECT_EQ(buffer.Used, 4u);
    EXPECT_EQ(buffer.Size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data), 4), "abcd");

    ASSERT_TRUE(XBase64DecodeToBuffer("YWJj", buffer, true));
    EXPECT_EQ(buffer.Used, 3u);
    ASSERT_EQ(buffer.Size, 11u);
    for (int i = 3; i < 11; ++i)
        EXPECT_EQ(buffer.Data[i], 0) << i;

    ASSERT_TRUE(XBase64DecodeToBuffer("", buffer, false));
    EXPECT_EQ(buffer.Used, 0u);
    buffer.Free();
}
