#include "media/NTag.h"

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "xclass/XCRC32.h"

namespace {

constexpr const wchar_t* kAlbumArtPrefix = L"_albumart_";
constexpr int kAlbumArtPrefixLength = 10;

bool NamesEqual(const wchar_t* a, const wchar_t* b)
{
    return XStrCompare(a ? a : L"", b ? b : L"", 0, true) == 0;
}

bool BeginsWith(const wchar_t* text, const wchar_t* prefix)
{
    return XStrCompare(text ? text : L"", prefix, -1, true) == 0;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// The name begins with prefix (A-Z folded) and no further digit follows it, so that the
// prefix of picture 1 does not also claim picture 10.
bool BeginsWithNumberPrefix(const XStr& name, const XStr& prefix)
{
    if (!BeginsWith(name.p, prefix.p))
        return false;
    return name.Length() == prefix.Length() || !IsDigit(name.p[prefix.Length()]);
}

XStr AlbumArtNumberPrefix(int n)
{
    return XStr(kAlbumArtPrefix) + XStr::FromLong(n);
}

uint64_t DataSize(const STInternalTag& element)
{
    return element.HasData() ? element.Data.Size : 0;
}

uint32_t ReadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void WriteLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The 16-bit units of a text. Characters above U+FFFF become surrogate pairs; characters
// beyond Unicode become U+FFFD; embedded 0 characters are left out (a 0 unit ends the text).
void ToUnits(const XStr& text, std::vector<uint16_t>& units)
{
    units.clear();
    for (const wchar_t ch : text.View()) {
        const uint32_t c = static_cast<uint32_t>(ch);
        if (c == 0)
            continue;
        if (c <= 0xFFFF) {
            units.push_back(static_cast<uint16_t>(c));
        } else if (c <= 0x10FFFF) {
            const uint32_t v = c - 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (v >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            units.push_back(0xFFFD);
        }
    }
}

// Reads 16-bit units from pos up to a 0 unit (consumed), never beyond end. A surrogate pair
// becomes one character. False when the text ran into the end without its 0 unit.
bool ReadUnits(const uint8_t* p, uint64_t& pos, uint64_t end, XStr& out)
{
    std::wstring text;
    bool terminated = false;
    while (end - pos >= 2) {
        const uint32_t u = static_cast<uint32_t>(p[pos]) | static_cast<uint32_t>(p[pos + 1]) << 8;
        pos += 2;
        if (u == 0) {
            terminated = true;
            break;
        }
        if (u >= 0xDC00 && u <= 0xDFFF && !text.empty()) {
            const uint32_t high = static_cast<uint32_t>(text.back());
            if (high >= 0xD800 && high <= 0xDBFF) {
                text.back() = static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                continue;
            }
        }
        text.push_back(static_cast<wchar_t>(u));
    }
    out = XStr(std::wstring_view(text));
    return terminated;
}

} // namespace

// --- STInternalTag, NTagElements ---------------------------------------------------------

void STInternalTag::SetData(const void* bytes, uint64_t size)
{
    if (bytes == Data.Data && size == Data.Size)
        return;
    if (!bytes || size == 0) {
        Data.Free();
        return;
    }
    XBuffer copy;
    if (!copy.Assign(bytes, size)) {
        copy.Free();
        return;
    }
    Data.Free();
    Data = copy;
}

STInternalTag* NTagElements::Add(int64_t position)
{
    auto* element = new STInternalTag;
    if (lstObjs.InsertAt(position, element) < 0) {
        delete element;
        return nullptr;
    }
    ActiveObj = element;
    return element;
}

void NTagElements::RemoveAt(int64_t index)
{
    STInternalTag* element = Get(index);
    if (!element)
        return;
    lstObjs.RemoveAt(index);
    if (ActiveObj == element)
        ActiveObj = nullptr;
    delete element;
}

void NTagElements::Clear()
{
    for (int64_t i = 0; i < lstObjs.Count(); ++i)
        delete Get(i);
    lstObjs.Clear();
    ActiveObj = nullptr;
}

// --- NTag -------------------------------------------------------------------------------

STInternalTag* NTag::AddTag(const wchar_t* name, const wchar_t* value)
{
    STInternalTag* element = Tags.Add();
    if (element) {
        element->Name = name;
        element->Value = value;
    }
    return element;
}

STInternalTag* NTag::AddTagData(const wchar_t* name, const void* bytes, uint64_t size)
{
    STInternalTag* element = Tags.Add();
    if (element) {
        element->Name = name;
        element->SetData(bytes, size);
    }
    return element;
}

STInternalTag* NTag::AddTagCopy(const STInternalTag& source)
{
    STInternalTag* element = Tags.Add();
    if (element) {
        element->Name = source.Name;
        element->Value = source.Value;
        element->SetData(source.Data.Data, source.Data.Size);
    }
    return element;
}

STInternalTag* NTag::FindTag(const wchar_t* name) const
{
    for (int64_t i = 0; i < Tags.Count(); ++i) {
        STInternalTag* element = Tags.Get(i);
        if (NamesEqual(element->Name.p, name))
            return element;
    }
    return nullptr;
}

XStr NTag::GetValue(const wchar_t* name) const
{
    const STInternalTag* element = FindTag(name);
    return element ? element->Value : XStr();
}

void NTag::SetValue(const wchar_t* name, const wchar_t* value)
{
    if (STInternalTag* element = FindTag(name))
        element->Value = value;
    else
        AddTag(name, value);
}

bool NTag::RemoveTag(const wchar_t* name)
{
    bool removed = false;
    for (int64_t i = Tags.Count() - 1; i >= 0; --i) {
        if (NamesEqual(Tags.Get(i)->Name.p, name)) {
            Tags.RemoveAt(i);
            removed = true;
        }
    }
    return removed;
}

XStr NTag::TakeTag(const wchar_t* name)
{
    const XStr key(name);
    if (!IsAlbumArtName(key.p)) {
        XStr value = GetValue(key.p);
        RemoveTag(key.p);
        return value;
    }
    const int underscore = key.FindChar(L'_', kAlbumArtPrefixLength + 1);
    const XStr prefix = underscore ? key.Left(underscore - 1) : key;
    for (int64_t i = 0; i < Tags.Count(); ++i) {
        if (BeginsWithNumberPrefix(Tags.Get(i)->Name, prefix)) {
            Tags.RemoveAt(i);
            break;
        }
    }
    return XStr();
}

void NTag::Assign(const NTag& other)
{
    if (&other == this)
        return;
    Clear();
    for (int64_t i = 0; i < other.Count(); ++i)
        AddTagCopy(*other.TagAt(i));
}

namespace {

void CollectAlbumArt(const NTag& source, NTag& pool, XStrList& keys)
{
    for (int n = 1;; ++n) {
        XStr type, description;
        const STInternalTag* art = source.GetAlbumArt(n, &type, &description);
        if (!art)
            break;
        const uint32_t crc = XCRC32(art->Data.Data, art->Data.Size);
        XStr key = XStr::FromFormat(L"%08X-%08X", static_cast<uint32_t>(art->Data.Size), crc);
        if (!type.IsEmpty())
            key += XStr(L"\t") + type;
        if (!description.IsEmpty())
            key += XStr(L"\t") + description;
        if (keys.Find(key.p, false))
            continue;
        keys.Add(key);
        pool.AddTagData(NTag::MakeAlbumArtName(static_cast<int>(keys.Count()), type.p, description.p).p, art->Data.Data,
                        art->Data.Size);
    }
}

} // namespace

void NTag::Merge(const NTag& other, bool overwrite)
{
    if (&other == this) {
        const NTag copy(other);
        Merge(copy, overwrite);
        return;
    }
    for (int64_t i = 0; i < other.Count(); ++i) {
        const STInternalTag* source = other.TagAt(i);
        if (IsAlbumArtName(source->Name.p))
            continue;
        STInternalTag* target = FindTag(source->Name.p);
        if (!target) {
            AddTagCopy(*source);
        } else if (overwrite) {
            target->Name = source->Name;
            target->Value = source->Value;
            target->SetData(source->Data.Data, source->Data.Size);
        }
    }
    NTag pool;
    XStrList keys;
    CollectAlbumArt(*this, pool, keys);
    CollectAlbumArt(other, pool, keys);
    RemoveInternalTags(0xF7);
    for (int64_t i = 0; i < pool.Count(); ++i)
        AddTagCopy(*pool.TagAt(i));
}

void NTag::RemoveInternalTags(uint32_t keepFlags)
{
    for (int64_t i = Tags.Count() - 1; i >= 0; --i) {
        const XStr& name = Tags.Get(i)->Name;
        if (name.IsEmpty() || name.p[0] != L'_')
            continue;
        if ((keepFlags & 2) && BeginsWith(name.p, L"_riff_"))
            continue;
        if ((keepFlags & 4) && BeginsWith(name.p, L"_cd"))
            continue;
        if ((keepFlags & 8) && BeginsWith(name.p, kAlbumArtPrefix))
            continue;
        if ((keepFlags & 0x10) && NamesEqual(name.p, L"_crc"))
            continue;
        Tags.RemoveAt(i);
    }
}

void NTag::RemoveDataTags()
{
    for (int64_t i = Tags.Count() - 1; i >= 0; --i) {
        if (Tags.Get(i)->HasData())
            Tags.RemoveAt(i);
    }
}

STInternalTag* NTag::GetAlbumArt(int n, XStr* type, XStr* description) const
{
    const XStr prefix = AlbumArtNumberPrefix(n);
    for (int64_t i = 0; i < Tags.Count(); ++i) {
        STInternalTag* element = Tags.Get(i);
        if (!BeginsWithNumberPrefix(element->Name, prefix))
            continue;
        XStr t, d;
        ParseAlbumArtName(element->Name, t, d);
        if (type)
            *type = t;
        if (description)
            *description = d;
        return element;
    }
    return nullptr;
}

bool NTag::ToRawData(XBuffer& out) const
{
    out.Free();
    const int64_t count = Count();
    std::vector<std::vector<uint16_t>> names(static_cast<size_t>(count));
    std::vector<std::vector<uint16_t>> values(static_cast<size_t>(count));
    uint64_t total = 4;
    for (int64_t i = 0; i < count; ++i) {
        const STInternalTag* element = TagAt(i);
        ToUnits(element->Name, names[static_cast<size_t>(i)]);
        ToUnits(element->Value, values[static_cast<size_t>(i)]);
        const uint64_t length = 4 + 2 * (names[static_cast<size_t>(i)].size() + 1) +
                                2 * (values[static_cast<size_t>(i)].size() + 1) + DataSize(*element);
        if (length > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            return false;
        total += length;
    }
    if (count > std::numeric_limits<int32_t>::max() || !out.SetSize(total, false, true))
        return false;
    uint8_t* p = out.Data;
    WriteLE32(p, static_cast<uint32_t>(count));
    uint64_t pos = 4;
    const auto writeUnits = [&](const std::vector<uint16_t>& units) {
        for (const uint16_t u : units) {
            p[pos++] = static_cast<uint8_t>(u);
            p[pos++] = static_cast<uint8_t>(u >> 8);
        }
        p[pos++] = 0;
        p[pos++] = 0;
    };
    for (int64_t i = 0; i < count; ++i) {
        const STInternalTag* element = TagAt(i);
        const size_t k = static_cast<size_t>(i);
        const uint64_t length = 4 + 2 * (names[k].size() + 1) + 2 * (values[k].size() + 1) + DataSize(*element);
        WriteLE32(p + pos, static_cast<uint32_t>(length));
        pos += 4;
        writeUnits(names[k]);
        writeUnits(values[k]);
        if (element->HasData()) {
            memcpy(p + pos, element->Data.Data, element->Data.Size);
            pos += element->Data.Size;
        }
    }
    out.Used = total;
    return true;
}

bool NTag::FromRawData(const void* bytes, uint64_t size)
{
    Clear();
    if (!bytes || size == 0)
        return true;
    if (size < 4)
        return false;
    const auto* p = static_cast<const uint8_t*>(bytes);
    const int32_t count = static_cast<int32_t>(ReadLE32(p));
    if (count < 0)
        return false;
    uint64_t pos = 4;
    for (int32_t i = 0; i < count; ++i) {
        if (size - pos < 4)
            return false; // cut off, or more elements counted than there are
        const int32_t length = static_cast<int32_t>(ReadLE32(p + pos));
        if (length < 4 || static_cast<uint64_t>(length) > size - pos)
            return false;
        const uint64_t end = pos + static_cast<uint64_t>(length);
        pos += 4;
        STInternalTag* element = Tags.Add();
        if (!element)
            return false;
        if (!ReadUnits(p, pos, end, element->Name) || !ReadUnits(p, pos, end, element->Value))
            return false;
        element->SetData(p + pos, end - pos);
        pos = end;
    }
    return true;
}

XStr NTag::GetNumberPairDisplay(const wchar_t* name) const
{
    int n = 0, m = 0;
    ParseNumberPair(GetValue(name).p, n, m);
    if (n == 0)
        return XStr();
    const auto twoDigits = [](int v) {
        XStr text = XStr::FromLong(v);
        if (v >= 1 && v <= 9)
            text.InsertChar(L'0', 1);
        return text;
    };
    XStr text = twoDigits(n);
    if (m != 0)
        text += XStr(L"/") + twoDigits(m);
    return text;
}

XStr NTag::Dump() const
{
    std::wstring out;
    for (int64_t i = 0; i < Count(); ++i) {
        const STInternalTag* element = TagAt(i);
        if (i > 0)
            out += L"\r\n";
        out += element->Name.View();
        out += L": ";
        if (element->HasData()) {
            out += L"  [DATA]";
            const uint64_t shown = element->Data.Size < 100 ? element->Data.Size : 100;
            static const wchar_t kHex[] = L"0123456789ABCDEF";
            for (uint64_t k = 0; k < shown; ++k) {
                const uint8_t b = element->Data.Data[k];
                out += L' ';
                out += kHex[b >> 4];
                out += kHex[b & 15];
            }
        } else {
            out += element->Value.View();
        }
    }
    return XStr(std::wstring_view(out));
}

XStr NTag::MakeAlbumArtName(int number, const wchar_t* type, const wchar_t* description)
{
    XStr name = AlbumArtNumberPrefix(number);
    name += L"_";
    if (type)
        name += type;
    if (description && *description) {
        name += L"<subdesc>";
        name += description;
    }
    return name;
}

void NTag::ParseAlbumArtName(const XStr& name, XStr& type, XStr& description)
{
    type = XStr();
    description = XStr();
    const int underscore = name.FindChar(L'_', kAlbumArtPrefixLength + 1);
    if (!underscore)
        return;
    const XStr rest = name.MidToEnd(underscore + 1);
    const int sub = rest.Find(L"<subdesc>");
    if (sub) {
        type = rest.Left(sub - 1);
        description = rest.MidToEnd(sub + 9);
    } else {
        type = rest;
    }
}

bool NTag::IsAlbumArtName(const wchar_t* name)
{
    return BeginsWith(name, kAlbumArtPrefix);
}

void ParseNumberPair(const wchar_t* text, int& n, int& m)
{
    const XStr value(text);
    n = static_cast<int>(value.ToLong());
    m = 0;
    const int slash = value.FindChar(L'/');
    if (slash) {
        XStr after = value.MidToEnd(slash + 1);
        after.TrimLeft();
        after.TrimRight();
        m = static_cast<int>(after.ToLong());
    }
}
