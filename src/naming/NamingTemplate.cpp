#include "naming/NamingTemplate.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "xclass/XFileName.h"

namespace {

using WString = std::wstring;
constexpr size_t npos = WString::npos;

// Bounds that no sensible template comes near: a path holds at most a few thousand
// characters. They keep hostile or mistaken templates (a padding of a billion characters,
// replacements that double the text on every call) from eating memory and time.
constexpr size_t kMaxWorkingText = 32768;
constexpr int kMaxEvaluations = 10000;
constexpr int64_t kMaxSetLength = 4096;

const WString kComma = L"<comma_>";
const WString kBrackets = L"<brackets_>";

wchar_t FoldLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

wchar_t FoldUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
}

WString LowerAscii(WString s)
{
    for (wchar_t& c : s)
        c = FoldLower(c);
    return s;
}

WString UpperAscii(WString s)
{
    for (wchar_t& c : s)
        c = FoldUpper(c);
    return s;
}

bool MatchAt(const WString& text, size_t pos, const WString& what, bool noCase)
{
    if (what.empty() || pos > text.size() || text.size() - pos < what.size())
        return false;
    for (size_t k = 0; k < what.size(); k++) {
        const wchar_t a = text[pos + k], b = what[k];
        if (a != b && !(noCase && FoldLower(a) == FoldLower(b)))
            return false;
    }
    return true;
}

size_t Find(const WString& text, const WString& what, size_t from, bool noCase)
{
    if (what.empty() || from > text.size())
        return npos;
    for (size_t i = from; i + what.size() <= text.size(); i++)
        if (MatchAt(text, i, what, noCase))
            return i;
    return npos;
}

bool EqualsNoCase(const WString& a, const WString& b)
{
    return a.size() == b.size() && (a.empty() || MatchAt(a, 0, b, true));
}

bool EndsWith(const WString& text, const WString& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Every occurrence of what, scanning on behind each inserted replacement. An empty search
// text replaces nothing. The result is cut at limit characters.
WString ReplaceAll(const WString& text, const WString& what, const WString& with, bool noCase,
                   size_t limit = kMaxWorkingText)
{
    if (what.empty())
        return text.size() > limit ? text.substr(0, limit) : text;
    WString out;
    size_t from = 0;
    for (;;) {
        const size_t pos = Find(text, what, from, noCase);
        if (pos == npos)
            break;
        out.append(text, from, pos - from);
        out += with;
        from = pos + what.size();
        if (out.size() >= limit)
            break;
    }
    if (out.size() < limit && from < text.size())
        out.append(text, from, npos);
    if (out.size() > limit)
        out.resize(limit);
    return out;
}

WString Escape(const WString& value)
{
    WString out;
    out.reserve(value.size());
    for (wchar_t c : value) {
        if (c == L',')
            out += kComma;
        else if (c == L'[')
            out += kBrackets;
        else
            out += c;
    }
    return out;
}

WString Unescape(const WString& value, bool commas = true, bool brackets = true)
{
    WString out = value;
    if (commas)
        out = ReplaceAll(out, kComma, L",", true, npos);
    if (brackets)
        out = ReplaceAll(out, kBrackets, L"[", true, npos);
    return out;
}

WString FirstLine(const WString& value)
{
    const size_t cr = value.find(L'\r');
    return cr == npos ? value : value.substr(0, cr);
}

WString TrimBlanks(const WString& s)
{
    const size_t first = s.find_first_not_of(L' ');
    if (first == npos)
        return WString();
    const size_t last = s.find_last_not_of(L' ');
    return s.substr(first, last - first + 1);
}

// Leading blanks, one optional sign, digits up to the first non-digit; anything else is 0.
// Saturates far beyond any length a text can have here.
int64_t ReadNumber(const WString& s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == L' ')
        i++;
    bool negative = false;
    if (i < s.size() && (s[i] == L'-' || s[i] == L'+'))
        negative = s[i++] == L'-';
    int64_t value = 0;
    constexpr int64_t kCeiling = INT64_C(1) << 48;
    for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; i++)
        if (value < kCeiling)
            value = value * 10 + (s[i] - L'0');
    return negative ? -value : value;
}

