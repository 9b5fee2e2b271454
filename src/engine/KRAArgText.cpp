#include "engine/KRAArgText.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "xclass/XFormat.h"

std::vector<KRAArgItem> parseArgItems(const XStr& text)
{
    XStrList tokens;
    tokens.ParseArgs(text);
    std::vector<KRAArgItem> items;
    const int64_t n = tokens.Count();
    for (int64_t i = 0; i < n; ++i) {
        const std::wstring_view t = tokens[i].View();
        if (t.empty() || t[0] != L'-') {
            // A word that belongs to no element stays where it is.
            items.push_back(KRAArgItem{false, XStr(t), XStr()});
            continue;
        }
        size_t nameStart = 1;
        if (nameStart < t.size() && t[nameStart] == L'-')
            ++nameStart;
        const size_t equals = t.find(L'=', nameStart);
        if (equals != std::wstring_view::npos) {
            items.push_back(
                KRAArgItem{true, XStr(t.substr(nameStart, equals - nameStart)), XStr(t.substr(equals + 1))});
            continue;
        }
        KRAArgItem item{true, XStr(t.substr(nameStart)), XStr()};
        if (i + 1 < n) {
            const XStr& next = tokens[i + 1];
            if (next.IsEmpty() || next.p[0] != L'-') {
                item.value = next;
                ++i;
            }
        }
        items.push_back(std::move(item));
    }
    return items;
}

XStr quoteArgValue(const XStr& value)
{
    if (value.IsEmpty())
        return XStr(L"\"\"");
    bool wrap = false;
    std::wstring out;
    for (wchar_t c : value.View()) {
        if (c == L' ' || c == L',')
            wrap = true;
        if (c == L'"' || c == L'\\')
            out += L'\\';
        out += c;
    }
    if (wrap)
        out = L"\"" + out + L"\"";
    return XStr(std::wstring_view(out));
}

XStr writeArgItems(const std::vector<KRAArgItem>& items)
{
    XStr out;
    for (const KRAArgItem& item : items) {
        if (!out.IsEmpty())
            out += L" ";
        if (!item.isElement) {
            out += quoteArgValue(item.name);
            continue;
        }
        out += L"-";
        // A name is written as it was read; one that could not be read back as one word is
        // escaped like a value (without the wrapping, which would hide the leading "-").
        for (wchar_t c : item.name.View()) {
            if (c == L'"' || c == L'\\' || c == L' ')
                out.CatChar(L'\\');
            out.CatChar(c);
        }
        if (!item.value.IsEmpty()) {
            out += L" ";
            out += quoteArgValue(item.value);
        }
    }
    return out;
}

static bool SameName(const XStr& a, const wchar_t* b)
{
    return XStrCompare(a, b, 0, true) == 0;
}

std::vector<XStr> pullArgumentValues(const wchar_t* name, XStr& args)
{
    std::vector<KRAArgItem> items = parseArgItems(args);
    std::vector<XStr> values;
    std::vector<KRAArgItem> kept;
    for (KRAArgItem& item : items) {
        if (item.isElement && SameName(item.name, name)) {
            if (!item.value.IsEmpty())
                values.push_back(std::move(item.value));
            continue;
        }
        kept.push_back(std::move(item));
    }
    args = writeArgItems(kept);
    return values;
}

XStr pullArgument(const wchar_t* name, XStr& args)
{
    XStr joined;
    for (const XStr& value : pullArgumentValues(name, args)) {
        if (!joined.IsEmpty())
            joined += L", ";
        joined += value;
    }
    return joined;
}

XStr mergeArgument(const wchar_t* name, const XStr& args)
{
    std::vector<KRAArgItem> items = parseArgItems(args);
    std::vector<KRAArgItem> kept;
    int64_t first = -1;
    for (KRAArgItem& item : items) {
        if (item.isElement && SameName(item.name, name)) {
            if (first < 0) {
                first = static_cast<int64_t>(kept.size());
                kept.push_back(std::move(item));
            } else if (!item.value.IsEmpty()) {
                XStr& value = kept[static_cast<size_t>(first)].value;
                if (!value.IsEmpty())
                    value += L", ";
                value += item.value;
            }
            continue;
        }
        kept.push_back(std::move(item));
    }
    return writeArgItems(kept);
}

namespace {

// The length of ffmpeg's context prefix at the start of a line: up to two "[name @ address] "
// groups, the parent object's and the object's own.
size_t ContextPrefixLength(std::wstring_view line)
{
    size_t pos = 0;
    for (int group = 0; group < 2 && pos < line.size() && line[pos] == L'['; ++group) {
        const size_t close = line.find(L"] ", pos);
        if (close == std::wstring_view::npos || line.substr(pos, close - pos).find(L" @ ") == std::wstring_view::npos)
            break;
        pos = close + 2;
    }
    return pos;
}

// True when ffmpeg tagged the line as information or a warning: the level tag comes right
// after the context prefix. Anywhere else the same text is part of the message (a file
// name, say) and says nothing about the line.
bool HasNoErrorLevel(const XStr& line)
{
    const std::wstring_view rest = line.View().substr(ContextPrefixLength(line.View()));
    for (const wchar_t* tag : {L"[info]", L"[warning]"}) {
        const size_t length = wcslen(tag);
        if (rest.size() >= length && XStrCompare(XStr(rest.substr(0, length)), tag, 0, true) == 0)
            return true;
    }
    return false;
}

// The length of ffmpeg's level tag ("[error] ") right after the context prefix; 0 when the
// line has none.
size_t LevelTagLength(std::wstring_view rest)
{
    for (const wchar_t* tag : {L"[quiet] ", L"[panic] ", L"[fatal] ", L"[error] ", L"[warning] ", L"[info] ",
                               L"[verbose] ", L"[debug] ", L"[trace] "}) {
        const size_t length = wcslen(tag);
        if (rest.size() >= length && XStrCompare(XStr(rest.substr(0, length)), tag, 0, true) == 0)
            return length;
    }
    return 0;
}

} // namespace

