// Narrow views and codecs of XStr, number texts and reading numbers back.
#include "xclass/XBuffer.h"
#include "xclass/XStr.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// Windows-1252 assignments of the bytes 0x80 to 0x9F; 0 where the byte is undefined.
const uint16_t kWin1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Characters that stand for a byte which was not valid UTF-8 (see XStr.h).
constexpr uint32_t kEscapeFirst = 0xDC80;
constexpr uint32_t kEscapeLast = 0xDCFF;

wchar_t DecodeAnsiByte(uint8_t b)
{
    if (b < 0x80 || b >= 0xA0)
        return b;
    const uint16_t u = kWin1252[b - 0x80];
    return u ? u : L'_';
}

char EncodeAnsiChar(wchar_t ch)
{
    const auto c = static_cast<uint32_t>(ch);
    if ((c >= 1 && c < 0x80) || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; i++)
        if (kWin1252[i] && kWin1252[i] == c)
            return static_cast<char>(0x80 + i);
    return '_';
}

// Length of the valid UTF-8 sequence at in (at most avail bytes), or 0 when the first byte does
// not start one. Only the forms of Unicode scalar values count: overlong forms, encoded
// surrogates (the escape characters among them), code points above U+10FFFF and the old 5- and
// 6-byte forms are invalid, so their bytes are kept one by one as escapes. Every decoded
// character then encodes back to exactly the bytes it came from, and no decoded text holds a
// surrogate that a UTF-16 bridge could pair with its neighbour.
int ValidSequence(const uint8_t* in, size_t avail, uint32_t& cp)
{
    const uint8_t lead = in[0];
    int length;
    uint32_t bits;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        bits = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        bits = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        bits = lead & 0x07;
    } else {
        return 0;
    }
    if (static_cast<size_t>(length) > avail)
        return 0;
    for (int i = 1; i < length; i++) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        bits = (bits << 6) | (in[i] & 0x3F);
    }
    static const uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (bits < kMinimum[length] || bits > 0x10FFFF)
        return 0;
    if (bits >= 0xD800 && bits <= 0xDFFF)
        return 0;
    cp = bits;
    return length;
}

} // namespace

int32_t XDecodeUTF8(const uint8_t* in, size_t length, wchar_t* out, bool stopAtZero)
{
    int32_t written = 0;
    size_t i = 0;
    while (i < length) {
        if (in[i] == 0 && stopAtZero)
            break;
        uint32_t cp = 0;
        const int n = ValidSequence(in + i, length - i, cp);
        if (n == 0) {
            out[written++] = static_cast<wchar_t>(0xDC00 + in[i]);
            i++;
        } else {
            out[written++] = static_cast<wchar_t>(cp);
            i += static_cast<size_t>(n);
        }
    }
    out[written++] = 0;
    return written;
}

void XAppendUTF8(std::string& out, wchar_t ch)
{
    const auto c = static_cast<uint32_t>(ch);
    if (c >= kEscapeFirst && c <= kEscapeLast)
        out += static_cast<char>(c - 0xDC00);
    else
        XAppendCodePointUTF8(out, c);
}