// Takes the next argument (the text before the next ","); rest keeps what follows.
WString Pop(WString& rest)
{
    const size_t comma = rest.find(L',');
    WString arg;
    if (comma == npos) {
        arg.swap(rest);
    } else {
        arg = rest.substr(0, comma);
        rest.erase(0, comma + 1);
    }
    return arg;
}

std::vector<WString> SplitKeepEmpty(const WString& text, const WString& separator)
{
    std::vector<WString> parts;
    if (separator.empty()) {
        parts.push_back(text);
        return parts;
    }
    size_t from = 0;
    for (;;) {
        const size_t pos = text.find(separator, from);
        if (pos == npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, pos - from));
        from = pos + separator.size();
    }
}

WString FromXStr(const XStr& s)
{
    return WString(s.View());
}

XStr ToXStr(const WString& s)
{
    return XStr(std::wstring_view(s));
}

struct Element {
    WString name;
    WString value;
};

class TagSet {
public:
    std::vector<Element> items;

    const Element* Find(const WString& name) const
    {
        for (const Element& e : items)
            if (EqualsNoCase(e.name, name))
                return &e;
        return nullptr;
    }
    WString Value(const WString& name) const
    {
        const Element* e = Find(name);
        return e ? e->value : WString();
    }
    void RemoveAll(const WString& name)
    {
        std::erase_if(items, [&](const Element& e) { return EqualsNoCase(e.name, name); });
    }
};

enum class Treatment { Plain, Before, After, BeforePad, BeforeUnpad, AfterPad, AfterUnpad };

struct Field {
    const wchar_t* name;
    const wchar_t* element;
    Treatment treatment;
    const wchar_t* label;
};