bool hasFFmpegLevelTag(const XStr& line)
{
    XStr trimmed = line;
    trimmed.TrimLeft();
    trimmed.TrimRight();
    trimmed += L" "; // a tag alone on its line
    const std::wstring_view view = trimmed.View();
    return LevelTagLength(view.substr(ContextPrefixLength(view))) > 0;
}

bool filterErrorLine(XStr& line, const std::vector<XStr>& paths)
{
    line.TrimLeft();
    line.TrimRight();
    if (line.IsEmpty() || HasNoErrorLevel(line))
        return false;
    // The tag has decided; the user reads the message as ffmpeg gives it without levels.
    {
        const std::wstring_view view = line.View();
        const size_t prefix = ContextPrefixLength(view);
        const size_t tag = LevelTagLength(view.substr(prefix));
        if (tag > 0)
            line = XStr(std::wstring(view.substr(0, prefix)) + std::wstring(view.substr(prefix + tag)).c_str());
    }
    // The known noise is recognised in the message without the run's own file names, so that
    // a name holding one of these texts never hides an error about that file.
    XStr message = line;
    std::vector<XStr> longestFirst = paths;
    std::sort(longestFirst.begin(), longestFirst.end(),
              [](const XStr& a, const XStr& b) { return a.Length() > b.Length(); });
    for (const XStr& path : longestFirst) {
        if (!path.IsEmpty())
            message.Replace(path, L"");
    }
    if (message.EndsWith(L"Metal API Validation Enabled") || message.EndsWith(L"Zero Metal services found"))
        return false;
    if (message.Find(L" GVA info:") > 0)
        return false;
    static const wchar_t* const droppedNoCase[] = {L"Referenced QT chapter track not found",
                                                   L"co located POCs unavailable", L"unable to decode APP fields",
                                                   L"invalidating cache"};
    for (const wchar_t* text : droppedNoCase) {
        if (message.Find(text, 1, true) > 0)
            return false;
    }
    if (message.BeginsWith(L"encoded ", true))
        return false;
    if (message.Find(L"cannot load nvcuda.dll", 1, true) > 0)
        line = XStr(L"Error: compatible Nvidia GPU not found, or Nvidia drivers not installed");
    return true;
}

namespace {

// The options of ffmpeg's own that take no value. Each switch among them may also be given
// as "-noNAME"; "autorotate" and "autoscale" take a value, but not in their "-no" form. Every
// other option, an encoder's or a format's included, takes the next word as its value,
// whatever that word is.
// clang-format off
const wchar_t* const kSwitches[] = {L"accurate_seek", L"an", L"auto_conversion_filters", L"benchmark", L"benchmark_all",
    L"bitexact", L"copy_unknown", L"copyinkf", L"copyts", L"debug_ts", L"dn", L"dump", L"find_stream_info",
    L"fix_sub_duration", L"force_fps", L"hex", L"hide_banner", L"ignore_unknown", L"n", L"psnr", L"qphist", L"re",
    L"recast_media", L"shortest", L"sn", L"start_at_zero", L"stats", L"stdin", L"vn", L"xerror", L"y"};
// clang-format on
const wchar_t* const kOtherOptionsWithoutValue[] = {L"report", L"vstats"};
const wchar_t* const kSwitchesWithValue[] = {L"autorotate", L"autoscale"};

template <size_t N>
bool NameIn(std::wstring_view name, const wchar_t* const (&names)[N])
{
    return std::any_of(std::begin(names), std::end(names), [&](const wchar_t* n) { return name == n; });
}

} // namespace

bool ffmpegOptionTakesValue(const XStr& option)
{
    std::wstring_view name = option.View();
    if (name.empty() || name[0] != L'-')
        return false;
    name.remove_prefix(1);
    name = name.substr(0, name.find(L':')); // "-an:0" is "-an" for a stream
    if (NameIn(name, kSwitches) || NameIn(name, kOtherOptionsWithoutValue))
        return false;
    if (name.size() > 2 && name.substr(0, 2) == L"no") {
        const std::wstring_view negated = name.substr(2);
        if (NameIn(negated, kSwitches) || NameIn(negated, kSwitchesWithValue))
            return false;
    }
    return true;
}

std::optional<XStr> findOutputWord(const XStrList& tokens)
{
    const int64_t n = tokens.Count();
    for (int64_t i = 0; i < n; ++i) {
        const XStr& word = tokens[i];
        if (word == L"--") // the word after it, or, at the end, whatever follows the list
            return i + 1 < n ? tokens[i + 1] : word;
        if (word.Length() < 2 || word.p[0] != L'-') // "-" alone is standard output
            return word;
        if (ffmpegOptionTakesValue(word))
            ++i;
    }
    return std::nullopt;
}

XStr formatTrimTime(int64_t ms)
{
    return XFormatDuration(ms < 0 ? 0 : ms, 3);
}
