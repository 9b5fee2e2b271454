// The library's printf-like formatter, the natural order of file lists with its Latin
// transliteration, and the quoting of one command-line argument.
#include "xclass/XStr.h"

#include <cstdint>
#include <cwchar>
#include <mutex>

namespace {

// One row of the transliteration table: the ASCII letter, then the code points that map to
// its upper-case form, then those that map to its lower-case form.
struct TranslitRow {
    char letter;
    const char16_t* upper;
    const char16_t* lower;
};

const TranslitRow kTranslit[] = {
    {'a', u"\u00C0\u00C1\u00C2\u00C3\u00C4\u00C5\u0100\u0102\u0104",
     u"\u00E0\u00E1\u00E2\u00E3\u00E4\u00E5\u0101\u0103\u0105"},
    {'c', u"\u00C7\u0106\u0108\u010A\u010C", u"\u00E7\u0107\u0109\u010B\u010D"},
    {'d', u"\u010E\u0110", u"\u010F\u0111"},
    {'e', u"\u00C8\u00C9\u00CA\u00CB\u0112\u0114\u0116\u0118\u011A",
     u"\u00E8\u00E9\u00EA\u00EB\u0113\u0115\u0117\u0119\u011B"},
    {'g', u"\u011C\u011E\u0120\u0122", u"\u011D\u011F\u0121\u0123"},
    {'i', u"\u00CC\u00CD\u00CE\u00CF\u0128\u012A\u012C\u012E\u0130",
     u"\u00EC\u00ED\u00EE\u00EF\u0129\u012B\u012D\u012F\u0131"},
    {'j', u"\u0134", u"\u0135"},
    {'k', u"\u0136", u"\u0137"},
    {'l', u"\u0139\u013B\u013D\u013F\u0141", u"\u013A\u013C\u013E\u0140\u0142"},
    {'n', u"\u00D1\u0143\u0145\u0147\u014A", u"\u00F1\u0144\u0146\u0148\u0149\u014B"},
    {'o', u"\u00D2\u00D3\u00D4\u00D5\u00D6\u00D8\u014C\u014E\u0150",
     u"\u00F2\u00F3\u00F4\u00F5\u00F6\u00F8\u014D\u014F\u0151\u00F0"},
    {'r', u"\u0154\u0156\u0158", u"\u0155\u0157\u0159"},
    {'s', u"\u015A\u015C\u015E\u0160", u"\u015B\u015D\u015F\u0161"},
    {'t', u"\u0162\u0164\u0166", u"\u0163\u0165\u0167"},
    {'u', u"\u00D9\u00DA\u00DB\u00DC\u0168\u016A\u016C\u016E\u0170\u0172",
     u"\u00F9\u00FA\u00FB\u00FC\u0169\u016B\u016D\u016F\u0171\u0173"},
    {'w', u"\u0174", u"\u0175"},
    {'y', u"\u00DD\u0176\u0178", u"\u00FD\u0177"},
    {'z', u"\u0179\u017B\u017D", u"\u017A\u017C\u017E"},
};

// Flat lookup over U+0080..U+017F (every mapped character lies there); 0 = not in the table.
struct TranslitMap {
    char map[0x180] = {};
    TranslitMap()
    {
        for (const auto& row : kTranslit) {
            for (const char16_t* c = row.upper; *c; c++)
                map[*c] = static_cast<char>(row.letter - 32);
            for (const char16_t* c = row.lower; *c; c++)
                map[*c] = row.letter;
        }
    }
};

char Transliterate(wchar_t ch)
{
    static const TranslitMap table;
    const auto c = static_cast<uint32_t>(ch);
    return c < 0x180 ? table.map[c] : 0;
}

inline bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

} // namespace

wchar_t XCharToASCII(wchar_t ch)
{
    if (static_cast<uint32_t>(ch) < 128)
        return ch;
    const char t = Transliterate(ch);
    return t ? t : L'_';
}

wchar_t XCharSortKey(wchar_t ch)
{
    if (static_cast<uint32_t>(ch) < 128)
        return (ch >= L'A' && ch <= L'Z') ? ch + 32 : ch;
    const char t = Transliterate(ch);
    if (!t)
        return L'_';
    return (t >= 'A' && t <= 'Z') ? t + 32 : t;
}

XStr XStr::FoldToASCII(const wchar_t* text)
{
    XStr r(text);
    for (int i = 0; i < r.Length(); i++)
        r.p[i] = XCharToASCII(r.p[i]);
    return r;
}

int XStrCompareNatural(const wchar_t* a, const wchar_t* b)
{
    if (!a)
        a = L"";
    if (!b)
        b = L"";
    for (;;) {
        if (IsDigit(*a) && IsDigit(*b)) {
            int la = 0, lb = 0;
            while (IsDigit(a[la]))
                la++;
            while (IsDigit(b[lb]))
                lb++;
            const int width = la > lb ? la : lb;
            for (int i = 0; i < width; i++) {
                // Right-aligned: a missing leading digit counts as "0".
                const wchar_t da = i < width - la ? L'0' : a[i - (width - la)];
                const wchar_t db = i < width - lb ? L'0' : b[i - (width - lb)];
                if (da != db)
                    return da < db ? -1 : 1;
            }
            a += la;
            b += lb;
            continue;
        }
        const wchar_t ka = XCharSortKey(*a), kb = XCharSortKey(*b);
        if (ka != kb)
            return static_cast<uint32_t>(ka) < static_cast<uint32_t>(kb) ? -1 : 1;
        if (*a != *b)
            return static_cast<uint32_t>(*a) < static_cast<uint32_t>(*b) ? -1 : 1;
        if (*a == 0)
            return 0;
        a++;
        b++;
    }
}