const Field kFields[] = {
    {L"[artist]", L"artist", Treatment::Plain, L"Artist"},
    {L"[album]", L"album", Treatment::Plain, L"Album"},
    {L"[album artist]", L"album artist", Treatment::Plain, L"Album Artist"},
    {L"[composer]", L"composer", Treatment::Plain, L"Composer"},
    {L"[conductor]", L"conductor", Treatment::Plain, L"Conductor"},
    {L"[title]", L"title", Treatment::Plain, L"Title"},
    {L"[genre]", L"genre", Treatment::Plain, L"Genre"},
    {L"[year]", L"year", Treatment::Plain, L"Year"},
    {L"[track]", L"track", Treatment::BeforePad, L"TrackNum"},
    {L"[track_unpad]", L"track", Treatment::BeforeUnpad, L"TrackNum Unpaddded"},
    {L"[track_total]", L"track", Treatment::AfterPad, L"Track Total"},
    {L"[track_total_unpad]", L"track", Treatment::AfterUnpad, L"Track Total  Unpaddded"},
    {L"[disc]", L"disc", Treatment::Before, L"Disc"},
    {L"[disc_total]", L"disc", Treatment::After, L"Disc Total"},
    {L"[band]", L"band", Treatment::Plain, L"Band"},
    {L"[rating]", L"rating", Treatment::Plain, L"Rating"},
    {L"[tempo]", L"tempo", Treatment::Plain, L"Tempo"},
    {L"[label]", L"label", Treatment::Plain, L"Label"},
    {L"[isrc]", L"isrc", Treatment::Plain, L"ISRC"},
    {L"[upc]", L"upc", Treatment::Plain, L"UPC"},
    {L"[compilation]", L"compilation", Treatment::Plain, L"Compilation"},
    {L"[mood]", L"mood", Treatment::Plain, L"Mood"},
    {L"[style]", L"style", Treatment::Plain, L"Style"},
    {L"[copyright]", L"copyright", Treatment::Plain, L"Copyright"},
    {L"[subtitle]", L"subtitle", Treatment::Plain, L"Subtitle"},
    {L"[unique]", L"unique", Treatment::Plain, L"Unique"},
    {L"[discunique]", L"discunique", Treatment::Plain, L"Disc Unique"},
    {L"[length]", L"length", Treatment::Plain, L"Length"},
    {L"[length_mmss]", L"length_mmss", Treatment::Plain, L"Length mm:ss"},
    {L"[length_hhmmss]", L"length_hhmmss", Treatment::Plain, L"Length hh:mm:ss"},
    {L"[encoder]", L"encoder", Treatment::Plain, L"Encoder"},
    {L"[encoder+]", L"encoder+", Treatment::Plain, L"Encoder Extra"},
    {L"[extension]", L"extension", Treatment::Plain, L"Encoder Extension"},
    {L"[cddb_id]", L"cddb_id", Treatment::Plain, L"CDDB ID"},
    {L"[origdrive]", L"origdrive", Treatment::Plain, L"Source Drive:\\"},
    {L"[origpath]", L"origpath", Treatment::Plain, L"Source Path"},
    {L"[subpath]", L"subpath", Treatment::Plain, L"Sub Path"},
    {L"[origfilename]", L"origfilename", Treatment::Plain, L"Source Filename"},
    {L"[protected]", L"protected", Treatment::Plain, L"Protected"},
    {L"[id_tag]", L"id_tag", Treatment::Plain, L"ID Tag"},
    {L"[audio_quality]", L"audio_quality", Treatment::Plain, L"Audio Quality"},
    {L"[gapless]", L"gapless", Treatment::Plain, L"Gapless"},
    {L"[date]", L"date", Treatment::Plain, L"Date"},
    {L"[time]", L"time", Treatment::Plain, L"Now Time"},
    {L"[day_of_week]", L"day_of_week", Treatment::Plain, L"Now Day of Week"},
    {L"[now_year]", L"now_year", Treatment::Plain, L"Now Year"},
    {L"[frequency]", L"frequency", Treatment::Plain, L"Frequency"},
    {L"[channels]", L"channels", Treatment::Plain, L"Channels"},
    {L"[channels_subone]", L"channels_subone", Treatment::Plain, L"Channels -1"},
    {L"[bits_per_sample]", L"bits_per_sample", Treatment::Plain, L"Bits Per Sample"},
    {L"[bytes_per_sample]", L"bytes_per_sample", Treatment::Plain, L"Bytes Per Sample"},
    {L"[bitrate]", L"bitrate", Treatment::Plain, L"Bitrate"},
    {L"[k_bitrate]", L"k_bitrate", Treatment::Plain, L"Kbps"},
};

// The elements whose values are paths (or parts of them) and keep their separators.
const wchar_t* const kOriginElements[] = {L"origpath", L"origfilename", L"origdrive", L"subpath"};

// clang-format off
enum Function {
    FnUpper, FnLower, FnRight, FnGrab, FnTrim, FnDel, FnSetLen, FnIfComp, FnIfNotComp, FnIfMulti,
    FnIfNotMulti, FnIfEquals, FnIfNotEquals, FnIf, FnIfValue, FnTrimFirstFolder, FnTrimLastFolder,
    FnMaxLength, FnFrontFolder, FnBackFolder, FnReplace, FnWord, FnGroup, FnSplit, FnCount
};
// clang-format on

const WString kFunctionNames[FnCount] = {
    L"[UPPER]",          L"[LOWER]",     L"[RIGHT]",       L"[GRAB]",
    L"[TRIM]",           L"[DEL]",       L"[SETLEN]",      L"[IFCOMP]",
    L"[IF!COMP]",        L"[IFMULTI]",   L"[IF!MULTI]",    L"[IFEQUALS]",
    L"[IF!EQUALS]",      L"[IF]",        L"[IFVALUE]",     L"[TRIMFIRSTFOLDER]",
    L"[TRIMLASTFOLDER]", L"[MAXLENGTH]", L"[FRONTFOLDER]", L"[BACKFOLDER]",
    L"[REPLACE]",        L"[WORD]",      L"[GROUP]",       L"[SPLIT]",
};

