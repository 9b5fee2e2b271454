// The parser of XJSON: unescaping, the forgiving recursive-descent reader of wide text and
// UTF-8 bytes, and reading a tree from a file.
#include "xclass/XJSON.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "xclass/XFile.h"

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Text helpers

namespace {

inline int HexValue(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Up to four hex digits at s[i..n); returns how many were read.
size_t ReadHex4(const wchar_t* s, size_t i, size_t n, uint32_t& value)
{
    size_t k = 0;
    value = 0;
    while (k < 4 && i + k < n) {
        const int h = HexValue(static_cast<uint32_t>(s[i + k]));
        if (h < 0)
            break;
        value = value * 16 + static_cast<uint32_t>(h);
        k++;
    }
    return k;
}

void UnescapeInto(const wchar_t* s, size_t n, std::wstring& out)
{
    size_t i = 0;
    while (i < n) {
        // Copy the plain run in one go.
        size_t j = i;
        while (j < n && s[j] != L'\\')
            j++;
        out.append(s + i, j - i);
        if (j >= n)
            break;
        i = j + 1; // behind the backslash
        if (i >= n)
            break; // a backslash at the very end ends the text
        const wchar_t e = s[i++];
        switch (e) {
        case L'"':
        case L'\\':
        case L'/':
            out.push_back(e);
            break;
        case L'b':
            out.push_back(8);
            break;
        case L'f':
            out.push_back(12);
            break;
        case L'n':
            out.push_back(10);
            break;
        case L'r':
            out.push_back(13);
            break;
        case L't':
            out.push_back(9);
            break;
        case L'u':
        case L'U': {
            uint32_t cp;
            const size_t digits = ReadHex4(s, i, n, cp);
            i += digits;
            if (digits == 0)
                break;
            // Each escape is one character, surrogates included: two escaped surrogates
            // stay two characters, as the writer wrote them. Joined, a name made of bytes
            // that are not UTF-8 would come back as other bytes.
            out.push_back(static_cast<wchar_t>(cp));
            break;
        }
        default:
            break; // an unknown escape drops both characters
        }
    }
}

} // namespace

XStr Unescape(const XStr& text)
{
    std::wstring out;
    UnescapeInto(text.p, static_cast<size_t>(text.Length()), out);
    return XStr(std::wstring_view(out));
}

bool Unquote(XStr& out, const XStr& text)
{
    const int n = text.Length();
    if (n < 2 || text.p[0] != L'"' || text.p[n - 1] != L'"')
        return false;
    std::wstring inside;
    UnescapeInto(text.p + 1, static_cast<size_t>(n - 2), inside);
    out = XStr(std::wstring_view(inside));
    return true;
}

bool IsSpace(wchar_t ch)
{
    return static_cast<uint32_t>(ch) >= 1 && static_cast<uint32_t>(ch) <= 32;
}

bool IsDigit(wchar_t ch)
{
    return ch >= L'0' && ch <= L'9';
}

bool IsInteger(const XStr& text)
{
    const int n = text.Length();
    if (n == 0)
        return false;
    for (int i = text.p[0] == L'-' ? 1 : 0; i < n; i++)
        if (!IsDigit(text.p[i]))
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Parser

namespace {

// Member names repeat throughout a document (ffprobe prints the same keys for every stream):
// one shared text per distinct short name keeps a parsed tree small.
class NameTable {
public:
    Text Get(const wchar_t* s, size_t n)
    {
        if (n > kMaxLength)
            return Text(s, n);
        if (m_slots.empty())
            m_slots.resize(64);
        const size_t mask = m_slots.size() - 1;
        size_t i = Hash(s, n) & mask;
        for (;;) {
            Text& slot = m_slots[i];
            if (slot.IsEmpty())
                break;
            if (static_cast<size_t>(slot.Length()) == n && wmemcmp(slot.c_str(), s, n) == 0)
                return slot;
            i = (i + 1) & mask;
        }
        Text t(s, n);
        if (n == 0 || m_count >= kMaxEntries)
            return t;
        m_slots[i] = t;
        if (++m_count * 4 >= m_slots.size() * 3)
            Grow();
        return t;
    }

private:
    static constexpr size_t kMaxLength = 64;
    static constexpr size_t kMaxEntries = 4096;

    static size_t Hash(const wchar_t* s, size_t n)
    {
        uint64_t h = 1469598103934665603ULL;
        for (size_t i = 0; i < n; i++) {
            h ^= static_cast<uint32_t>(s[i]);
            h *= 1099511628211ULL;
        }
        return static_cast<size_t>(h ^ (h >> 29));
    }

    void Grow()
    {
        std::vector<Text> old;
        old.swap(m_slots);
        m_slots.resize(old.size() * 2);
        const size_t mask = m_slots.size() - 1;
        for (Text& t : old) {
            if (t.IsEmpty())
                continue;
            size_t i = Hash(t.c_str(), static_cast<size_t>(t.Length())) & mask;
            while (!m_slots[i].IsEmpty())
                i = (i + 1) & mask;
            m_slots[i] = std::move(t);
        }
    }

    std::vector<Text> m_slots;
    size_t m_count = 0;
};

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// C is wchar_t (wide text) or uint8_t (UTF-8 bytes); structure is ASCII in both.
template <typename C>
class Parser {
public:
    Parser(const C* begin, const C* end) : m_p(begin), m_end(end) {}

    AnyType* ParseValue()
    {
        SkipBlanks();
        if (m_p >= m_end)
            return nullptr;
        const uint32_t c = U(*m_p);
        switch (c) {
        case '"': {
            Text t;
            if (!ParseString(t, false))
                return nullptr;
            return new String(std::move(t));
        }
        case '+':
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return ParseNumber();
        case '[':
            return ParseArray();
        case '{':
            return ParseObject();
        default:
            if (MatchWord("true"))
                return new Boolean(true);
            if (MatchWord("false"))
                return new Boolean(false);
            if (MatchWord("null"))
                return new Null;
            return nullptr;
        }
    }

    const C* Position() const { return m_p; }

private:
    static uint32_t U(C c) { return static_cast<uint32_t>(c); }
    static bool Digit(uint32_t c) { return c >= '0' && c <= '9'; }

    void SkipBlanks()
    {
        while (m_p < m_end && U(*m_p) - 1u < 32u)
            m_p++;
    }

    bool MatchWord(const char* word)
    {
        const size_t n = strlen(word);
        if (static_cast<size_t>(m_end - m_p) < n)
            return false;
        for (size_t i = 0; i < n; i++) {
            uint32_t c = U(m_p[i]);
            if (c >= 'A' && c <= 'Z')
                c += 32;
            if (c != static_cast<uint32_t>(word[i]))
                return false;
        }
        m_p += n;
        return true;
    }

    // At the opening quote. The text between the quotes, unescaped.
    bool ParseString(Text& out, bool isName)
    {
        const C* s = ++m_p;
        bool escapes = false;
        bool ascii = true;
        while (m_p < m_end) {
            const uint32_t c = U(*m_p);
            if (c == '"')
                break;
            if (c == '\\') {
                escapes = true;
                m_p++;
                if (m_p >= m_end)
                    break;
            } else if (c >= 0x80) {
                ascii = false;
            }
            m_p++;
        }
        if (m_p >= m_end)
            return false; // no closing quote
        const C* e = m_p++;
        const size_t n = static_cast<size_t>(e - s);
        const wchar_t* chars;
        size_t count;
        if constexpr (std::is_same_v<C, wchar_t>) {
            (void)ascii;
            chars = s;
            count = n;
        } else {
            if (ascii && !escapes && !isName) {
                out = Text::Allocate(n);
                wchar_t* d = out.Data();
                for (size_t i = 0; i < n; i++)
                    d[i] = static_cast<wchar_t>(s[i]);
                return true;
            }
            m_decoded.resize(n + 1);
            const int32_t written = ascii ? Widen(s, n) : XDecodeUTF8(s, n, m_decoded.data(), false);
            chars = m_decoded.data();
            count = static_cast<size_t>(written - 1);
        }
        if (escapes) {
            m_unescaped.clear();
            UnescapeInto(chars, count, m_unescaped);
            chars = m_unescaped.data();
            count = m_unescaped.size();
        }
        out = isName ? m_names.Get(chars, count) : Text(chars, count);
        return true;
    }

    int32_t Widen(const C* s, size_t n)
    {
        for (size_t i = 0; i < n; i++)
            m_decoded[i] = static_cast<wchar_t>(s[i]);
        m_decoded[n] = 0;
        return static_cast<int32_t>(n + 1);
    }

    AnyType* ParseNumber()
    {
        bool negative = false;
        const uint32_t first = U(*m_p);
        if (first == '+' || first == '-') {
            negative = first == '-';
            m_p++;
        }
        if (m_p >= m_end || !Digit(U(*m_p)))
            return new Null; // a lone sign
        const C* intStart = m_p;
        while (m_p < m_end && Digit(U(*m_p)))
            m_p++;
        const C* intEnd = m_p;
        // JSON has no leading zeros ("01"): such a text is not read as some other number.
        if (intEnd - intStart > 1 && U(*intStart) == '0')
            return nullptr;
        const C* fracStart = m_p;
        const C* fracEnd = m_p;
        if (m_p < m_end && U(*m_p) == '.') {
            fracStart = ++m_p;
            while (m_p < m_end && Digit(U(*m_p)))
                m_p++;
            fracEnd = m_p;
        }
        int64_t exponent = 0;
        bool hasExponent = false;
        if (m_p < m_end && (U(*m_p) == 'e' || U(*m_p) == 'E')) {
            if (!ParseExponent(exponent))
                return nullptr;
            hasExponent = true;
        }
        // Trailing zeros of the fraction carry nothing.
        while (fracEnd > fracStart && U(fracEnd[-1]) == '0')
            fracEnd--;
        const size_t intDigits = static_cast<size_t>(intEnd - intStart);
        const size_t fracDigits = static_cast<size_t>(fracEnd - fracStart);

        Number* number = new Number;
        if (hasExponent) {
            number->Set(ScaledValue(intStart, intEnd, fracStart, fracEnd, exponent, negative));
            return number;
        }
        if (fracDigits == 0 && intDigits <= 19) {
            uint64_t m = 0;
            for (const C* q = intStart; q < intEnd; q++)
                m = m * 10 + (U(*q) - '0');
            if (!negative && m <= static_cast<uint64_t>(INT64_MAX)) {
                number->SetInt64(static_cast<int64_t>(m));
                return number;
            }
            if (negative && m <= static_cast<uint64_t>(INT64_MAX) + 1) {
                number->SetInt64(static_cast<int64_t>(0 - m));
                return number;
            }
        } else if (intDigits + fracDigits <= 15 && fracDigits <= 22) {
            // Both parts exact in a double: one division rounds correctly.
            uint64_t m = 0;
            for (const C* q = intStart; q < intEnd; q++)
                m = m * 10 + (U(*q) - '0');
            for (const C* q = fracStart; q < fracEnd; q++)
                m = m * 10 + (U(*q) - '0');
            const double v = static_cast<double>(m) / kPow10[fracDigits];
            number->Set(negative ? -v : v);
            return number;
        }
        // Long digit runs: the correctly rounded value.
        m_digits.clear();
        for (const C* q = intStart; q < intEnd; q++)
            m_digits.push_back(static_cast<char>(U(*q)));
        if (fracDigits) {
            m_digits.push_back('.');
            for (const C* q = fracStart; q < fracEnd; q++)
                m_digits.push_back(static_cast<char>(U(*q)));
        }
        double v = 0;
        const auto r = std::from_chars(m_digits.data(), m_digits.data() + m_digits.size(), v, std::chars_format::fixed);
        if (r.ec == std::errc::result_out_of_range)
            v = HUGE_VAL;
        number->Set(negative ? -v : v);
        return number;
    }

    // At the "e" or "E": an optional sign and at least one digit. The exponent saturates far
    // beyond the range of a double, so no run of digits overflows it.
    bool ParseExponent(int64_t& exponent)
    {
        m_p++;
        bool negative = false;
        if (m_p < m_end && (U(*m_p) == '+' || U(*m_p) == '-')) {
            negative = U(*m_p) == '-';
            m_p++;
        }
        if (m_p >= m_end || !Digit(U(*m_p)))
            return false;
        constexpr int64_t kLimit = 100000000;
        int64_t value = 0;
        while (m_p < m_end && Digit(U(*m_p))) {
            if (value < kLimit)
                value = value * 10 + (U(*m_p) - '0');
            m_p++;
        }
        exponent = negative ? -value : value;
        return true;
    }

    // The correctly rounded value of the digits times 10^exponent; beyond the range of a
    // double infinity, below it zero (with the sign).
    double ScaledValue(const C* intStart, const C* intEnd, const C* fracStart, const C* fracEnd, int64_t exponent,
                       bool negative)
    {
        // Leading zeros carry nothing and would only lengthen the text handed on.
        while (intStart < intEnd && U(*intStart) == '0')
            intStart++;
        bool zero = intStart == intEnd;
        for (const C* q = fracStart; zero && q < fracEnd; q++)
            zero = U(*q) == '0';
        double v = 0;
        if (!zero) {
            m_digits.clear();
            m_digits.push_back('0');
            for (const C* q = intStart; q < intEnd; q++)
                m_digits.push_back(static_cast<char>(U(*q)));
            if (fracStart < fracEnd) {
                m_digits.push_back('.');
                for (const C* q = fracStart; q < fracEnd; q++)
                    m_digits.push_back(static_cast<char>(U(*q)));
            }
            char tail[24];
            tail[0] = 'e';
            const char* tailEnd = std::to_chars(tail + 1, tail + sizeof tail, exponent).ptr;
            m_digits.append(tail, static_cast<size_t>(tailEnd - tail));
            const auto r =
                std::from_chars(m_digits.data(), m_digits.data() + m_digits.size(), v, std::chars_format::scientific);
            if (r.ec == std::errc::result_out_of_range) {
                // Only the digits and the exponent together tell which way it went out of range.
                int64_t magnitude = exponent + static_cast<int64_t>(intEnd - intStart);
                for (const C* q = fracStart; intStart == intEnd && q < fracEnd && U(*q) == '0'; q++)
                    magnitude--;
                v = magnitude > 0 ? HUGE_VAL : 0.0;
            } else if (r.ec != std::errc()) {
                v = 0;
            }
        }
        return negative ? -v : v;
    }

    bool Enter()
    {
        if (m_depth >= MaxDepth)
            return false;
        m_depth++;
        return true;
    }

    // An array or an object from its opening bracket at m_p: items read by parseItem, which
    // adds each to the container, separated by "," up to close. Null on any error.
    template <typename Container, typename ItemParser>
    AnyType* ParseContainer(uint32_t close, ItemParser parseItem)
    {
        if (!Enter())
            return nullptr;
        m_p++;
        auto* container = new Container;
        SkipBlanks();
        if (m_p < m_end && U(*m_p) == close) {
            m_p++;
            m_depth--;
            return container;
        }
        for (;;) {
            if (!parseItem(*container))
                break;
            SkipBlanks();
            if (m_p >= m_end)
                break;
            const uint32_t c = U(*m_p++);
            if (c == ',')
                continue;
            if (c == close) {
                m_depth--;
                return container;
            }
            break;
        }
        delete container;
        return nullptr;
    }

    AnyType* ParseArray()
    {
        return ParseContainer<Array>(']', [this](Array& a) {
            AnyType* v = ParseValue();
            if (!v)
                return false;
            a.Add(v);
            return true;
        });
    }

    AnyType* ParseObject()
    {
        return ParseContainer<Object>('}', [this](Object& o) {
            SkipBlanks();
            // The name must be a string; anything else here fails the parse.
            if (m_p >= m_end || U(*m_p) != '"')
                return false;
            Text name;
            if (!ParseString(name, true))
                return false;
            SkipBlanks();
            if (m_p >= m_end || U(*m_p) != ':')
                return false;
            m_p++;
            AnyType* v = ParseValue();
            if (!v)
                return false;
            o.Add(std::move(name), v);
            return true;
        });
    }

    const C* m_p;
    const C* m_end;
    int m_depth = 0;
    NameTable m_names;
    std::wstring m_decoded;
    std::wstring m_unescaped;
    std::string m_digits;
};

} // namespace

AnyType* Parse(const XStr& text)
{
    int pos = 1;
    return Parse(text, pos);
}

AnyType* Parse(const XStr& text, int& pos)
{
    const int n = text.Length();
    if (pos < 1 || pos > n)
        return nullptr;
    Parser<wchar_t> parser(text.p + pos - 1, text.p + n);
    AnyType* v = parser.ParseValue();
    if (v)
        pos = static_cast<int>(parser.Position() - text.p) + 1;
    return v;
}

AnyType* ParseUTF8(const void* data, size_t length, size_t* used)
{
    if (!data)
        return nullptr;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    Parser<uint8_t> parser(p, p + length);
    AnyType* v = parser.ParseValue();
    if (v && used)
        *used = static_cast<size_t>(parser.Position() - p);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Files

AnyType* ReadFile(XFile& file, unsigned maxSize)
{
    bool failed = false;
    const int64_t size = file.GetSize(&failed);
    if (failed || size < 0 || static_cast<uint64_t>(size) > maxSize || !file.IsRegularFile())
        return nullptr;
    std::string data(static_cast<size_t>(size), '\0');
    uint64_t done = 0;
    while (done < static_cast<uint64_t>(size)) {
        bool readFailed = false;
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(size) - done, 1u << 30));
        const uint32_t got = file.Read(&data[done], chunk, done == 0 ? 0 : 2, &readFailed);
        if (readFailed || got == 0)
            return nullptr; // short read
        done += got;
    }
    return ParseUTF8(data.data(), data.size());
}

AnyType* ReadFile(const wchar_t* path, unsigned maxSize)
{
    XFile file;
    if (!path || !file.OpenRead(path))
        return nullptr;
    return ReadFile(file, maxSize);
}

} // namespace XJSON
