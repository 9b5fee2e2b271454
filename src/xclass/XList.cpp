#include "xclass/XList.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "xclass/XBuffer.h"
#include "xclass/XCRC32.h"

namespace {
constexpr int64_t kInlineSlots = 16;
constexpr int64_t kFirstStep = 32;

uint64_t* AllocSlots(int64_t count)
{
    if (count <= 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(uint64_t))
        return nullptr;
    return static_cast<uint64_t*>(malloc(static_cast<size_t>(count) * sizeof(uint64_t)));
}

inline XStr* StrAt(const uint64_t* items, int64_t index)
{
    return reinterpret_cast<XStr*>(static_cast<uintptr_t>(items[index]));
}

inline uint64_t SlotOf(XStr* s)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(s));
}

inline const wchar_t* TextOf(const XStr* s)
{
    return s ? s->p : L"";
}

std::wstring_view ViewOf(const wchar_t* text)
{
    return text ? std::wstring_view(text) : std::wstring_view();
}

XStr* NewStr(std::wstring_view text, uint64_t userData)
{
    XStr* s = new XStr(text);
    s->UserData = userData;
    return s;
}
} // namespace

// ---------------------------------------------------------------------------------------
// XList

XList::XList() : Items(FirstArray), _Count(0), NumAlloced(kInlineSlots), XListAllocAmount(kFirstStep), FirstArray{} {}

XList::XList(const XList& other) : XList()
{
    CopySlots(other, true);
}

XList::XList(XList&& other) noexcept : XList()
{
    TakeFrom(other);
}

XList& XList::operator=(XList&& other) noexcept
{
    if (this != &other) {
        FreeArray();
        Items = FirstArray;
        NumAlloced = kInlineSlots;
        _Count = 0;
        TakeFrom(other);
    }
    return *this;
}

XList::~XList()
{
    FreeArray();
    Items = nullptr;
    _Count = 0;
    NumAlloced = 0;
    XListAllocAmount = kFirstStep;
}

void XList::FreeArray()
{
    if (Items && Items != FirstArray)
        free(Items);
}

// Copies other's slots into this list, which must be in its initial inline state or have no
// storage. Up to 16 slots stay inline when inlineWhenSmall.
void XList::CopySlots(const XList& other, bool inlineWhenSmall)
{
    const int64_t n = other._Count;
    if (inlineWhenSmall && n <= kInlineSlots) {
        Items = FirstArray;
        NumAlloced = kInlineSlots;
    } else if (n == 0) {
        Items = nullptr;
        NumAlloced = 0;
        _Count = 0;
        return;
    } else {
        uint64_t* block = AllocSlots(n + kFirstStep);
        if (!block) {
            Items = nullptr;
            NumAlloced = 0;
            _Count = 0;
            return;
        }
        Items = block;
        NumAlloced = n + kFirstStep;
    }
    if (n > 0)
        memcpy(Items, other.Items, static_cast<size_t>(n) * sizeof(uint64_t));
    _Count = n;
}

// Moves other's storage into this list (which holds no heap array); other is left empty inline.
void XList::TakeFrom(XList& other)
{
    XListAllocAmount = other.XListAllocAmount;
    if (other.Items == other.FirstArray || !other.Items) {
        Items = other.Items ? FirstArray : nullptr;
        NumAlloced = other.Items ? kInlineSlots : 0;
        if (other._Count > 0)
            memcpy(FirstArray, other.FirstArray, static_cast<size_t>(other._Count) * sizeof(uint64_t));
    } else {
        Items = other.Items;
        NumAlloced = other.NumAlloced;
    }
    _Count = other._Count;
    other.Items = other.FirstArray;
    other.NumAlloced = kInlineSlots;
    other._Count = 0;
    other.XListAllocAmount = kFirstStep;
}

void XList::Assign(const XList& other)
{
    if (this == &other)
        return;
    FreeArray();
    Items = nullptr;
    NumAlloced = 0;
    _Count = 0;
    CopySlots(other, false);
}