// The number before and after the first "/" (or, without one, the first "-"), trimmed.
void SplitNumberPair(const WString& value, WString& before, WString& after)
{
    size_t sep = value.find(L'/');
    if (sep == npos)
        sep = value.find(L'-');
    if (sep == npos) {
        before = TrimBlanks(value);
        after.clear();
        return;
    }
    before = TrimBlanks(value.substr(0, sep));
    after = TrimBlanks(value.substr(sep + 1));
}

WString Pad2(WString s)
{
    if (s.size() == 1)
        s.insert(s.begin(), L'0');
    return s;
}

WString Unpad(WString s)
{
    if (!s.empty() && s[0] == L'0')
        s.erase(0, 1);
    return s;
}

class Expander {
public:
    Expander(const NTag& original, const XStrList* extra, bool valuesForPath) : m_original(original), m_extra(extra)
    {
        for (int64_t i = 0; i < original.Count(); i++) {
            const STInternalTag* tag = original.TagAt(i);
            if (!tag)
                continue;
            Element e{FromXStr(tag->Name), Escape(FromXStr(tag->Value))};
            if (valuesForPath && !IsPathElement(e.name))
                for (wchar_t& c : e.value)
                    if (c == L'\\' || c == L'/')
                        c = L'-';
            m_tags.items.push_back(std::move(e));
        }
        const WString compilation = m_tags.Value(L"compilation");
        if (ReadNumber(compilation) != 0 || EqualsNoCase(compilation, L"yes")) {
            m_tags.RemoveAll(L"compilation");
            m_tags.items.push_back({L"compilation", L"1"});
        }
    }

    WString Run(const WString& pattern)
    {
        m_text = pattern;
        UnwrapTagArguments();
        ExpandFields();
        ExpandTagConstructs(L"[tag]", 0);
        ExpandTagConstructs(L"[multitag]", 1);
        ExpandTagConstructs(L"[tags]", 2);
        EvaluateFunctions();
        return Unescape(m_text);
    }

private:
    const NTag& m_original;
    const XStrList* m_extra;
    TagSet m_tags;
    WString m_text;
    int m_evaluations = 0;

    bool IsPathElement(const WString& name) const
    {
        for (const wchar_t* origin : kOriginElements)
            if (EqualsNoCase(name, origin))
                return true;
        if (m_extra)
            for (const XStr& extra : *m_extra)
                if (EqualsNoCase(name, FromXStr(extra)))
                    return true;
        return false;
    }

    size_t Room() const { return m_text.size() < kMaxWorkingText ? kMaxWorkingText - m_text.size() : 0; }

    // Inserts at pos, cut to the room left; returns the characters inserted.
    size_t Insert(size_t pos, WString value)
    {
        if (value.size() > Room())
            value.resize(Room());
        m_text.insert(pos, value);
        return value.size();
    }

    bool Budget() { return ++m_evaluations <= kMaxEvaluations; }

    // [IFVALUE][tag]x[],... and [IFVALUE][x],...: the first argument names a tag element.
    void UnwrapTagArguments()
    {
        static const WString names[] = {L"[IFVALUE]", L"[IFEQUALS]", L"[IF!EQUALS]"};
        for (const WString& name : names) {
            for (;;) {
                const size_t pos = Find(m_text, name + L"[tag]", 0, true);
                if (pos == npos)
                    break;
                m_text.erase(pos + name.size(), 5);
                const size_t close = Find(m_text, L"[]", pos, false);
                if (close != npos)
                    m_text.erase(close, 2);
            }
            for (;;) {
                const size_t pos = Find(m_text, name + L"[", 0, true);
                if (pos == npos)
                    break;
                m_text.erase(pos + name.size(), 1);
                const size_t close = m_text.find(L']', pos + name.size());
                if (close != npos)
                    m_text.erase(close, 1);
            }
        }
    }

