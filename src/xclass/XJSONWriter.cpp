// The writer of XJSON: the one fixed indented layout of ToText and ToUTF8, escaping and
// quoting of single texts, and writing a tree to a file.
#include "xclass/XJSON.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFileRewrite.h"

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

// Output in wide characters (ToText).
struct WideSink {
    std::wstring& s;
    void PutASCII(const char* text, size_t n)
    {
        const size_t at = s.size();
        s.resize(at + n);
        for (size_t i = 0; i < n; i++)
            s[at + i] = static_cast<unsigned char>(text[i]);
    }
    void PutASCII(char c) { s.push_back(static_cast<unsigned char>(c)); }
    void PutRun(const wchar_t* text, size_t n) { s.append(text, n); }
    void PutBlanks(size_t n) { s.append(n, L' '); }
};

// Counts the wide characters of the output.
struct CountSink {
    size_t n = 0;
    void PutASCII(const char*, size_t count) { n += count; }
    void PutASCII(char) { n++; }
    void PutRun(const wchar_t*, size_t count) { n += count; }
    void PutBlanks(size_t count) { n += count; }
};

// Writes wide characters into a buffer of the size CountSink measured.
struct FixedSink {
    wchar_t* p;
    void PutASCII(const char* text, size_t count)
    {
        for (size_t i = 0; i < count; i++)
            *p++ = static_cast<unsigned char>(text[i]);
    }
    void PutASCII(char c) { *p++ = static_cast<unsigned char>(c); }
    void PutRun(const wchar_t* text, size_t count)
    {
        wmemcpy(p, text, count);
        p += count;
    }
    void PutBlanks(size_t count)
    {
        wmemset(p, L' ', count);
        p += count;
    }
};

// Output as UTF-8 bytes (files).
struct UTF8Sink {
    std::string& s;
    void PutASCII(const char* text, size_t n) { s.append(text, n); }
    void PutASCII(char c) { s.push_back(c); }
    void PutRun(const wchar_t* text, size_t n)
    {
        size_t i = 0;
        while (i < n) {
            // Runs of plain ASCII go in one append.
            size_t j = i;
            while (j < n && static_cast<uint32_t>(text[j]) < 0x80)
                j++;
            if (j > i) {
                const size_t at = s.size();
                s.resize(at + (j - i));
                char* out = &s[at];
                for (size_t k = i; k < j; k++)
                    *out++ = static_cast<char>(text[k]);
                i = j;
            }
            while (i < n && static_cast<uint32_t>(text[i]) >= 0x80)
                XAppendUTF8(s, text[i++]);
        }
    }
    void PutBlanks(size_t n) { s.append(n, ' '); }
};

inline bool IsSurrogate(uint32_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// Characters written as an escape: the JSON specials, the controls, and surrogates (a lone
// surrogate has no UTF-8 form; escaped it stays readable for every JSON reader and comes
// back as the same character here).
inline bool WrittenEscaped(uint32_t c)
{
    return c < 32 || c == '"' || c == '\\' || IsSurrogate(c);
}

inline size_t EscapedLength(uint32_t c)
{
    switch (c) {
    case '"':
    case '\\':
    case 8:
    case 12:
    case 10:
    case 13:
    case 9:
        return 2;
    default:
        return 6;
    }
}

template <class Sink>
void PutEscape(Sink& out, uint32_t c)
{
    static const char kHex[] = "0123456789ABCDEF";
    char buf[6] = {'\\', 0, 0, 0, 0, 0};
    switch (c) {
    case '"':
        buf[1] = '"';
        break;
    case '\\':
        buf[1] = '\\';
        break;
    case 8:
        buf[1] = 'b';
        break;
    case 12:
        buf[1] = 'f';
        break;
    case 10:
        buf[1] = 'n';
        break;
    case 13:
        buf[1] = 'r';
        break;
    case 9:
        buf[1] = 't';
        break;
    default:
        buf[1] = 'u';
        buf[2] = kHex[(c >> 12) & 15];
        buf[3] = kHex[(c >> 8) & 15];
        buf[4] = kHex[(c >> 4) & 15];
        buf[5] = kHex[c & 15];
        out.PutASCII(buf, 6);
        return;
    }
    out.PutASCII(buf, 2);
}

template <class Sink>
void PutEscaped(Sink& out, const wchar_t* text, size_t n)
{
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && !WrittenEscaped(static_cast<uint32_t>(text[j])))
            j++;
        if (j > i)
            out.PutRun(text + i, j - i);
        if (j < n)
            PutEscape(out, static_cast<uint32_t>(text[j++]));
        i = j;
    }
}