bool XList::Grow()
{
    // A step of 0 (left by Reserve) would never make room; fall back to a small one.
    const int64_t step = XListAllocAmount > 0 ? XListAllocAmount : kInlineSlots;
    uint64_t* block = AllocSlots(NumAlloced + step);
    if (!block)
        return false;
    if (_Count > 0)
        memcpy(block, Items, static_cast<size_t>(_Count) * sizeof(uint64_t));
    FreeArray();
    Items = block;
    NumAlloced += step;
    XListAllocAmount = step < 250001 ? step * 2 : 500000;
    return true;
}

bool XList::EnsureRoom()
{
    return _Count < NumAlloced || Grow();
}

void XList::Reserve(int64_t n)
{
    const int64_t amount = n - NumAlloced;
    if (amount > 0) {
        XListAllocAmount = amount;
        Grow();
    } else {
        // Already large enough; a zero step would stall later growth.
        XListAllocAmount = kInlineSlots;
    }
}

int64_t XList::Add(uint64_t item)
{
    if (!EnsureRoom())
        return -1;
    Items[_Count] = item;
    return _Count++;
}

int64_t XList::InsertAt(int64_t index, uint64_t item)
{
    if (index < 0 || index >= _Count)
        return Add(item);
    if (!EnsureRoom())
        return -1;
    memmove(Items + index + 1, Items + index, static_cast<size_t>(_Count - index) * sizeof(uint64_t));
    Items[index] = item;
    ++_Count;
    return index;
}

void XList::RemoveAt(int64_t index)
{
    if (index < 0 || index >= _Count)
        return;
    memmove(Items + index, Items + index + 1, static_cast<size_t>(_Count - index - 1) * sizeof(uint64_t));
    --_Count;
}

int64_t XList::RemoveAll(uint64_t value)
{
    int64_t kept = 0;
    for (int64_t i = 0; i < _Count; ++i) {
        if (Items[i] != value)
            Items[kept++] = Items[i];
    }
    const int64_t removed = _Count - kept;
    _Count = kept;
    return removed;
}

void XList::Clear()
{
    FreeArray();
    Items = nullptr;
    _Count = 0;
    NumAlloced = 0;
    XListAllocAmount = kFirstStep;
}

bool XList::Find(uint64_t item, int64_t* index) const
{
    for (int64_t i = 0; i < _Count; ++i) {
        if (Items[i] == item) {
            if (index)
                *index = i;
            return true;
        }
    }
    return false;
}