    WString FieldValue(const Field& field) const
    {
        const WString value = FirstLine(m_tags.Value(field.element));
        WString before, after;
        switch (field.treatment) {
        case Treatment::Plain:
            return value;
        case Treatment::Before:
            SplitNumberPair(value, before, after);
            return before;
        case Treatment::After:
            SplitNumberPair(value, before, after);
            return after;
        case Treatment::BeforePad:
            SplitNumberPair(value, before, after);
            return Pad2(before);
        case Treatment::BeforeUnpad:
            SplitNumberPair(value, before, after);
            return Unpad(before);
        case Treatment::AfterPad:
            SplitNumberPair(value, before, after);
            return Pad2(after);
        case Treatment::AfterUnpad:
            SplitNumberPair(value, before, after);
            return Unpad(after);
        }
        return value;
    }

    // One pass from left to right: each field of the template is replaced by its value and
    // the scan goes on behind the value, so a value is never read as a field.
    void ExpandFields()
    {
        size_t i = 0;
        while (i < m_text.size()) {
            bool matched = false;
            if (m_text[i] == L'[') {
                for (const Field& field : kFields) {
                    const WString name = field.name;
                    if (MatchAt(m_text, i, name, true)) {
                        m_text.erase(i, name.size());
                        i += Insert(i, FieldValue(field));
                        matched = true;
                        break;
                    }
                }
            }
            if (!matched && m_extra) {
                for (const XStr& extraName : *m_extra) {
                    const WString name = FromXStr(extraName);
                    if (MatchAt(m_text, i, name, true)) {
                        m_text.erase(i, name.size());
                        i += Insert(i, FirstLine(m_tags.Value(name)));
                        matched = true;
                        break;
                    }
                }
            }
            if (!matched)
                i++;
        }
    }

    // kind 0: [tag]NAME[] (first line), 1: [multitag]NAME[] (all values, "; " between),
    // 2: [tags]NAME,SEP[] (all values, SEP between).
    void ExpandTagConstructs(const WString& opener, int kind)
    {
        size_t from = 0;
        while (Budget()) {
            const size_t pos = Find(m_text, opener, from, true);
            if (pos == npos)
                return;
            const size_t close = Find(m_text, L"[]", pos + opener.size(), false);
            if (close == npos)
                return;
            WString inner = m_text.substr(pos + opener.size(), close - pos - opener.size());
            m_text.erase(pos, close + 2 - pos);
            WString value;
            if (kind == 0) {
                value = FirstLine(m_tags.Value(inner));
            } else if (kind == 1) {
                value = ReplaceAll(m_tags.Value(inner), L"\r", L"; ", false, Room());
            } else if (std::count(inner.begin(), inner.end(), L',') == 1) {
                const WString name = Pop(inner);
                const WString separator = ReplaceAll(inner, L"_COMMA_", kComma, false);
                value = ReplaceAll(m_tags.Value(name), L"\r", separator, false, Room());
            }
            from = pos + Insert(pos, value);
        }
    }

    void EvaluateFunctions()
    {
        while (Budget()) {
            size_t start = npos;
            int function = -1;
            for (size_t i = m_text.size(); i-- > 0 && start == npos;) {
                if (m_text[i] != L'[')
                    continue;
                for (int f = 0; f < FnCount; f++)
                    if (MatchAt(m_text, i, kFunctionNames[f], true)) {
                        start = i;
                        function = f;
                        break;
                    }
            }
            if (start == npos)
                return;
            const size_t argsStart = start + kFunctionNames[function].size();
            const size_t close = m_text.find(L"[]", argsStart);
            if (close == npos)
                return;
            const WString args = m_text.substr(argsStart, close - argsStart);
            m_text.erase(start, close + 2 - start);
            Insert(start, Evaluate(function, args));
        }
    }

    bool IsCompilation() const
    {
        const WString value = m_tags.Value(L"compilation");
        return !value.empty() && !EqualsNoCase(value, L"no") && !EqualsNoCase(value, L"false") && value != L"0";
    }

    bool IsMultiDisc() const
    {
        WString before, after;
        SplitNumberPair(FirstLine(m_tags.Value(L"disc")), before, after);
        return ReadNumber(after) > 1;
    }

