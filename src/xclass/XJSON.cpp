#include "xclass/XJSON.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFileRewrite.h"

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Text

Text::Text(const wchar_t* text) : Text(text, text ? wcslen(text) : 0) {}

Text::Text(const XStr& text) : Text(text.p, static_cast<size_t>(text.Length())) {}

Text::Text(const wchar_t* text, size_t length)
{
    if (!text || length == 0)
        return;
    *this = Allocate(length);
    if (m_block)
        wmemcpy(m_block->Chars, text, length);
}

Text Text::Allocate(size_t length)
{
    Text t;
    if (length == 0 || length > 0x3FFFFFF0)
        return t;
    void* memory = malloc(offsetof(Block, Chars) + sizeof(wchar_t) * (length + 1));
    if (!memory)
        return t;
    Block* block = new (memory) Block;
    block->Refs.store(1, std::memory_order_relaxed);
    block->Length = static_cast<int32_t>(length);
    block->Chars[length] = 0;
    t.m_block = block;
    return t;
}

Text::Text(const Text& other) noexcept : m_block(other.m_block)
{
    if (m_block)
        m_block->Refs.fetch_add(1, std::memory_order_relaxed);
}

Text& Text::operator=(const Text& other) noexcept
{
    if (other.m_block)
        other.m_block->Refs.fetch_add(1, std::memory_order_relaxed);
    Release();
    m_block = other.m_block;
    return *this;
}

Text& Text::operator=(Text&& other) noexcept
{
    if (this != &other) {
        Release();
        m_block = other.m_block;
        other.m_block = nullptr;
    }
    return *this;
}

void Text::Release() noexcept
{
    if (m_block && m_block->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_block->~Block();
        free(m_block);
    }
    m_block = nullptr;
}

std::string Text::ToUTF8String() const
{
    std::string out;
    out.reserve(static_cast<size_t>(Length()));
    for (wchar_t c : View())
        XAppendUTF8(out, c);
    return out;
}

bool operator==(const Text& a, const Text& b)
{
    return a.View() == b.View();
}

bool operator==(const Text& a, const wchar_t* b)
{
    return a.View() == std::wstring_view(b ? b : L"");
}

bool operator==(const Text& a, const XStr& b)
{
    return a.View() == b.View();
}

} // namespace XJSON

bool XJSONNameEquals(const XJSON::Text& a, const wchar_t* b, bool noCase)
{
    const wchar_t* x = a.c_str();
    const int n = a.Length();
    for (int i = 0; i < n; i++) {
        wchar_t c = x[i];
        wchar_t d = b[i];
        if (d == 0)
            return false;
        if (c != d) {
            if (!noCase)
                return false;
            if (c >= L'A' && c <= L'Z')
                c += 32;
            if (d >= L'A' && d <= L'Z')
                d += 32;
            if (c != d)
                return false;
        }
    }
    return b[n] == 0;
}

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Shared values

Object EmptyObject;
Array EmptyArray;
String EmptyString;
Number EmptyNumber;
Boolean EmptyBoolean;
Null NullValue;

Object* GetEmptyObject() { return &EmptyObject; }
Array* GetEmptyArray() { return &EmptyArray; }
AnyType* GetNullValue() { return &NullValue; }

Object* AnyType::AsObject()
{
    if (TypeOf() == typeObject)
        return static_cast<Object*>(this);
    assert(EmptyObject.Count() == 0 && "the shared empty object was changed");
    return &EmptyObject;
}

Array* AnyType::AsArray()
{
    if (TypeOf() == typeArray)
        return static_cast<Array*>(this);
    assert(EmptyArray.Count() == 0 && "the shared empty array was changed");
    return &EmptyArray;
}

String* AnyType::AsString()
{
    if (TypeOf() == typeString)
        return static_cast<String*>(this);
    assert(EmptyString.Value.Length() == 0 && "the shared empty string was changed");
    return &EmptyString;
}

Number* AnyType::AsNumber()
{
    if (TypeOf() == typeNumber)
        return static_cast<Number*>(this);
    assert(EmptyNumber.Value == 0 && "the shared empty number was changed");
    return &EmptyNumber;
}

Boolean* AnyType::AsBoolean()
{
    if (TypeOf() == typeBoolean)
        return static_cast<Boolean*>(this);
    assert(!EmptyBoolean.Value && "the shared empty boolean was changed");
    return &EmptyBoolean;
}

// ---------------------------------------------------------------------------------------------
// Numbers

int64_t SaturateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775808.0)
        return INT64_MAX;
    if (value < -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<int64_t>(value);
}

void Number::Set(double value)
{
    Value = value;
    // Only an integral value in range gets an exact integer; anything else leaves Int
    // inconsistent with Value on purpose, so the double is what counts.
    if (value >= -9223372036854775808.0 && value < 9223372036854775808.0 && value == std::trunc(value))
        Int = static_cast<int64_t>(value);
    else
        Int = 0;
}

AnyType* Number::Clone() const
{
    Number* n = new Number;
    n->Value = Value;
    n->Int = Int;
    return n;
}

int64_t Number::ToInt64() const
{
    return HasExactInt() ? Int : SaturateToInt64(Value);
}