void XList::Sort(LessFunction less, void* arg, int64_t first, int64_t last)
{
    if (_Count == 0 || !less)
        return;
    if (last == -1)
        last = _Count - 1;
    if (first == -1)
        first = 0;
    if (first < 0 || last >= _Count || first >= _Count || first >= last)
        return;

    uint64_t* s = Items;
    for (;;) {
        const uint64_t pivot = s[first + (last - first) / 2];
        int64_t i = first;
        int64_t j = last;
        do {
            while (i < last && less(s[i], pivot, arg))
                ++i;
            while (j > first && less(pivot, s[j], arg))
                --j;
            if (j >= i) {
                const uint64_t t = s[i];
                s[i] = s[j];
                s[j] = t;
                ++i;
                --j;
            }
        } while (j >= i);
        // Recurse into the smaller side and loop on the larger one, so that the stack stays
        // shallow whatever the input; the two sides are disjoint, so the result is the same.
        const bool leftPart = first < j;
        const bool rightPart = i < last;
        if (leftPart && rightPart) {
            if (j - first < last - i) {
                Sort(less, arg, first, j);
                first = i;
            } else {
                Sort(less, arg, i, last);
                last = j;
            }
        } else if (leftPart) {
            last = j;
        } else if (rightPart) {
            first = i;
        } else {
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------
// XStrList

XStrList::XStrList(const XStrList& other) : XList()
{
    Append(other, true, false);
}

XStrList::XStrList(XStrList&& other) noexcept : XList(static_cast<XList&&>(other)) {}

XStrList::XStrList(const wchar_t* text, const wchar_t* separator) : XList()
{
    Split(text, separator);
}

XStrList& XStrList::operator=(XStrList&& other) noexcept
{
    if (this != &other) {
        DeleteStrings();
        XList::operator=(static_cast<XList&&>(other));
    }
    return *this;
}

XStrList::~XStrList()
{
    DeleteStrings();
}

void XStrList::DeleteStrings()
{
    for (int64_t i = 0; i < _Count; ++i) {
        delete StrAt(Items, i);
        Items[i] = 0;
    }
    _Count = 0;
}

int64_t XStrList::Add(const wchar_t* text, uint64_t userData)
{
    XStr* s = NewStr(ViewOf(text), userData);
    const int64_t index = XList::Add(SlotOf(s));
    if (index < 0)
        delete s;
    return index;
}

int64_t XStrList::Add(const XStr& text, uint64_t userData)
{
    XStr* s = new XStr(text);
    s->UserData = userData;
    const int64_t index = XList::Add(SlotOf(s));
    if (index < 0)
        delete s;
    return index;
}

int64_t XStrList::InsertAt(int64_t index, const wchar_t* text)
{
    XStr* s = NewStr(ViewOf(text), 0);
    const int64_t at = XList::InsertAt(index, SlotOf(s));
    if (at < 0)
        delete s;
    return at;
}

int64_t XStrList::InsertAt(int64_t index, const XStr& text)
{
    XStr* s = new XStr(text);
    s->UserData = 0;
    const int64_t at = XList::InsertAt(index, SlotOf(s));
    if (at < 0)
        delete s;
    return at;
}

void XStrList::Append(const XStrList& other, bool allowDuplicates, bool ignoreCase)
{
    // Count taken first: appending a list to itself copies each string once.
    const int64_t n = other._Count;
    for (int64_t i = 0; i < n; ++i) {
        const XStr* src = StrAt(other.Items, i);
        if (!src)
            continue;
        if (!allowDuplicates && Find(src->p, ignoreCase))
            continue;
        Add(*src, src->UserData);
    }
}

void XStrList::Assign(const XStrList& other)
{
    if (this == &other)
        return;
    Clear();
    Append(other, true, false);
}

bool XStrList::Find(const wchar_t* text, bool ignoreCase, int64_t* index) const
{
    const wchar_t* wanted = text ? text : L"";
    for (int64_t i = 0; i < _Count; ++i) {
        const XStr* s = StrAt(Items, i);
        if (s && XStrCompare(s->p, wanted, 0, ignoreCase) == 0) {
            if (index)
                *index = i;
            return true;
        }
    }
    return false;
}

void XStrList::RemoveAt(int64_t index)
{
    if (index < 0 || index >= _Count)
        return;
    delete StrAt(Items, index);
    XList::RemoveAt(index);
}

void XStrList::Free(int64_t index)
{
    if (index < 0 || index >= _Count)
        return;
    delete StrAt(Items, index);
    Items[index] = 0;
}

void XStrList::Compact()
{
    RemoveAll(0);
}

void XStrList::Remove(const wchar_t* text, bool ignoreCase)
{
    const wchar_t* wanted = text ? text : L"";
    for (int64_t i = 0; i < _Count; ++i) {
        const XStr* s = StrAt(Items, i);
        if (s && XStrCompare(s->p, wanted, 0, ignoreCase) == 0)
            Free(i);
    }
    Compact();
}

void XStrList::Clear()
{
    DeleteStrings();
    XList::Clear();
}

namespace {
bool LessExact(uint64_t a, uint64_t b, void*)
{
    return XStrCompare(TextOf(StrAt(&a, 0)), TextOf(StrAt(&b, 0)), 0, false) == -1;
}
bool LessNoCase(uint64_t a, uint64_t b, void*)
{
    return XStrCompare(TextOf(StrAt(&a, 0)), TextOf(StrAt(&b, 0)), 0, true) == -1;
}
bool LessNatural(uint64_t a, uint64_t b, void*)
{
    return XStrCompareNatural(TextOf(StrAt(&a, 0)), TextOf(StrAt(&b, 0))) == -1;
}
} // namespace

void XStrList::Sort(bool ignoreCase)
{
    XList::Sort(ignoreCase ? LessNoCase : LessExact, nullptr, -1, -1);
}

void XStrList::SortNatural()
{
    XList::Sort(LessNatural, nullptr, -1, -1);
}

XStr XStrList::Join(const wchar_t* separator) const
{
    if (!separator)
        return XStr();
    std::wstring out;
    for (int64_t i = 0; i < _Count; ++i) {
        if (i > 0)
            out += separator;
        const XStr* s = StrAt(Items, i);
        if (s)
            out += s->View();
    }
    return XStr(std::wstring_view(out));
}

void XStrList::SplitView(std::wstring_view text, std::wstring_view separator)
{
    if (text.empty() || separator.empty())
        return;
    size_t pos = 0;
    for (;;) {
        const size_t hit = text.find(separator, pos);
        if (hit == std::wstring_view::npos) {
            // The rest, or an empty field when the text ended with the separator.
            Add(XStr(text.substr(pos)));
            return;
        }
        Add(XStr(text.substr(pos, hit - pos)));
        pos = hit + separator.size();
    }
}

// The readers below take text that may be one of this list's own strings (l.Split(l[0], ...)):
// they read from a copy, made before Clear deletes the original.

void XStrList::Split(const wchar_t* text, const wchar_t* separator)
{
    const std::wstring source(ViewOf(text)), between(ViewOf(separator));
    Clear();
    if (!text || !separator)
        return;
    SplitView(source, between);
}

void XStrList::Split(const XStr& text, const wchar_t* separator)
{
    const std::wstring source(text.View()), between(ViewOf(separator));
    Clear();
    if (!separator)
        return;
    SplitView(source, between);
}

void XStrList::SplitLinesView(std::wstring_view text)
{
    size_t start = 0;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (text[i] == L'\r') {
            Add(XStr(text.substr(start, i - start)));
            ++i;
            while (i < n && text[i] == L'\n')
                ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n)
        Add(XStr(text.substr(start)));
}

void XStrList::SplitLines(const wchar_t* text)
{
    const std::wstring source(ViewOf(text));
    Clear();
    SplitLinesView(source);
}

void XStrList::SplitLines(const XStr& text)
{
    const std::wstring source(text.View());
    Clear();
    SplitLinesView(source);
}

void XStrList::AppendTokens(std::wstring_view text)
{
    std::wstring token;
    bool started = false;
    bool quoted = false;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            quoted = !quoted;
            started = true;
        } else if (c == L'\\') {
            if (i + 1 >= n)
                break;
            token += text[++i];
            started = true;
        } else if (c == L' ' && !quoted) {
            if (started)
                Add(XStr(std::wstring_view(token)));
            token.clear();
            started = false;
        } else {
            token += c;
            started = true;
        }
    }
    if (started)
        Add(XStr(std::wstring_view(token)));
}

void XStrList::ParseArgs(const wchar_t* text)
{
    const std::wstring source(ViewOf(text));
    Clear();
    AppendTokens(source);
}

void XStrList::ParseArgs(const XStr& text)
{
    const std::wstring source(text.View());
    Clear();
    AppendTokens(source);
}

void XStrList::SetCommandLine(const wchar_t* program, const wchar_t* args)
{
    const XStr programCopy(program ? program : L"");
    const std::wstring source(ViewOf(args));
    Clear();
    Add(programCopy);
    AppendTokens(source);
}

XStr XStrList::ToCommandLine() const
{
    std::wstring out;
    for (int64_t i = 0; i < _Count; ++i) {
        if (i > 0)
            out += L' ';
        const XStr* s = StrAt(Items, i);
        const XStr quoted = XQuoteArgument(s ? *s : XStr());
        out += quoted.View();
    }
    return XStr(std::wstring_view(out));
}

void XStrList::ToMultiString(XBuffer& out, int mode) const
{
    static const wchar_t kEmpty[] = L"[Empty]";
    out.Free();
    if (mode >= 2) {
        std::string bytes;
        for (int64_t i = 0; i < _Count; ++i) {
            const XStr* s = StrAt(Items, i);
            XStr copy(s && !s->IsEmpty() ? *s : XStr(kEmpty));
            bytes += copy.Ansi();
            bytes += '\0';
        }
        bytes += '\0';
        if (_Count == 0)
            bytes += '\0';
        out.Assign(bytes.data(), bytes.size());
        return;
    }
    std::wstring units;
    for (int64_t i = 0; i < _Count; ++i) {
        const XStr* s = StrAt(Items, i);
        units += s && !s->IsEmpty() ? s->View() : std::wstring_view(kEmpty);
        units += L'\0';
    }
    units += L'\0';
    if (_Count == 0)
        units += L'\0';
    out.Assign(units.data(), units.size() * sizeof(wchar_t));
}

void XStrList::FromMultiString(const void* data, uint64_t byteLength, int mode, uint32_t separator, bool skipEmpty)
{
    const bool bytes = mode >= 2;
    // Only whole units are read: a trailing partial unit is ignored.
    const uint64_t unitCount = !data ? 0 : bytes ? byteLength : byteLength / sizeof(uint32_t);
    if (unitCount == 0) {
        Clear();
        return;
    }

    // Copy into a local array of units; this also removes any alignment demand on data.
    std::wstring units(static_cast<size_t>(unitCount), L'\0');
    if (bytes) {
        const uint8_t* in = static_cast<const uint8_t*>(data);
        for (uint64_t k = 0; k < unitCount; ++k)
            units[k] = static_cast<wchar_t>(in[k]);
    } else {
        memcpy(units.data(), data, static_cast<size_t>(unitCount) * sizeof(uint32_t));
    }
    Clear(); // only now: data may be one of this list's own strings
    if (separator != 0) {
        for (wchar_t& u : units) {
            if (static_cast<uint32_t>(u) == separator)
                u = L'\0';
        }
    }

    size_t pos = 0;
    while (pos < units.size()) {
        if (units[pos] == L'\0') {
            if (!skipEmpty)
                break;
            ++pos;
            continue;
        }
        size_t end = units.find(L'\0', pos);
        if (end == std::wstring::npos)
            end = units.size();
        XStr s;
        if (bytes) {
            std::string raw;
            raw.reserve(end - pos);
            for (size_t k = pos; k < end; ++k)
                raw += static_cast<char>(units[k]);
            s = XStr::FromAnsiData(raw.data(), raw.size());
        } else {
            s = XStr(std::wstring_view(units.data() + pos, end - pos));
        }
        if (s.View() == L"[Empty]")
            s = XStr();
        Add(s);
        pos = end + 1;
    }
}

// ---------------------------------------------------------------------------------------
// XHashedStrList

uint32_t XHashedStrList::Hash(const wchar_t* text)
{
    // One CRC-32 over the whole text, fed a character (4 bytes, little-endian) at a time.
    uint32_t crc = 0;
    if (text)
        for (const wchar_t* p = text; *p; ++p) {
            uint32_t u = static_cast<uint32_t>(*p);
            if (u >= 'a' && u <= 'z')
                u -= 'a' - 'A';
            const uint8_t unit[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                                     static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
            crc = XCRC32(unit, sizeof unit, crc);
        }
    return crc;
}

XHashedStrList::XHashedStrList(const XHashedStrList& other) : Strings(other.Strings)
{
    Rehash();
}

int64_t XHashedStrList::AddHashFor(int64_t index)
{
    if (index < 0)
        return -1;
    if (Hashes.Add(static_cast<uint64_t>(Hash(Strings[index].p))) < 0) {
        Strings.RemoveAt(index);
        return -1;
    }
    return index;
}

int64_t XHashedStrList::Add(const wchar_t* text, uint64_t userData)
{
    return AddHashFor(Strings.Add(text, userData));
}

int64_t XHashedStrList::Add(const XStr& text, uint64_t userData)
{
    return AddHashFor(Strings.Add(text, userData));
}

int64_t XHashedStrList::InsertAt(int64_t index, const wchar_t* text)
{
    const int64_t at = Strings.InsertAt(index, text);
    if (at >= 0 && Hashes.InsertAt(at, static_cast<uint64_t>(Hash(Strings[at].p))) < 0) {
        Strings.RemoveAt(at);
        return -1;
    }
    return at;
}

void XHashedStrList::RemoveAt(int64_t index)
{
    Strings.RemoveAt(index);
    Hashes.RemoveAt(index);
}

void XHashedStrList::Free(int64_t index)
{
    Strings.Free(index);
}

void XHashedStrList::Compact()
{
    // A value no live hash holds marks the hash slots of the freed strings.
    uint64_t marker = 0;
    while (Hashes.Find(marker))
        ++marker;
    const int64_t n = Strings.Count() < Hashes.Count() ? Strings.Count() : Hashes.Count();
    for (int64_t i = 0; i < n; ++i) {
        if (!Strings.Get(i))
            Hashes[i] = marker;
    }
    Strings.Compact();
    Hashes.RemoveAll(marker);
}

void XHashedStrList::Remove(const wchar_t* text, bool ignoreCase)
{
    const wchar_t* wanted = text ? text : L"";
    for (int64_t i = 0; i < Strings.Count(); ++i) {
        const XStr* s = Strings.Get(i);
        if (s && XStrCompare(s->p, wanted, 0, ignoreCase) == 0)
            Strings.Free(i);
    }
    Compact();
}

void XHashedStrList::Clear()
{
    Strings.Clear();
    Hashes.Clear();
}

void XHashedStrList::Append(const XStrList& other, bool allowDuplicates, bool ignoreCase)
{
    Strings.Append(other, allowDuplicates, ignoreCase);
    Rehash();
}

void XHashedStrList::Append(const XHashedStrList& other, bool allowDuplicates, bool ignoreCase)
{
    Append(other.Strings, allowDuplicates, ignoreCase);
}

void XHashedStrList::Assign(const XHashedStrList& other)
{
    if (this == &other)
        return;
    Strings.Assign(other.Strings);
    Rehash();
}

void XHashedStrList::Sort(bool ignoreCase)
{
    Strings.Sort(ignoreCase);
    Rehash();
}

void XHashedStrList::Split(const wchar_t* text, const wchar_t* separator)
{
    Strings.Split(text, separator);
    Rehash();
}

void XHashedStrList::FromMultiString(const void* data, uint64_t byteLength, int mode, uint32_t separator)
{
    Strings.FromMultiString(data, byteLength, mode, separator, false);
    Rehash();
}

bool XHashedStrList::Find(const wchar_t* text, bool ignoreCase, int64_t* index) const
{
    if (Strings.Count() != Hashes.Count())
        return false;
    const wchar_t* wanted = text ? text : L"";
    const uint64_t hash = Hash(wanted);
    for (int64_t i = 0; i < Hashes.Count(); ++i) {
        if (Hashes[i] != hash)
            continue;
        const XStr* s = Strings.Get(i);
        if (s && XStrCompare(s->p, wanted, 0, ignoreCase) == 0) {
            if (index)
                *index = i;
            return true;
        }
    }
    return false;
}

void XHashedStrList::Rehash()
{
    while (Hashes.Count() < Strings.Count()) {
        if (Hashes.Add(uint64_t{0}) < 0)
            return;
    }
    // A shorter string list (after a Clear of Strings, say) leaves no stale hashes behind.
    while (Hashes.Count() > Strings.Count())
        Hashes.RemoveAt(Hashes.Count() - 1);
    for (int64_t i = 0; i < Strings.Count(); ++i) {
        const XStr* s = Strings.Get(i);
        Hashes[i] = s ? Hash(s->p) : 0;
    }
}