void XAppendCodePointUTF8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x200000) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x4000000) {
        out += static_cast<char>(0xF8 | (c >> 24));
        out += static_cast<char>(0x80 | ((c >> 18) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c <= 0x7FFFFFFF) {
        out += static_cast<char>(0xFC | (c >> 30));
        out += static_cast<char>(0x80 | ((c >> 24) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 18) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    // Code points from 0x80000000 up have no encoding and are dropped.
}

// ---------------------------------------------------------------------------------------------
// Narrow views

const char* XStr::UTF8()
{
    const uint64_t size = static_cast<uint64_t>(NumChars) * 6 + 12;
    if (AnsiC.m_size != size || !AnsiC.m_ptr)
        AnsiC.Allocate(size);
    char* out = AnsiC.m_ptr;
    for (int i = 0; i < NumChars - 1; i++) {
        const auto c = static_cast<uint32_t>(p[i]);
        if (c < 0x80 && c != 0) {
            *out++ = static_cast<char>(c);
            continue;
        }
        std::string bytes;
        XAppendUTF8(bytes, p[i]);
        memcpy(out, bytes.data(), bytes.size());
        out += bytes.size();
    }
    *out = 0;
    return AnsiC.m_ptr;
}

std::string XStr::ToUTF8String() const
{
    std::string out;
    out.reserve(static_cast<size_t>(NumChars));
    for (int i = 0; i < NumChars - 1; i++)
        XAppendUTF8(out, p[i]);
    return out;
}

const char* XStr::Ansi()
{
    const uint64_t size = static_cast<uint64_t>(NumChars);
    if (AnsiC.m_size != size || !AnsiC.m_ptr)
        AnsiC.Allocate(size);
    for (int i = 0; i < NumChars - 1; i++)
        AnsiC.m_ptr[i] = EncodeAnsiChar(p[i]);
    AnsiC.m_ptr[NumChars - 1] = 0;
    return AnsiC.m_ptr;
}

const uint16_t* XStr::UTF16()
{
    const uint64_t size = static_cast<uint64_t>(NumChars) * 2;
    if (AnsiC.m_size != size || !AnsiC.m_ptr)
        AnsiC.Allocate(size);
    auto* out = reinterpret_cast<uint16_t*>(AnsiC.m_ptr);
    for (int i = 0; i < NumChars; i++)
        out[i] = static_cast<uint16_t>(p[i] & 0xFFFF);
    return out;
}

void XStr::CopyAnsiTo(char* dst)
{
    memcpy(dst, Ansi(), static_cast<size_t>(NumChars));
}

// ---------------------------------------------------------------------------------------------
// Building from other encodings

XStr::XStr(const char* text, bool utf8)
{
    InitEmpty();
    if (!text)
        return;
    if (!utf8) {
        *this = FromAnsi(text);
        return;
    }
    const size_t length = strlen(text);
    Reserve(static_cast<int32_t>(length) + 3);
    NumChars = XDecodeUTF8(reinterpret_cast<const uint8_t*>(text), length, p, true);
}

XStr XStr::FromUTF8(const char* text)
{
    return XStr(text, true);
}

XStr XStr::FromUTF8(const char* text, size_t length)
{
    if (!text)
        return XStr();
    const void* zero = memchr(text, 0, length);
    if (zero)
        length = static_cast<size_t>(static_cast<const char*>(zero) - text);
    return FromUTF8Bytes(text, length);
}

XStr XStr::FromUTF8Data(const void* data, size_t length)
{
    return FromUTF8(static_cast<const char*>(data), length);
}

XStr XStr::FromUTF8Buffer(const XBuffer& buffer)
{
    return FromUTF8Data(buffer.Data, buffer.Size);
}

XStr XStr::FromUTF8Bytes(const void* data, size_t length)
{
    XStr r;
    if (!data || length == 0)
        return r;
    r.Reserve(static_cast<int32_t>(length) + 1);
    r.NumChars = XDecodeUTF8(static_cast<const uint8_t*>(data), length, r.p, false);
    return r;
}

XStr XStr::FromAnsi(const char* text)
{
    return text ? FromAnsiData(text, strlen(text)) : XStr();
}

XStr XStr::FromAnsiData(const char* data, size_t length)
{
    XStr r;
    if (!data)
        return r;
    const void* zero = memchr(data, 0, length);
    if (zero)
        length = static_cast<size_t>(static_cast<const char*>(zero) - data);
    r.Reserve(static_cast<int32_t>(length) + 1);
    for (size_t i = 0; i < length; i++)
        r.p[i] = DecodeAnsiByte(static_cast<uint8_t>(data[i]));
    r.NumChars = static_cast<int32_t>(length) + 1;
    r.p[length] = 0;
    return r;
}

XStr XStr::FromAnsiBuffer(const XBuffer& buffer)
{
    return FromAnsiData(reinterpret_cast<const char*>(buffer.Data), buffer.Size);
}

XStr XStr::FromUTF16(const uint16_t* text)
{
    XStr r;
    if (!text)
        return r;
    for (const uint16_t* u = text; *u; u++)
        r.CatChar(*u);
    return r;
}

XStr XStr::FromASCII(const uint8_t* text)
{
    return text ? FromASCII(text, strlen(reinterpret_cast<const char*>(text))) : XStr();
}

XStr XStr::FromASCII(const uint8_t* text, size_t length)
{
    XStr r;
    if (!text)
        return r;
    for (size_t i = 0; i < length && text[i]; i++)
        r.CatChar(text[i] < 0x80 ? text[i] : L'_');
    return r;
}

XStr XStr::FromWide(const wchar_t* text)
{
    return XStr(text);
}

// ---------------------------------------------------------------------------------------------
// Numbers to text

XStr XStr::FromULong(uint64_t value)
{
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    XStr r;
    for (int i = n - 1; i >= 0; i--)
        r.p[n - 1 - i] = digits[i];
    r.p[n] = 0;
    r.NumChars = n + 1;
    return r;
}

XStr XStr::FromLong(int64_t value)
{
    if (value >= 0)
        return FromULong(static_cast<uint64_t>(value));
    XStr r = FromULong(0 - static_cast<uint64_t>(value)); // no overflow for the minimum
    r.InsertChar(L'-', 1);
    return r;
}

XStr XStr::FromDouble(double value, int decimals, bool keepZeros)
{
    if (!std::isfinite(value))
        return XStr(std::isnan(value) ? L"nan" : (value < 0 ? L"-inf" : L"inf"));
    const double scale = decimals > 0 ? std::pow(10.0, decimals) : 1.0;
    double a = std::fabs(value);
    const bool belowOne = a < 1;
    if (belowOne)
        a += 1; // keeps the leading zeros of the fraction as digits
    const double scaled = std::floor(a * scale + 0.49);
    XStr text;
    if (scaled < 1.8e19) {
        text = FromULong(static_cast<uint64_t>(scaled));
    } else {
        char buf[400];
        snprintf(buf, sizeof buf, "%.0f", scaled);
        text = FromAnsi(buf);
    }
    if (decimals > 0) {
        while (text.Length() <= decimals)
            text.InsertChar(L'0', 1);
        text.InsertChar(L'.', text.Length() - decimals + 1);
    } else {
        text.CatChar(L'.');
    }
    if (belowOne)
        text.p[0] = static_cast<wchar_t>(text.p[0] - 1);
    if (value < 0)
        text.InsertChar(L'-', 1);
    if (!keepZeros) {
        if (decimals > 0)
            text.TrimRightChar(L'0');
        if (text.Length() > 0 && text.p[text.Length() - 1] == L'.')
            text.DeleteRight(1);
    }
    return text;
}

XStr XStr::HexDigits(uint64_t value, int digits)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    XStr r;
    for (int i = 0; i < digits; i++) {
        r.InsertChar(kHex[value & 0xF], 1);
        value >>= 4;
    }
    return r;
}

XStr XStr::Hex(uint64_t value)
{
    XStr r = HexDigits(value, 16);
    int zeros = 0;
    while (zeros < r.Length() - 1 && r.p[zeros] == L'0')
        zeros++;
    r.Delete(1, zeros);
    return r;
}

XStr XStr::HexBytes(const uint8_t* data, unsigned length)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    XStr r;
    r.Grow(static_cast<int32_t>(length) * 2 + 1, 0);
    for (unsigned i = 0; i < length; i++) {
        r.CatChar(kHex[data[i] >> 4]);
        r.CatChar(kHex[data[i] & 0xF]);
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Text to numbers

int64_t XStr::ToLong() const
{
    const wchar_t* s = p;
    while (*s == L' ')
        s++;
    bool negative = false;
    if (*s == L'-') {
        negative = true;
        s++;
    } else if (*s == L'+') {
        s++;
    }
    uint64_t v = 0; // wraps instead of overflowing
    while (*s >= L'0' && *s <= L'9')
        v = v * 10 + static_cast<uint64_t>(*s++ - L'0');
    return static_cast<int64_t>(negative ? 0 - v : v);
}

uint64_t XStr::ToULong() const
{
    const wchar_t* s = p;
    while (*s == L' ')
        s++;
    if (*s == L'-')
        return 0;
    if (*s == L'+')
        s++;
    uint64_t v = 0;
    while (*s >= L'0' && *s <= L'9')
        v = v * 10 + static_cast<uint64_t>(*s++ - L'0');
    return v;
}

bool XStr::IsTrue() const
{
    return ToLong() != 0 || XStrCompare(p, L"true", 0, true) == 0;
}

double XStr::ToDouble() const
{
    return XStrToDouble(p);
}

double XStrToDouble(const wchar_t* text)
{
    if (!text)
        return 0;
    XStr s(text);
    s.TrimLeft();
    const int blank = s.FindChar(L' ');
    if (blank)
        s.SetLength(blank - 1);
    int i = 0;
    if (s.p[i] == L'+')
        i++;
    bool negative = false;
    if (s.p[i] == L'-') {
        negative = true;
        i++;
    }
    double integer = 0;
    while (s.p[i] >= L'0' && s.p[i] <= L'9')
        integer = integer * 10 + (s.p[i++] - L'0');
    double fraction = 0;
    if (s.p[i] == L'.') {
        // The fraction is read backwards from the end: a stray character stops it there.
        for (int k = s.Length() - 1; k > i; k--) {
            if (s.p[k] < L'0' || s.p[k] > L'9')
                break;
            fraction = (fraction + (s.p[k] - L'0')) / 10;
        }
    }
    const double result = integer + fraction;
    return negative ? -result : result;
}

uint64_t XHexToULong(const wchar_t* text)
{
    uint64_t v = 0;
    for (const wchar_t* s = text; s && *s; s++) {
        int d;
        if (*s >= L'0' && *s <= L'9')
            d = *s - L'0';
        else if (*s >= L'a' && *s <= L'f')
            d = *s - L'a' + 10;
        else if (*s >= L'A' && *s <= L'F')
            d = *s - L'A' + 10;
        else
            break;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    return v;
}

int64_t XHexToLong(const wchar_t* text)
{
    return static_cast<int64_t>(XHexToULong(text));
}

uint64_t XStr::HexToULong() const
{
    return XHexToULong(p);
}
int64_t XStr::HexToLong() const
{
    return XHexToLong(p);
}

bool XHexToBytes(const wchar_t* hex, uint8_t* out, unsigned count)
{
    if (!hex || wcslen(hex) / 2 != count)
        return false;
    for (unsigned i = 0; i < count; i++) {
        const wchar_t pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        out[i] = static_cast<uint8_t>(XHexToULong(pair));
    }
    return true;
}