template <class Sink>
void PutQuoted(Sink& out, std::wstring_view text)
{
    out.PutASCII('"');
    PutEscaped(out, text.data(), text.size());
    out.PutASCII('"');
}

// The number's text: an integer in decimal when it is integral, else seven decimals at most
// (the rounding of XStr::FromDouble (value, 7, false)), "null" when it is not finite.
size_t FormatNumber(const Number& n, char* buf, size_t size)
{
    char* const end = buf + size;
    if (n.HasExactInt())
        return static_cast<size_t>(std::to_chars(buf, end, n.Int).ptr - buf);
    const double v = n.Value;
    if (!std::isfinite(v)) {
        memcpy(buf, "null", 4);
        return 4;
    }
    if (v == std::trunc(v)) {
        if (v >= -9223372036854775808.0 && v < 9223372036854775808.0)
            return static_cast<size_t>(std::to_chars(buf, end, static_cast<int64_t>(v)).ptr - buf);
        // Beyond 64 bits: every digit of the exact value, never an exponent.
        return static_cast<size_t>(std::to_chars(buf, end, v, std::chars_format::fixed, 0).ptr - buf);
    }
    double a = std::fabs(v);
    const bool belowOne = a < 1;
    if (belowOne)
        a += 1; // keeps the leading zeros of the fraction as digits
    const double scaled = std::floor(a * 1e7 + 0.49);
    if (!(scaled < 1.8e19)) {
        const std::string text = XStr::FromDouble(v, 7, false).ToUTF8String();
        const size_t len = std::min(text.size(), size);
        memcpy(buf, text.data(), len);
        return len;
    }
    char digits[32];
    size_t len =
        static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(scaled)).ptr - digits);
    // Pad so that there is at least one digit before the seven decimals.
    char padded[40];
    size_t pad = len <= 7 ? 8 - len : 0;
    memset(padded, '0', pad);
    memcpy(padded + pad, digits, len);
    len += pad;
    size_t o = 0;
    if (v < 0)
        buf[o++] = '-';
    const size_t intDigits = len - 7;
    const size_t firstDigit = o;
    memcpy(buf + o, padded, intDigits);
    o += intDigits;
    if (belowOne)
        buf[firstDigit] = static_cast<char>(buf[firstDigit] - 1);
    size_t fracLen = 7;
    while (fracLen > 0 && padded[intDigits + fracLen - 1] == '0')
        fracLen--;
    if (fracLen > 0) {
        buf[o++] = '.';
        memcpy(buf + o, padded + intDigits, fracLen);
        o += fracLen;
    }
    return o;
}

constexpr int64_t kOneLineLimit = 200;

// Length of the value's text when it is a single line, -1 when it holds a line feed.
// Counting may stop once the length reaches limit.
int64_t OneLineLength(const AnyType* v, int64_t limit)
{
    if (!v)
        return 4;
    switch (v->TypeOf()) {
    case typeObject:
        return -1;
    case typeArray: {
        const Array* a = static_cast<const Array*>(v);
        const int64_t count = a->Count();
        int64_t sum = 0; // sum of (item length + 4)
        for (int64_t i = 0; i < count; i++) {
            const int64_t l = OneLineLength(a->Items.GetPtr<AnyType>(i), kOneLineLimit - sum);
            if (l < 0)
                return -1;
            sum += l + 4;
            if (sum >= kOneLineLimit)
                return -1;
        }
        return count == 0 ? 2 : sum - 2 * count;
    }
    case typeString: {
        const Text& t = static_cast<const String*>(v)->Value;
        const wchar_t* s = t.c_str();
        const int n = t.Length();
        int64_t len = 2;
        for (int i = 0; i < n && len < limit; i++) {
            const uint32_t c = static_cast<uint32_t>(s[i]);
            len += WrittenEscaped(c) ? static_cast<int64_t>(EscapedLength(c)) : 1;
        }
        return len;
    }
    case typeNumber: {
        char buf[400];
        return static_cast<int64_t>(FormatNumber(*static_cast<const Number*>(v), buf, sizeof buf));
    }
    case typeBoolean:
        return static_cast<const Boolean*>(v)->Value ? 4 : 5;
    default:
        return 4;
    }
}

template <class Sink>
class Writer {
public:
    explicit Writer(Sink& out) : m_out(out) {}

