#include "xclass/XStr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

int32_t WideLength(const wchar_t* text)
{
    return text ? static_cast<int32_t>(wcslen(text)) : 0;
}

inline wchar_t FoldLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

inline wchar_t FoldUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
}

wchar_t* AllocChars(int32_t n)
{
    return static_cast<wchar_t*>(malloc(sizeof(wchar_t) * static_cast<size_t>(std::max(n, 1))));
}

} // namespace

void XSimpleCStrBuffer::Allocate(uint64_t size)
{
    free(m_ptr);
    m_ptr = static_cast<char*>(malloc(size ? size : 1));
    m_size = m_ptr ? size : 0;
}

void XSimpleCStrBuffer::Free()
{
    free(m_ptr);
    m_ptr = nullptr;
    m_size = 0;
}

// ---------------------------------------------------------------------------------------------
// Construction and storage

void XStr::InitEmpty()
{
    p = Buffer;
    NumChars = 1;
    UserData = 0;
    Buffer[0] = 0;
    BufferSize = 128;
}

XStr::XStr()
{
    InitEmpty();
}

XStr::XStr(const wchar_t* text)
{
    InitEmpty();
    AssignChars(text, 0);
}

XStr::XStr(const XStr& other)
{
    InitEmpty();
    AssignChars(other.p, other.NumChars);
    UserData = other.UserData;
}

XStr::XStr(XStr&& other) noexcept
{
    InitEmpty();
    *this = std::move(other);
    UserData = other.UserData;
}

XStr::XStr(int value)
{
    InitEmpty();
    *this = FromLong(value);
}

XStr::XStr(long long value)
{
    InitEmpty();
    *this = FromLong(value);
}

XStr::XStr(std::wstring_view text)
{
    InitEmpty();
    Reserve(static_cast<int32_t>(text.size()) + 1);
    std::copy(text.begin(), text.end(), p);
    NumChars = static_cast<int32_t>(text.size()) + 1;
    p[NumChars - 1] = 0;
}

XStr::~XStr()
{
    if (p != Buffer)
        free(p);
    AnsiC.Free();
}

void XStr::FreeMemory()
{
    if (p != Buffer)
        free(p);
    AnsiC.Free();
    p = Buffer;
    BufferSize = 128;
    NumChars = 1;
    Buffer[0] = 0;
}

void XStr::Reserve(int32_t n)
{
    if (BufferSize >= n)
        return;
    if (p != Buffer)
        free(p);
    BufferSize = n ? n : 1;
    p = AllocChars(BufferSize);
}

void XStr::Grow(int32_t numChars, int32_t slack)
{
    if (BufferSize >= numChars)
        return;
    const int32_t size = numChars + slack;
    wchar_t* fresh = AllocChars(size);
    memcpy(fresh, p, sizeof(wchar_t) * static_cast<size_t>(NumChars));
    if (p != Buffer)
        free(p);
    p = fresh;
    BufferSize = size;
}

void XStr::AssignChars(const wchar_t* text, int32_t count)
{
    if (!text) {
        NumChars = 1;
        p[0] = 0;
        return;
    }
    if (count <= 0)
        count = WideLength(text) + 1;
    if (text >= p && text < p + BufferSize) {
        // The source lies inside this string: move within the buffer, no reallocation needed
        // since the text already fits.
        memmove(p, text, sizeof(wchar_t) * static_cast<size_t>(count));
    } else {
        Reserve(count);
        memcpy(p, text, sizeof(wchar_t) * static_cast<size_t>(count));
    }
    NumChars = count;
    p[count - 1] = 0;
}

XStr& XStr::operator=(const wchar_t* text)
{
    AssignChars(text, 0);
    return *this;
}

XStr& XStr::operator=(const XStr& other)
{
    if (&other != this)
        AssignChars(other.p, other.NumChars);
    return *this;
}

XStr& XStr::operator=(XStr&& other) noexcept
{
    if (&other == this)
        return *this;
    if (other.p != other.Buffer) {
        if (p != Buffer)
            free(p);
        p = other.p;
        BufferSize = other.BufferSize;
        NumChars = other.NumChars;
        other.p = other.Buffer;
        other.BufferSize = 128;
        other.NumChars = 1;
        other.Buffer[0] = 0;
    } else {
        AssignChars(other.p, other.NumChars);
    }
    return *this;
}