    bool ElementEquals(const WString& tag, const WString& equals) const
    {
        if (EqualsNoCase(tag, equals))
            return true;
        for (const WString& value : SplitKeepEmpty(m_tags.Value(tag), L"\r"))
            if (EqualsNoCase(value, equals))
                return true;
        return false;
    }

    // The parts of the source folder, split at every "/" with the empty parts kept.
    std::vector<WString> SourceFolderParts() const
    {
        return SplitKeepEmpty(FromXStr(m_original.GetValue(L"origpath")), L"/");
    }

    static WString TrimLastFolder(const WString& path)
    {
        XFileName name{std::wstring_view(path)};
        name.PopLastComponent(true);
        return FromXStr(name);
    }

    static WString TrimFirstFolder(const WString& path)
    {
        XFileName rest{std::wstring_view(path)};
        std::vector<WString> components; // from the back
        for (;;) {
            const int before = rest.Length();
            const XFileName popped = rest.PopLastComponent(true);
            if (popped.IsEmpty() || rest.Length() >= before)
                break;
            components.push_back(FromXStr(popped));
        }
        if (!rest.IsEmpty())
            components.push_back(FromXStr(rest));
        if (components.empty())
            return WString();
        components.pop_back(); // the front-most
        WString out;
        for (size_t k = components.size(); k-- > 0;) {
            if (!out.empty())
                out += L'/';
            out += components[k];
        }
        return out;
    }

    WString Word(const WString& text, int64_t count) const
    {
        if (count < 1)
            return text;
        int64_t separators = 0;
        size_t i = 0;
        while (i < text.size()) {
            if (text[i] != L' ') {
                i++;
                continue;
            }
            if (++separators == count) {
                WString cut = text.substr(0, i);
                if (!cut.empty() && cut.back() == L';')
                    cut.pop_back();
                if (EndsWith(cut, kComma))
                    cut.resize(cut.size() - kComma.size());
                return cut;
            }
            while (i < text.size() && text[i] == L' ')
                i++;
        }
        return text;
    }

    static WString Group(int64_t size, const WString& text)
    {
        if (size < 1)
            size = 1;
        const WString lowered = LowerAscii(text);
        const size_t first = lowered.find_first_not_of(L' ');
        if (first == npos)
            return L"@";
        const wchar_t c = lowered[first];
        if (c >= L'0' && c <= L'9')
            return L"0-9";
        if (c < L'a' || c > L'z')
            return L"@";
        const int64_t index = c - L'a';
        const wchar_t groupStart = static_cast<wchar_t>(L'a' + (index / size) * size);
        if (size == 1)
            return WString(1, groupStart);
        const int64_t end = std::min<int64_t>(static_cast<int64_t>(groupStart) + size - 1, L'z');
        return WString(1, groupStart) + L"-" + WString(1, static_cast<wchar_t>(end));
    }

    static bool UsablePadCode(int64_t code) { return code > 0 && code <= 0x10FFFF; }