    void Write(const AnyType* v, size_t depth)
    {
        if (!v) {
            m_out.PutASCII("null", 4); // a cell left unfilled
            return;
        }
        switch (v->TypeOf()) {
        case typeObject: {
            const Object* o = static_cast<const Object*>(v);
            m_out.PutASCII('{');
            for (int64_t i = 0; i < o->Count(); i++) {
                if (i)
                    m_out.PutASCII(',');
                NewLine(depth + 1);
                PutQuoted(m_out, o->NameRef(i).View());
                m_out.PutASCII(':');
                Write(o->CellAt(i), depth + 1);
            }
            NewLine(depth);
            m_out.PutASCII('}');
            break;
        }
        case typeArray: {
            const Array* a = static_cast<const Array*>(v);
            const int64_t count = a->Count();
            m_out.PutASCII('[');
            if (OneLineLength(a, kOneLineLimit) < 0) {
                for (int64_t i = 0; i < count; i++) {
                    if (i)
                        m_out.PutASCII(',');
                    NewLine(depth + 1);
                    Write(a->Items.GetPtr<AnyType>(i), depth + 1);
                }
                NewLine(depth);
            } else {
                for (int64_t i = 0; i < count; i++) {
                    if (i)
                        m_out.PutASCII(", ", 2);
                    Write(a->Items.GetPtr<AnyType>(i), depth);
                }
            }
            m_out.PutASCII(']');
            break;
        }
        case typeString:
            PutQuoted(m_out, static_cast<const String*>(v)->Value.View());
            break;
        case typeNumber: {
            char buf[400];
            m_out.PutASCII(buf, FormatNumber(*static_cast<const Number*>(v), buf, sizeof buf));
            break;
        }
        case typeBoolean:
            if (static_cast<const Boolean*>(v)->Value)
                m_out.PutASCII("true", 4);
            else
                m_out.PutASCII("false", 5);
            break;
        default:
            m_out.PutASCII("null", 4);
            break;
        }
    }

private:
    void NewLine(size_t depth)
    {
        m_out.PutASCII('\n');
        m_out.PutBlanks(4 * depth);
    }

    Sink& m_out;
};

} // namespace

XStr AnyType::ToText() const
{
    // Measured first, then written straight into the string: a large tree's text would
    // otherwise be built and copied through several growing buffers.
    CountSink counter;
    Writer<CountSink>(counter).Write(this, 0);
    XStr text;
    if (counter.n > static_cast<size_t>(INT32_MAX - 1))
        return text;
    text.SetLength(static_cast<int>(counter.n), L' ', true);
    if (static_cast<size_t>(text.Length()) != counter.n)
        return XStr();
    FixedSink sink{text.p};
    Writer<FixedSink>(sink).Write(this, 0);
    return text;
}

void AnyType::ToUTF8(std::string& out) const
{
    UTF8Sink sink{out};
    Writer<UTF8Sink>(sink).Write(this, 0);
}

// ---------------------------------------------------------------------------------------------
// Text helpers

XStr Escape(const XStr& text)
{
    std::wstring out;
    WideSink sink{out};
    PutEscaped(sink, text.p, static_cast<size_t>(text.Length()));
    return XStr(std::wstring_view(out));
}

XStr Quote(const XStr& text)
{
    std::wstring out;
    WideSink sink{out};
    PutQuoted(sink, text.View());
    return XStr(std::wstring_view(out));
}

XStr Indent(const XStr& text, const XStr& indent)
{
    std::wstring out;
    for (wchar_t c : text.View()) {
        out.push_back(c);
        if (c == L'\n')
            out.append(indent.View());
    }
    return XStr(std::wstring_view(out));
}

bool NeedsEscape(wchar_t ch)
{
    return ch == L'\\' || ch == L'"' || static_cast<uint32_t>(ch) < 32;
}

// ---------------------------------------------------------------------------------------------
// Files

bool WriteFile(XFile& file, const AnyType* value)
{
    if (!value)
        return false;
    std::string text;
    value->ToUTF8(text);
    if (text.size() > 4294967295ULL)
        return false;
    return file.Write(text.data(), text.size(), 2);
}

bool WriteFile(const wchar_t* path, const AnyType* value)
{
    if (!value || !path)
        return false;
    XFile file;
    if (!file.Open(path, XFILE_READWRITE, XFILE_CREATE_ALWAYS, false, XFILE_SHARE_READ))
        return false;
    if (WriteFile(file, value))
        return true;
    file.Close();
    XDeleteFile(path);
    return false;
}

bool WriteFileAtomically(const wchar_t* path, const AnyType* value)
{
    if (!value || !path)
        return false;
    std::string text;
    value->ToUTF8(text);
    return XFileWriteAll(path, text.data(), text.size());
}

} // namespace XJSON