XStr& XStr::operator=(const char* ansiText)
{
    *this = FromAnsi(ansiText);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Appending

namespace {
// Appends count characters of text to s, growing with the given slack. The text may lie
// inside s itself (s += s): it is copied aside before the buffer can move.
void AppendWithSlack(XStr& s, const wchar_t* text, int32_t count, int32_t slack, bool thirdSlack)
{
    if (!text || count <= 0)
        return;
    const bool inside = text >= s.p && text < s.p + s.BufferSize;
    wchar_t* aside = nullptr;
    if (inside) {
        aside = AllocChars(count);
        memcpy(aside, text, sizeof(wchar_t) * static_cast<size_t>(count));
        text = aside;
    }
    const int32_t needed = s.NumChars + count;
    s.Grow(needed, thirdSlack ? needed / 3 : slack);
    memcpy(s.p + s.NumChars - 1, text, sizeof(wchar_t) * static_cast<size_t>(count));
    s.NumChars = needed;
    s.p[needed - 1] = 0;
    free(aside);
}
} // namespace

void XStr::Append(const wchar_t* text)
{
    AppendWithSlack(*this, text, WideLength(text), 25, false);
}

XStr& XStr::operator+=(const wchar_t* text)
{
    Append(text);
    return *this;
}

XStr& XStr::operator+=(const XStr& other)
{
    AppendWithSlack(*this, other.p, other.NumChars - 1, 25, false);
    return *this;
}

void XStr::Cat(const wchar_t* text)
{
    AppendWithSlack(*this, text, WideLength(text), 0, true);
}

void XStr::Cat(const wchar_t* text, int32_t length)
{
    AppendWithSlack(*this, text, length, 0, true);
}

void XStr::CatChar(wchar_t ch)
{
    const int32_t needed = NumChars + 1;
    Grow(needed, needed / 3);
    p[NumChars - 1] = ch;
    p[NumChars] = 0;
    NumChars = needed;
}

XStr operator+(const XStr& a, const XStr& b)
{
    XStr r;
    r.Grow(a.NumChars + b.NumChars - 1, 0);
    r.Cat(a.p, a.Length());
    r.Cat(b.p, b.Length());
    return r;
}

XStr operator+(const XStr& a, const wchar_t* b)
{
    XStr r;
    const int32_t lb = WideLength(b);
    r.Grow(a.NumChars + lb, 0);
    r.Cat(a.p, a.Length());
    r.Cat(b, lb);
    return r;
}

XStr operator+(const wchar_t* a, const XStr& b)
{
    XStr r;
    const int32_t la = WideLength(a);
    r.Grow(la + b.NumChars, 0);
    r.Cat(a, la);
    r.Cat(b.p, b.Length());
    return r;
}

bool operator==(const XStr& a, const XStr& b)
{
    return a.NumChars == b.NumChars && memcmp(a.p, b.p, sizeof(wchar_t) * static_cast<size_t>(a.NumChars)) == 0;
}

bool operator==(const XStr& a, const wchar_t* b)
{
    return XStrCompare(a.p, b ? b : L"", 0, false) == 0;
}

// ---------------------------------------------------------------------------------------------
// Editing

void XStr::InsertChar(wchar_t ch, int pos)
{
    if (pos == XSTR_LAST)
        pos = NumChars;
    if (pos < 1 || pos > NumChars)
        return;
    Grow(NumChars + 1, 32);
    memmove(p + pos, p + pos - 1, sizeof(wchar_t) * static_cast<size_t>(NumChars - pos + 1));
    p[pos - 1] = ch;
    NumChars++;
}

void XStr::Insert(const wchar_t* text, int pos)
{
    const int32_t k = WideLength(text);
    if (k == 0 || pos < 1 || pos > NumChars)
        return;
    wchar_t* aside = nullptr;
    if (text >= p && text < p + BufferSize) {
        aside = AllocChars(k);
        memcpy(aside, text, sizeof(wchar_t) * static_cast<size_t>(k));
        text = aside;
    }
    Grow(NumChars + k, 32);
    memmove(p + pos - 1 + k, p + pos - 1, sizeof(wchar_t) * static_cast<size_t>(NumChars - pos + 1));
    memcpy(p + pos - 1, text, sizeof(wchar_t) * static_cast<size_t>(k));
    NumChars += k;
    free(aside);
}

wchar_t XStr::RemoveAt(int pos)
{
    if (pos == XSTR_LAST)
        pos = Length();
    if (pos < 1 || pos > Length())
        return 0;
    const wchar_t ch = p[pos - 1];
    Delete(pos, pos);
    return ch;
}

void XStr::Delete(int first, int last)
{
    const int length = Length();
    if (first < 1 || last < first || first > length)
        return;
    if (last > length)
        last = length;
    const int count = last - first + 1;
    if (last < length)
        memmove(p + first - 1, p + last, sizeof(wchar_t) * static_cast<size_t>(length - last));
    NumChars = std::max(NumChars - count, 1);
    p[NumChars - 1] = 0;
}

void XStr::DeleteRight(int n)
{
    if (n <= 0)
        return;
    if (n >= Length())
        Delete(1, Length());
    else
        Delete(Length() - n + 1, Length());
}

void XStr::Remove(int pos, int count)
{
    if (pos < 1 || pos > Length() || count <= 0)
        return;
    Delete(pos, std::min(Length(), pos + count - 1));
}

void XStr::SetLength(int length, wchar_t pad, bool allowGrow)
{
    if (length < 0)
        return;
    if (length < Length()) {
        NumChars = length + 1;
        p[length] = 0;
        return;
    }
    if (!allowGrow || length == Length())
        return;
    Grow(length + 1, 0);
    for (int i = Length(); i < length; i++)
        p[i] = pad;
    NumChars = length + 1;
    p[length] = 0;
}

void XStr::TrimLeft()
{
    int n = 0;
    while (n < Length() && p[n] == L' ')
        n++;
    if (n)
        Delete(1, n);
}

void XStr::TrimRight()
{
    TrimRightChar(L' ');
}

void XStr::TrimRightChar(wchar_t ch)
{
    while (NumChars > 1 && p[NumChars - 2] == ch) {
        NumChars--;
        p[NumChars - 1] = 0;
    }
}

void XStr::EnsureTrailingChar(wchar_t ch)
{
    if (NumChars < 2 || p[NumChars - 2] != ch)
        CatChar(ch);
}

void XStr::Replace(const wchar_t* what, const wchar_t* with, bool noCase)
{
    const int lw = WideLength(what);
    if (lw == 0)
        return;
    const XStr withCopy(with ? with : L""); // what and with may point into this string
    const XStr whatCopy(what);
    const int lr = withCopy.Length();
    if (!noCase) {
        int pos = Find(whatCopy.p, 1);
        while (pos != 0) {
            Delete(pos, pos + lw - 1);
            Insert(withCopy.p, pos);
            pos = Find(whatCopy.p, pos + lr);
        }
        return;
    }
    XStr upper = ToUpper();
    const XStr upperWhat = whatCopy.ToUpper();
    const XStr upperWith = withCopy.ToUpper();
    int pos = upper.Find(upperWhat.p, 1);
    while (pos != 0) {
        upper.Delete(pos, pos + lw - 1);
        upper.Insert(upperWith.p, pos);
        Delete(pos, pos + lw - 1);
        Insert(withCopy.p, pos);
        pos = upper.Find(upperWhat.p, pos + lr);
    }
}

bool XStr::ReplacePrefix(const wchar_t* prefix, const wchar_t* replacement)
{
    if (!prefix || XStrCompare(p, prefix, -1, false) != 0)
        return false;
    const XStr repl(replacement ? replacement : L"");
    Delete(1, WideLength(prefix));
    if (IsEmpty())
        *this = repl;
    else
        Insert(repl.p, 1);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Copies and parts

XStr XStr::Mid(int first, int last) const
{
    XStr r;
    const int length = Length();
    if (first < 1 || last < first || first > length)
        return r;
    if (last > length)
        last = length;
    r.AssignChars(p + first - 1, last - first + 2);
    return r;
}

XStr XStr::Right(int n) const
{
    if (n <= 0)
        return XStr();
    if (n >= Length())
        return *this;
    return Mid(Length() - n + 1, Length());
}

XStr XStr::ToUpper() const
{
    XStr r(*this);
    r.UserData = 0;
    for (int i = 0; i < r.Length(); i++)
        r.p[i] = FoldUpper(r.p[i]);
    return r;
}

XStr XStr::ToLower() const
{
    XStr r(*this);
    r.UserData = 0;
    for (int i = 0; i < r.Length(); i++)
        r.p[i] = FoldLower(r.p[i]);
    return r;
}

void XStr::CopyTo(wchar_t* dst) const
{
    memcpy(dst, p, sizeof(wchar_t) * static_cast<size_t>(NumChars));
}

// ---------------------------------------------------------------------------------------------
// Searching and comparing

int XStr::Find(const wchar_t* what, int start, bool noCase) const
{
    if (start < 1 || start >= NumChars)
        return 0;
    if (!what || !*what)
        return start;
    const int lw = WideLength(what);
    for (int i = start; i + lw - 1 <= Length(); i++) {
        const wchar_t* s = p + i - 1;
        int k = 0;
        if (noCase) {
            while (k < lw && FoldLower(s[k]) == FoldLower(what[k]))
                k++;
        } else {
            while (k < lw && s[k] == what[k])
                k++;
        }
        if (k == lw)
            return i;
    }
    return 0;
}

int XStr::FindLast(const wchar_t* what, bool noCase) const
{
    int last = 0;
    int pos = Find(what, 1, noCase);
    while (pos != 0) {
        last = pos;
        pos = Find(what, pos + 1, noCase);
    }
    return last;
}

int XStr::FindChar(wchar_t ch, int start) const
{
    if (start < 1 || start >= NumChars)
        return 0;
    for (int i = start; i <= Length(); i++)
        if (p[i - 1] == ch)
            return i;
    return 0;
}

int XStr::ReverseFindChar(wchar_t ch, int start) const
{
    if (start == XSTR_LAST)
        start = Length();
    if (start >= NumChars)
        return 0;
    for (int i = start; i >= 1; i--)
        if (p[i - 1] == ch)
            return i;
    return 0;
}

bool XStr::Split(const wchar_t* separator, XStr& before, XStr& after, int start, bool noCase) const
{
    const int pos = Find(separator, start, noCase);
    if (pos == 0 || !separator) {
        XStr whole(*this);
        before = whole;
        after = L"";
        return false;
    }
    const XStr b = Mid(1, pos - 1);
    const XStr a = MidToEnd(pos + WideLength(separator));
    before = b;
    after = a;
    return true;
}

bool XStr::EndsWith(const wchar_t* suffix, bool noCase) const
{
    const int ls = WideLength(suffix);
    if (ls > Length())
        return false;
    if (ls == 0)
        return true;
    return XStrCompare(p + Length() - ls, suffix, 0, noCase) == 0;
}

bool XStr::BeginsWith(const wchar_t* prefix, bool noCase) const
{
    return XStrCompare(p, prefix ? prefix : L"", -1, noCase) == 0;
}

int XStrCompare(const wchar_t* a, const wchar_t* b, int count, bool noCase)
{
    if (!b)
        return 1;
    if (!a)
        a = L"";
    if (count == -1) {
        count = WideLength(b);
        if (count == 0)
            return 0; // every text begins with the empty text
    }
    for (int i = 0; count == 0 || i < count; i++) {
        wchar_t ca = a[i], cb = b[i];
        if (noCase) {
            ca = FoldLower(ca);
            cb = FoldLower(cb);
        }
        if (ca == 0)
            return cb == 0 ? 0 : -1;
        if (ca != cb)
            return static_cast<uint32_t>(ca) > static_cast<uint32_t>(cb) ? 1 : -1;
    }
    return 0;
}