    WString Evaluate(int function, const WString& args)
    {
        WString rest = args;
        switch (function) {
        case FnUpper:
            return UpperAscii(args);
        case FnLower:
            return LowerAscii(args);
        case FnTrim:
            return TrimBlanks(args);
        case FnRight: {
            const int64_t count = ReadNumber(Pop(rest));
            if (count <= 0)
                return WString();
            if (static_cast<uint64_t>(count) >= rest.size())
                return rest;
            return rest.substr(rest.size() - static_cast<size_t>(count));
        }
        case FnGrab:
        case FnDel: {
            int64_t from = ReadNumber(Pop(rest));
            int64_t to = ReadNumber(Pop(rest));
            const int64_t length = static_cast<int64_t>(rest.size());
            if (to < 1 || to > length)
                to = length;
            if (from < 1)
                from = 1;
            const bool empty = from > length || to < from;
            if (function == FnGrab)
                return empty ? WString()
                             : rest.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1));
            if (!empty)
                rest.erase(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1));
            return rest;
        }
        case FnSetLen: {
            int64_t count = ReadNumber(Pop(rest));
            const int64_t pre = ReadNumber(Pop(rest));
            const int64_t post = ReadNumber(Pop(rest));
            count = std::clamp<int64_t>(count, 0, kMaxSetLength);
            WString text = Unescape(rest);
            const size_t wanted = static_cast<size_t>(count);
            if (text.size() < wanted) {
                const size_t missing = wanted - text.size();
                if (UsablePadCode(pre))
                    text.insert(0, missing, static_cast<wchar_t>(pre));
                else if (UsablePadCode(post))
                    text.append(missing, static_cast<wchar_t>(post));
                else
                    text.append(missing, L' ');
            } else if (text.size() > wanted) {
                text.resize(wanted);
            }
            return Escape(text);
        }
        case FnIfComp:
            return IsCompilation() ? args : WString();
        case FnIfNotComp:
            return IsCompilation() ? WString() : args;
        case FnIfMulti:
            return IsMultiDisc() ? args : WString();
        case FnIfNotMulti:
            return IsMultiDisc() ? WString() : args;
        case FnIfEquals:
        case FnIfNotEquals: {
            const WString tag = Pop(rest);
            const WString equals = Pop(rest);
            const bool holds = ElementEquals(tag, equals);
            if (holds != (function == FnIfEquals))
                return WString();
            return ReplaceAll(rest, L"_COMMA_", L",", false);
        }
        case FnIf: {
            const WString left = Pop(rest);
            const WString op = Pop(rest);
            const WString right = Pop(rest);
            const WString thenText = Pop(rest);
            bool condition = false;
            const int64_t leftLength = static_cast<int64_t>(left.size());
            if (op == L"=")
                condition = EqualsNoCase(left, right);
            else if (op == L"len<")
                condition = leftLength < ReadNumber(right);
            else if (op == L"len>")
                condition = leftLength > ReadNumber(right);
            else if (op == L"len=")
                condition = leftLength == ReadNumber(right);
            return ReplaceAll(condition ? thenText : rest, L"_COMMA_", L",", false);
        }
        case FnIfValue: {
            const WString tag = Pop(rest);
            const WString ifValue = Pop(rest);
            return m_tags.Value(tag).empty() ? rest : ifValue;
        }
        case FnTrimFirstFolder:
            return TrimFirstFolder(args);
        case FnTrimLastFolder:
            return TrimLastFolder(args);
        case FnMaxLength: {
            const int64_t max = std::max<int64_t>(0, ReadNumber(Pop(rest)));
            WString text = Unescape(rest);
            if (text.size() > static_cast<uint64_t>(max))
                text.resize(static_cast<size_t>(max));
            return Escape(text);
        }
        case FnFrontFolder:
        case FnBackFolder: {
            const int64_t pos = ReadNumber(args);
            const std::vector<WString> parts = SourceFolderParts();
            const int64_t count = static_cast<int64_t>(parts.size());
            const int64_t index = function == FnFrontFolder ? pos - 1 : count - pos;
            // A folder name is text: escaped like every other value.
            return index >= 0 && index < count ? Escape(parts[static_cast<size_t>(index)]) : WString();
        }
        case FnReplace: {
            const WString search = Unescape(Pop(rest), true, false);
            const WString replacement = Unescape(Pop(rest), true, false);
            const WString text = Unescape(rest);
            return Escape(ReplaceAll(text, search, replacement, true));
        }
        case FnWord: {
            const WString text = Pop(rest);
            return Word(text, ReadNumber(rest));
        }
        case FnGroup: {
            const int64_t size = ReadNumber(Pop(rest));
            return Group(size, rest);
        }
        case FnSplit: {
            const WString separator = Unescape(Pop(rest), true, false);
            const WString text = Unescape(Pop(rest));
            const int64_t n = ReadNumber(rest);
            const std::vector<WString> parts = SplitKeepEmpty(text, separator);
            const int64_t index = n < 2 ? 0 : n - 1;
            // The part is escaped again: brackets of a tag value must stay text.
            return index < static_cast<int64_t>(parts.size()) ? Escape(parts[static_cast<size_t>(index)]) : WString();
        }
        default:
            return WString();
        }
    }
};

} // namespace

