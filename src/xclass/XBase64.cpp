#include "xclass/XBase64.h"

#include "xclass/XBuffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
    signed char value[256];
    DecodeTable()
    {
        memset(value, -1, sizeof value);
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
};
const DecodeTable kDecode;

constexpr int kGroupsPerLine = 19; // 76 characters

// The exact text length of the encoding of count bytes.
uint64_t EncodedLength(uint64_t count, unsigned flags)
{
    const uint64_t groups = count / 3;
    const uint64_t rest = count % 3;
    uint64_t chars = groups * 4;
    if (rest)
        chars += (flags & XBASE64_NO_PADDING) ? rest + 1 : 4;
    if (!(flags & XBASE64_NO_LINE_BREAKS)) {
        const uint64_t lines = (groups + (rest ? 1 : 0) + kGroupsPerLine - 1) / kGroupsPerLine;
        if (lines > 1)
            chars += 2 * (lines - 1);
    }
    return chars;
}

uint64_t EstimateSize(uint64_t n, unsigned flags)
{
    uint64_t t = 4 * n / 3;
    if (!(flags & XBASE64_NO_PADDING))
        t += n % 3;
    if (t % 76 != 0 && t % 4 != 0)
        t += 4 - t % 4;
    if (!(flags & XBASE64_NO_LINE_BREAKS))
        t += 2 * (t / 76) + 2;
    else
        t += 1; // the terminating NUL: a one-line text has no line-break slack to hold it
    return t;
}

XStr FromAsciiBytes(const char* data, size_t length)
{
    return XStr::FromASCII(reinterpret_cast<const uint8_t*>(data), length);
}

} // namespace

int XBase64EncodeSize(size_t count, unsigned flags)
{
    if (count > static_cast<size_t>(INT_MAX))
        return 0;
    const uint64_t size = EstimateSize(count, flags);
    return size > static_cast<uint64_t>(INT_MAX) ? 0 : static_cast<int>(size);
}

bool XBase64Encode(const void* data, size_t count, char* output, int* length, unsigned flags, bool terminate)
{
    if (!data || !output || !length)
        return false;
    const int estimate = XBase64EncodeSize(count, flags);
    if (estimate == 0 || *length < estimate)
        return false;
    // The estimate always leaves room for the text and its NUL; keep that a checked fact.
    const uint64_t exact = EncodedLength(count, flags);
    if (exact + (terminate ? 1 : 0) > static_cast<uint64_t>(*length))
        return false;

    const auto* in = static_cast<const uint8_t*>(data);
    const bool breaks = !(flags & XBASE64_NO_LINE_BREAKS);
    char* out = output;
    int groupsOnLine = 0;
    size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        if (breaks && groupsOnLine == kGroupsPerLine) {
            *out++ = '\r';
            *out++ = '\n';
            groupsOnLine = 0;
        }
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
        ++groupsOnLine;
    }
    const size_t rest = count - i;
    if (rest) {
        if (breaks && groupsOnLine == kGroupsPerLine) {
            *out++ = '\r';
            *out++ = '\n';
        }
        uint32_t v = uint32_t(in[i]) << 16;
        if (rest == 2)
            v |= uint32_t(in[i + 1]) << 8;
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            *out++ = kAlphabet[(v >> 6) & 63];
        if (!(flags & XBASE64_NO_PADDING)) {
            *out++ = '=';
            if (rest == 1)
                *out++ = '=';
        }
    }
    if (terminate)
        *out = 0;
    *length = static_cast<int>(out - output);
    return true;
}

int XBase64CharValue(int ch)
{
    if (ch < 0 || ch > 255)
        return -1;
    return kDecode.value[ch];
}

bool XBase64Decode(const char* text, int textLength, void* output, int* length)
{
    if (!text || !length)
        return false;
    if (textLength < 1) {
        *length = 0;
        return output != nullptr;
    }
    const int64_t capacity = output ? *length : 0;
    auto* out = static_cast<uint8_t*>(output);
    int64_t decoded = 0;
    bool fits = output != nullptr;
    uint32_t acc = 0;
    int have = 0;

    auto emit = [&](int bytes) {
        if (fits && decoded + bytes <= capacity) {
            const uint8_t b[3] = {uint8_t(acc >> 16), uint8_t(acc >> 8), uint8_t(acc)};
            memcpy(out + decoded, b, static_cast<size_t>(bytes));
        } else {
            fits = false;
        }
        decoded += bytes;
    };

    for (int i = 0; i < textLength && text[i]; ++i) {
        const int v = kDecode.value[static_cast<unsigned char>(text[i])];
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            emit(3);
            acc = 0;
            have = 0;
        }
    }
    if (have == 3) {
        acc <<= 6;
        emit(2);
    } else if (have == 2) {
        acc <<= 12;
        emit(1);
    }
    *length = decoded > INT_MAX ? INT_MAX : static_cast<int>(decoded);
    return output != nullptr && fits;
}