XStr XQuoteArgument(const XStr& arg)
{
    bool plain = !arg.IsEmpty();
    for (int i = 0; plain && i < arg.Length(); i++) {
        const wchar_t c = arg.p[i];
        plain = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'+' ||
                c == L'-' || c == L'.' || c == L'/' || c == L'_';
    }
    if (plain)
        return arg;
    // The splitter takes a backslash as "the next character as it is", so both the backslash
    // and the double quote are escaped: every argument comes back unchanged.
    XStr r;
    r.CatChar(L'"');
    for (int i = 0; i < arg.Length(); i++) {
        if (arg.p[i] == L'"' || arg.p[i] == L'\\')
            r.CatChar(L'\\');
        r.CatChar(arg.p[i]);
    }
    r.CatChar(L'"');
    return r;
}

// ---------------------------------------------------------------------------------------------
// Formatter

namespace {

void Pad(XStr& out, int count, wchar_t pad)
{
    for (int i = 0; i < count; i++)
        out.CatChar(pad);
}

void AppendPadded(XStr& out, const XStr& text, int width, wchar_t pad)
{
    if (width > text.Length())
        Pad(out, width - text.Length(), pad);
    out.Cat(text.p, text.Length());
}

XStr LowerHex(uint64_t value)
{
    return XStr::Hex(value).ToLower();
}

} // namespace

void XStr::FormatV(const wchar_t* format, va_list args)
{
    XStr out;
    if (!format) {
        *this = out;
        return;
    }
    const wchar_t* f = format;
    while (*f) {
        if (*f != L'%') {
            const wchar_t* start = f;
            while (*f && *f != L'%')
                f++;
            out.Cat(start, static_cast<int32_t>(f - start));
            continue;
        }
        f++;
        bool plus = false, pointSeen = false, done = false;
        int width = 0, precision = 5, longs = 0;
        wchar_t pad = L' ';
        while (!done) {
            const wchar_t c = *f;
            if (c == 0) {
                // The format ended inside a specification.
                *this = XStr();
                return;
            }
            f++;
            switch (c) {
            case L'+':
                plus = true;
                break;
            case L'.':
                if (pointSeen) {
                    *this = XStr();
                    return;
                }
                pointSeen = true;
                precision = 0;
                break;
            case L'0':
            case L'1':
            case L'2':
            case L'3':
            case L'4':
            case L'5':
            case L'6':
            case L'7':
            case L'8':
            case L'9':
                if (pointSeen)
                    precision = precision * 10 + (c - L'0');
                else if (c == L'0' && width == 0)
                    pad = L'0';
                else
                    width = width * 10 + (c - L'0');
                break;
            case L'l':
            case L'z':
            case L'j':
            case L'q':
                // 64-bit arguments: size_t and long are 64 bits here, so these must read 8 bytes.
                longs++;
                break;
            case L'%':
                out.CatChar(L'%');
                done = true;
                break;
            case L'c':
                out.CatChar(static_cast<wchar_t>(va_arg(args, int)));
                done = true;
                break;
            case L'd':
            case L'i': {
                const int64_t v = longs ? static_cast<int64_t>(va_arg(args, long long)) : va_arg(args, int);
                const bool negative = v < 0;
                const XStr digits = XStr::FromULong(negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
                const wchar_t sign = negative ? L'-' : (plus ? L'+' : 0);
                int w = width;
                if (sign)
                    w--;
                if (pad == L'0') {
                    if (sign)
                        out.CatChar(sign);
                    AppendPadded(out, digits, w, pad);
                } else {
                    if (w > digits.Length())
                        Pad(out, w - digits.Length(), pad);
                    if (sign)
                        out.CatChar(sign);
                    out.Cat(digits.p, digits.Length());
                }
                done = true;
                break;
            }
            case L'u': {
                const uint64_t v = longs ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
                AppendPadded(out, XStr::FromULong(v), width, pad);
                done = true;
                break;
            }
            case L'x':
            case L'X': {
                const uint64_t v = longs ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
                AppendPadded(out, c == L'x' ? LowerHex(v) : XStr::Hex(v), width, pad);
                done = true;
                break;
            }
            case L's': {
                const wchar_t* s = va_arg(args, const wchar_t*);
                if (s)
                    out.Cat(s);
                done = true;
                break;
            }
            case L'f': {
                const double v = va_arg(args, double);
                if (plus && v > 0)
                    out.CatChar(L'+');
                const XStr text = XStr::FromDouble(v, precision, false);
                out.Cat(text.p, text.Length());
                done = true;
                break;
            }
            default:
                // Flags and letters the formatter does not know are passed over.
                break;
            }
        }
    }
    *this = out;
}

void XStr::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

XStr XStr::FromFormat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    XStr r;
    r.FormatV(format, args);
    va_end(args);
    return r;
}

XStr XStr::FromFormatV(const wchar_t* format, va_list args)
{
    XStr r;
    r.FormatV(format, args);
    return r;
}