XStr ExpandNamingTemplate(const XStr& pattern, const NTag& tags, const XStrList* extraFieldNames, bool valuesForPath)
{
    Expander expander(tags, extraFieldNames, valuesForPath);
    return ToXStr(expander.Run(FromXStr(pattern)));
}

bool NamingTemplateUsesTags(const XStr& pattern)
{
    static const WString names[] = {
        L"[artist]",
        L"[album]",
        L"[album artist]",
        L"[composer]",
        L"[conductor]",
        L"[title]",
        L"[genre]",
        L"[year]",
        L"[track]",
        L"[tag]",
        L"[track_unpad]",
        L"[track_total_unpad]",
        L"[track_total]",
        L"[disc]",
        L"[disc_total]",
        L"[band]",
        L"[rating]",
        L"[tempo]",
        L"[label]",
        L"[isrc]",
        L"[upc]",
        L"[compilation]",
        L"[mood]",
        L"[style]",
        L"[copyright]",
        L"[subtitle]",
        L"[length]",
        L"[length_mmss]",
        L"[length_hhmmss]",
        L"[id_tag]",
        L"[audio_quality]",
        L"[gapless]",
        L"[frequency]",
        L"[channels]",
        L"[channels_subone]",
        L"[bits_per_sample]",
        L"[bytes_per_sample]",
        L"[bitrate]",
        L"[k_bitrate]",
        L"[IFEQUALS]",
        L"[IFVALUE]",
        L"[IF!EQUALS]",
        L"[TAGS]",
        L"[IFCOMP]",
        L"[IF!COMP]",
        L"[IFMULTI]",
        L"[IF!MULTI]",
    };
    const WString text = FromXStr(pattern);
    for (const WString& name : names)
        if (Find(text, name, 0, true) != npos)
            return true;
    return false;
}

XStr ColourMarkNamingTemplate(const XStr& pattern)
{
    static const WString blue = L"_RGB_-RGB-000-000-120";
    static const WString green = L"_RGB_-RGB-000-120-000";
    static const WString black = L"_RGB_-RGB-000-000-000";
    // clang-format off
    static const WString functions[] = {
        L"[]", L"[IFVALUE]", L"[IFEQUALS]", L"[IF!EQUALS]", L"[TAG]", L"[TAGS]", L"[IF]", L"[UPPER]", L"[LOWER]",
        L"[RIGHT]", L"[GRAB]", L"[TRIM]", L"[SETLEN]", L"[IFCOMP]", L"[IF!COMP]", L"[IFMULTI]", L"[IF!MULTI]",
        L"[TRIMFIRSTFOLDER]", L"[TRIMLASTFOLDER]", L"[MAXLENGTH]", L"[FRONTFOLDER]", L"[BACKFOLDER]",
        L"[REPLACE]", L"[WORD]", L"[GROUP]", L"[SPLIT]",
    };
    // clang-format on
    WString text = FromXStr(pattern);
    const auto markField = [&](const Field& field) {
        text = ReplaceAll(text, field.name, blue + field.label + black, true, npos);
    };
    for (const Field& field : kFields)
        for (const wchar_t* origin : kOriginElements)
            if (EqualsNoCase(field.element, origin))
                markField(field);
    for (const Field& field : kFields)
        if (WString(field.name) == L"[extension]")
            markField(field);
    for (const Field& field : kFields)
        markField(field);
    for (const WString& name : functions)
        text = ReplaceAll(text, name, green + name + black, true, npos);
    text = ReplaceAll(text, L"{_._}", L"", false, npos);
    return ToXStr(text);
}

void AddNamingOriginFields(NTag& tags, const XStr& sourcePath)
{
    for (const wchar_t* origin : kOriginElements)
        tags.RemoveTag(origin);
    if (sourcePath.IsEmpty())
        return;
    const XFileName path(sourcePath);
    tags.AddTag(L"origfilename", path.GetFileNameNoExt());
    tags.AddTag(L"origpath", path.GetFolder());
}