XStr XBase64EncodeToStr(const void* data, size_t count, unsigned flags)
{
    if (count == 0)
        return XStr();
    int size = XBase64EncodeSize(count, flags);
    if (size == 0)
        return XStr();
    std::vector<char> buffer(static_cast<size_t>(size));
    if (!XBase64Encode(data, count, buffer.data(), &size, flags, false))
        return XStr();
    return FromAsciiBytes(buffer.data(), static_cast<size_t>(size));
}

XStr XBase64EncodeCStr(const char* text, unsigned flags)
{
    if (!text)
        return XStr();
    return XBase64EncodeToStr(text, strlen(text), flags);
}

XStr XBase64EncodeWide(const XStr& text, unsigned flags)
{
    XStr copy(text);
    const uint16_t* units = copy.UTF16();
    if (!units)
        return XStr();
    size_t n = 0;
    while (units[n])
        ++n;
    return XBase64EncodeToStr(units, n * 2, flags);
}

void XBase64MakeSafe(XStr& text)
{
    for (int i = 0; i < text.Length(); ++i)
        if (text.p[i] == L'/')
            text.p[i] = L'-';
}

void XBase64UnmakeSafe(XStr& text)
{
    for (int i = 0; i < text.Length(); ++i)
        if (text.p[i] == L'-')
            text.p[i] = L'/';
}

XStr XBase64EncodeCStrSafe(const char* text, unsigned flags)
{
    XStr s = XBase64EncodeCStr(text, flags);
    XBase64MakeSafe(s);
    return s;
}

XStr XBase64EncodeWideSafe(const XStr& text, unsigned flags)
{
    XStr s = XBase64EncodeWide(text, flags);
    XBase64MakeSafe(s);
    return s;
}

XStr XBase64DecodeToStr(const char* text, int mode)
{
    if (!text)
        return XStr();
    const size_t textLength = strlen(text);
    if (textLength > static_cast<size_t>(INT_MAX) - 8)
        return XStr();
    // Zero-filled with four spare bytes, so the decoded text is always terminated, also as
    // 16-bit units.
    std::vector<uint16_t> units(textLength / 2 + 3, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(units.data());
    int length = static_cast<int>(textLength + 4);
    if (!XBase64Decode(text, static_cast<int>(textLength), bytes, &length))
        return XStr();
    switch (mode) {
    case 0:
        return XStr::FromUTF16(units.data());
    case 1:
        return XStr::FromAnsiData(reinterpret_cast<const char*>(bytes),
                                  strnlen(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)));
    case 2:
        return XStr::FromUTF8(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    default:
        return XStr();
    }
}

XStr XBase64DecodeSafeToStr(const char* text, int mode)
{
    if (!text)
        return XStr();
    std::string copy(text);
    for (char& ch : copy)
        if (ch == '-')
            ch = '/';
    return XBase64DecodeToStr(copy.c_str(), mode);
}

bool XBase64DecodeToBuffer(const char* text, XBuffer& out, bool zeroPad)
{
    if (!text)
        return false;
    const size_t textLength = strlen(text);
    if (textLength > static_cast<size_t>(INT_MAX) - 8)
        return false;
    if (!out.SetSize(textLength + 4, false, true))
        return false;
    int length = static_cast<int>(textLength + 4);
    if (!XBase64Decode(text, static_cast<int>(textLength), out.Data, &length)) {
        out.Used = 0;
        return false;
    }
    const uint64_t used = static_cast<uint64_t>(length);
    if (zeroPad) {
        if (!out.SetSize(used + 8, true))
            return false;
        memset(out.Data + used, 0, 8);
    } else {
        out.SetSize(used, true);
    }
    out.Used = used;
    return true;
}