int32_t Number::ToInt32() const
{
    const int64_t v = ToInt64();
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t Number::Round() const
{
    return HasExactInt() ? Int : SaturateToInt64(std::floor(Value + 0.5));
}

// ---------------------------------------------------------------------------------------------
// Arrays

Array::~Array()
{
    Clear();
}

AnyType* Array::Clone() const
{
    Array* a = new Array;
    a->Items.Reserve(Items.Count());
    for (int64_t i = 0; i < Items.Count(); i++)
        a->Items.Add(Items.GetPtr<AnyType>(i)->Clone());
    return a;
}

AnyType* Array::Get(int64_t index) const
{
    if (index < 0 || index >= Items.Count())
        return &NullValue;
    return Items.GetPtr<AnyType>(index);
}

void Array::Add(AnyType* value)
{
    if (!value)
        value = new Null;
    if (Items.Add(value) < 0)
        delete value;
}

Object* Array::AddObject()
{
    Object* o = new Object;
    Add(o);
    return o;
}

Array* Array::AddArray()
{
    Array* a = new Array;
    Add(a);
    return a;
}

void Array::RemoveAt(int64_t index)
{
    if (index < 0 || index >= Items.Count())
        return;
    delete Items.GetPtr<AnyType>(index);
    Items.RemoveAt(index);
}

void Array::Clear()
{
    for (int64_t i = 0; i < Items.Count(); i++)
        delete Items.GetPtr<AnyType>(i);
    Items.Clear();
}

// ---------------------------------------------------------------------------------------------
// Objects

Object::~Object()
{
    Clear();
}

void Object::Clear()
{
    for (Cell& c : m_cells)
        delete c.Value;
    XObj<AnyType*>::Clear();
}

AnyType* Object::Clone() const
{
    Object* o = new Object;
    o->m_cells.reserve(m_cells.size());
    for (const Cell& c : m_cells)
        o->m_cells.push_back(Cell{c.Name, c.Value ? c.Value->Clone() : new Null});
    return o;
}

AnyType* Object::Get(const wchar_t* name)
{
    const int64_t i = IndexOf(name, false);
    m_active = i;
    return i < 0 ? static_cast<AnyType*>(&NullValue) : m_cells[static_cast<size_t>(i)].Value;
}

AnyType* Object::GetNoCase(const wchar_t* name)
{
    const int64_t i = IndexOf(name, true);
    m_active = i;
    return i < 0 ? static_cast<AnyType*>(&NullValue) : m_cells[static_cast<size_t>(i)].Value;
}

const wchar_t* Object::NameAt(int64_t index) const
{
    if (index < 0 || index >= Count())
        return L"";
    return m_cells[static_cast<size_t>(index)].Name.c_str();
}

AnyType* Object::ValueAt(int64_t index)
{
    if (index < 0 || index >= Count())
        return &NullValue;
    m_active = index;
    return m_cells[static_cast<size_t>(index)].Value;
}

void Object::SetMatching(const wchar_t* name, AnyType* value, bool noCase)
{
    if (!value)
        value = new Null;
    const int64_t i = IndexOf(name, noCase);
    if (i < 0) {
        Add(name, value);
        return;
    }
    AnyType*& slot = m_cells[static_cast<size_t>(i)].Value;
    if (slot != value)
        delete slot;
    slot = value;
    m_active = i;
}

void Object::Set(const wchar_t* name, AnyType* value)
{
    SetMatching(name, value, false);
}

void Object::SetNoCase(const wchar_t* name, AnyType* value)
{
    SetMatching(name, value, true);
}

void Object::SetAt(int64_t index, AnyType* value)
{
    if (index < 0 || index >= Count()) {
        delete value;
        return;
    }
    if (!value)
        value = new Null;
    AnyType*& slot = m_cells[static_cast<size_t>(index)].Value;
    if (slot != value)
        delete slot;
    slot = value;
}

void Object::Add(const wchar_t* name, AnyType* value)
{
    Add(Text(name), value);
}

void Object::Add(Text name, AnyType* value)
{
    if (!value)
        value = new Null;
    *XObj<AnyType*>::Add(std::move(name), true, -1) = value;
}

void Object::RemoveMatching(const wchar_t* name, bool noCase)
{
    if (!name)
        name = L"";
    for (int64_t i = Count() - 1; i >= 0; i--)
        if (XJSONNameEquals(m_cells[static_cast<size_t>(i)].Name, name, noCase))
            RemoveAt(i);
}

void Object::Remove(const wchar_t* name)
{
    RemoveMatching(name, false);
}

void Object::RemoveNoCase(const wchar_t* name)
{
    RemoveMatching(name, true);
}

void Object::RemoveAt(int64_t index)
{
    if (index < 0 || index >= Count())
        return;
    delete m_cells[static_cast<size_t>(index)].Value;
    XObj<AnyType*>::RemoveAt(index);
}

Object* Object::AddObject(const wchar_t* name)
{
    Object* o = new Object;
    Add(name, o);
    return o;
}

Array* Object::AddArray(const wchar_t* name)
{
    Array* a = new Array;
    Add(name, a);
    return a;
}

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
    case '"': buf[1] = '"'; break;
    case '\\': buf[1] = '\\'; break;
    case 8: buf[1] = 'b'; break;
    case 12: buf[1] = 'f'; break;
    case 10: buf[1] = 'n'; break;
    case 13: buf[1] = 'r'; break;
    case 9: buf[1] = 't'; break;
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
    size_t len = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(scaled)).ptr - digits);
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
        case L'b': out.push_back(8); break;
        case L'f': out.push_back(12); break;
        case L'n': out.push_back(10); break;
        case L'r': out.push_back(13); break;
        case L't': out.push_back(9); break;
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

constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
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
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
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
            const auto r = std::from_chars(m_digits.data(), m_digits.data() + m_digits.size(), v,
                                           std::chars_format::scientific);
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
