// The path text of XFileName: parts, editing, the file-name sanitiser, home-folder
// shorthand, fitting a name to the path limit, and wildcard masks. What works on the files
// a path names lives in XFileTree.cpp.
#include "xclass/XFileName.h"
#include "xclass/XEnvironment.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

// Bytes of one character in the lossless UTF-8 form (see XAppendUTF8).
size_t U8Len(wchar_t ch)
{
    const auto c = static_cast<uint32_t>(ch);
    if (c < 0x80 || (c >= 0xDC80 && c <= 0xDCFF))
        return 1;
    if (c < 0x800)
        return 2;
    if (c < 0x10000)
        return 3;
    if (c < 0x200000)
        return 4;
    if (c < 0x4000000)
        return 5;
    return c <= 0x7FFFFFFF ? 6 : 0;
}

size_t U8Len(const std::wstring& text)
{
    size_t n = 0;
    for (wchar_t c : text)
        n += U8Len(c);
    return n;
}

// The longest prefix of text that takes at most maxBytes in UTF-8: names are cut between
// characters, never inside one.
std::wstring CutToBytes(const std::wstring& text, size_t maxBytes)
{
    size_t bytes = 0;
    size_t i = 0;
    for (; i < text.size(); i++) {
        const size_t n = U8Len(text[i]);
        if (bytes + n > maxBytes)
            break;
        bytes += n;
    }
    return text.substr(0, i);
}

inline wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

std::string SystemTempFolder()
{
    const std::string tmp = XGetEnv("TMPDIR");
    return tmp.empty() ? std::string("/tmp") : tmp;
}

// Path parts and editing over a separator: "/" for paths, "\" for Windows-style text.
XFileName NameAfterLast(const XFileName& path, wchar_t separator)
{
    const int at = path.ReverseFindChar(separator);
    return at ? XFileName(path.MidToEnd(at + 1)) : XFileName(path);
}

XFileName FolderUpToLast(const XFileName& path, wchar_t separator)
{
    const int at = path.ReverseFindChar(separator);
    return at ? XFileName(path.Left(at)) : XFileName(path);
}

void AppendComponent(XFileName& path, const wchar_t* component, wchar_t separator)
{
    if (!component)
        return;
    while (*component == separator)
        component++;
    const XStr part(component); // component may point into path
    if (path.IsEmpty() || path.p[path.Length() - 1] != separator)
        path.CatChar(separator);
    path.XStr::Append(part.p);
}

} // namespace

// =============================================================================================
// XFileName: parts

XFileName XFileName::GetExtension() const
{
    const int dot = ReverseFindChar(L'.');
    if (dot > 0 && dot > ReverseFindChar(L'/'))
        return XFileName(Mid(dot, Length()));
    return XFileName(L".");
}

XFileName XFileName::GetFileName() const
{
    return NameAfterLast(*this, L'/');
}

XFileName XFileName::GetWithoutExtension() const
{
    const int dot = ReverseFindChar(L'.');
    return dot ? XFileName(Left(dot - 1)) : XFileName(*this);
}

XFileName XFileName::GetFileNameNoExt() const
{
    return GetFileName().GetWithoutExtension();
}

XFileName XFileName::GetFolder() const
{
    return FolderUpToLast(*this, L'/');
}

int XFileName::FindLastSlash(int start) const
{
    return ReverseFindChar(L'/', start);
}

bool XFileName::HasWildcard() const
{
    return FindChar(L'*') != 0 || FindChar(L'?') != 0;
}

bool XFileName::IsHidden() const
{
    const XFileName name = GetFileName();
    return !name.IsEmpty() && name.p[0] == L'.';
}

bool XFileName::IsInAutoAddFolder() const
{
    return Find(L"/Automatically Add to iTunes.localized/") != 0;
}

int XFileName::SkipLeadingSlashes() const
{
    int i = 0;
    while (i < Length() && p[i] == L'/')
        i++;
    // i + 1 is the position of the first other character; the result lies behind it.
    return i + 2;
}

bool XFileName::MatchMask(const wchar_t* mask) const
{
    return XMatchMask(p, mask);
}

// =============================================================================================
// XFileName: editing

void XFileName::AddTrailingSlash()
{
    EnsureTrailingChar(L'/');
}

void XFileName::RemoveTrailingSlash()
{
    TrimRightChar(L'/');
}

void XFileName::AppendPath(const wchar_t* component)
{
    AppendComponent(*this, component, L'/');
}

XFileName XFileName::Join(const wchar_t* base, const wchar_t* component)
{
    XFileName result(base ? base : L"");
    result.AppendPath(component);
    return result;
}

XFileName XFileName::Append(const wchar_t* text)
{
    if (text) {
        const XStr copy(text);
        XStr::Append(copy.p);
    }
    return *this;
}

XFileName XFileName::AppendString(const XStr& text)
{
    return Append(text.p);
}

XFileName XFileName::AppendText(const wchar_t* text)
{
    return Append(text);
}

XFileName XFileName::Concat(const wchar_t* text, const wchar_t* tail)
{
    XFileName result(text ? text : L"");
    result.Append(tail);
    return result;
}

void XFileName::ReplaceSlashes(wchar_t ch)
{
    for (int i = 0; i < Length(); i++)
        if (p[i] == L'/')
            p[i] = ch;
}

void XFileName::Quote()
{
    InsertChar(L'"', 1);
    CatChar(L'"');
}

void XFileName::StripLeadingDots()
{
    std::wstring out;
    for (int i = 0; i < Length(); i++) {
        if (p[i] == L'.' && (out.empty() || out.back() == L'/'))
            continue;
        out += p[i];
    }
    if (static_cast<int>(out.size()) != Length())
        *this = XStr(std::wstring_view(out));
}

XFileName XFileName::PopLastComponent(bool remove)
{
    int lead = 0;
    while (lead < Length() && p[lead] == L'/')
        lead++;
    if (Length() - lead < 2)
        return XFileName();
    const bool trailing = p[Length() - 1] == L'/';
    TrimRightChar(L'/');
    const int slash = ReverseFindChar(L'/');
    if (slash) {
        XFileName result(MidToEnd(slash + 1));
        if (remove)
            SetLength(slash);
        else if (trailing)
            CatChar(L'/');
        return result;
    }
    if (trailing && !remove)
        CatChar(L'/');
    return XFileName();
}

void XFileName::MakeValid(bool limitTo1024, const wchar_t* pairs, bool keepSlashes, bool isPath)
{
    static const wchar_t kDefaultPairs[] = {L'/', L'-', 0};
    if (!pairs)
        pairs = kDefaultPairs;
    const int length = Length();

    // 1. The extension dot: the last "." behind the last "/".
    int lastSlash = -1, lastDot = -1;
    for (int i = 0; i < length; i++) {
        if (p[i] == L'/')
            lastSlash = i;
        else if (p[i] == L'.')
            lastDot = i;
    }
    const int extensionDot = lastDot > lastSlash ? lastDot : -1;

    // 2. Characters.
    std::wstring mapped;
    mapped.reserve(static_cast<size_t>(length));
    int i = 0;
    if (isPath)
        while (i < length && p[i] == L'/')
            mapped += p[i++];
    for (; i < length; i++) {
        const wchar_t c = p[i];
        if ((keepSlashes && c == L'/') || i == extensionDot) {
            mapped += c;
            continue;
        }
        const wchar_t* replacement = nullptr;
        for (const wchar_t* pair = pairs; pair[0] && pair[1]; pair += 2)
            if (pair[0] == c) {
                replacement = pair + 1;
                break;
            }
        if (replacement) {
            if (*replacement == L'*')
                continue;
            mapped += static_cast<uint32_t>(*replacement) <= 30 ? L'_' : *replacement;
            continue;
        }
        mapped += static_cast<uint32_t>(c) <= 30 ? L'_' : c;
    }

    // 3. Root and components.
    size_t pos = 0;
    if (isPath)
        while (pos < mapped.size() && mapped[pos] == L'/')
            pos++;
    std::wstring out = mapped.substr(0, pos);
    std::vector<std::wstring> components;
    for (;;) {
        const size_t slash = mapped.find(L'/', pos);
        components.push_back(mapped.substr(pos, slash == std::wstring::npos ? std::wstring::npos : slash - pos));
        if (slash == std::wstring::npos)
            break;
        pos = slash + 1;
    }
    while (components.size() > 1 && components.back().empty())
        components.pop_back();

    // 4. Each component: fitted to the file system, cut, without leading dots and blanks.
    for (size_t k = 0; k < components.size(); k++) {
        std::wstring component = components[k];
        const bool last = k + 1 == components.size();
        if (isPath && !component.empty()) {
            XStr name{std::wstring_view(component)};
            const XStr folder = out.empty() ? XStr(L".") : XStr(std::wstring_view(out));
            if (XFitNameToPathLimit(name, last, folder.p))
                component.assign(name.p, static_cast<size_t>(name.Length()));
        }
        if (U8Len(component) >= 250) {
            const size_t dot = last ? component.rfind(L'.') : std::wstring::npos;
            const std::wstring extension = dot == std::wstring::npos ? std::wstring() : component.substr(dot);
            const size_t extensionBytes = U8Len(extension);
            if (!extension.empty() && extensionBytes + 1 < 250)
                component = CutToBytes(component.substr(0, dot), 250 - (extensionBytes + 1)) + extension;
            else
                component = CutToBytes(component, last ? 248 : 249);
        }
        if (!component.empty()) {
            const size_t keep = component.find_first_not_of(L". ");
            component = keep == std::wstring::npos ? std::wstring(L"_") : component.substr(keep);
        }
        out += component;
        if (!last)
            out += L'/';
    }

    // 5. The whole path within the path limit: shorten the name, then the folders above it.
    if (limitTo1024) {
        constexpr size_t kMaxPathBytes = PATH_MAX - 1;
        size_t bytes = U8Len(out);
        while (bytes > kMaxPathBytes) {
            const size_t slash = out.rfind(L'/');
            if (slash == std::wstring::npos)
                break;
            const size_t dot = out.rfind(L'.');
            const size_t e = (dot != std::wstring::npos && dot > slash) ? dot : out.size() - 1;
            const size_t between = e > slash ? e - slash - 1 : 0;
            size_t victim;
            if (between >= 61 || slash == 0)
                victim = e > slash + 1 ? e - 1 : out.size() - 1;
            else
                victim = slash - 1;
            bytes -= U8Len(out[victim]);
            out.erase(victim, 1);
        }
    }

    // 6. No "//" behind the leading slashes, no trailing "/".
    size_t lead = 0;
    while (lead < out.size() && out[lead] == L'/')
        lead++;
    std::wstring result = out.substr(0, lead);
    for (size_t k = lead; k < out.size(); k++) {
        if (out[k] == L'/' && !result.empty() && result.back() == L'/' && result.size() > lead)
            continue;
        result += out[k];
    }
    if (result.size() > 1 && result.size() > lead && result.back() == L'/')
        result.pop_back();
    *this = XStr(std::wstring_view(result));
}

bool XFileName::ExpandHome()
{
    bool homeSet = false;
    const std::string home = XGetEnv("HOME", &homeSet);
    if (!homeSet)
        return false;
    const XStr homeText = XStr::FromUTF8(home);
    if (*this == L"~") {
        *this = homeText;
        return true;
    }
    if (!BeginsWith(L"~/"))
        return false;
    XFileName result(homeText);
    result.AppendPath(MidToEnd(3).p);
    if (Length() == 2)
        result.AddTrailingSlash();
    *this = result;
    return true;
}

bool XFileName::CollapseHome()
{
    bool homeSet = false;
    const std::string home = XGetEnv("HOME", &homeSet);
    if (!homeSet)
        return false;
    XFileName homeText(XStr::FromUTF8(home));
    homeText.RemoveTrailingSlash();
    if (homeText.IsEmpty())
        return false;
    if (*this == homeText) {
        *this = L"~";
        return true;
    }
    homeText.CatChar(L'/');
    if (!BeginsWith(homeText.p))
        return false;
    const XStr rest = MidToEnd(homeText.Length() + 1);
    *this = L"~/";
    XStr::Append(rest.p);
    return true;
}

bool XFileName::MakeRealPath()
{
    const XFileName saved(*this);
    ExpandHome();
    if (FindChar(L'/') == 0)
        Insert(L"./", 1);
    char* resolved = realpath(ToUTF8String().c_str(), nullptr);
    if (!resolved) {
        const int err = errno;
        *this = saved;
        errno = err;
        return false;
    }
    *this = XStr::FromUTF8(resolved);
    free(resolved);
    return true;
}

XFileName XFileName::GetFileNameWin() const
{
    return NameAfterLast(*this, L'\\');
}

int XFileName::FindLastBackslash(int start) const
{
    return ReverseFindChar(L'\\', start);
}

XFileName XFileName::GetFolderWin() const
{
    return FolderUpToLast(*this, L'\\');
}

void XFileName::AddTrailingBackslash()
{
    EnsureTrailingChar(L'\\');
}

void XFileName::RemoveTrailingBackslash()
{
    TrimRightChar(L'\\');
}

void XFileName::AppendPathWin(const wchar_t* component)
{
    AppendComponent(*this, component, L'\\');
}
// =============================================================================================
// Free functions

bool XFitNameToPathLimit(XStr& name, bool keepExtension, const wchar_t* folder)
{
    XFileName base(name);
    XStr extension;
    if (keepExtension) {
        const XFileName ext = base.GetExtension();
        if (!(ext == L".")) {
            extension = ext;
            base.SetLength(base.Length() - ext.Length());
        }
    }
    const XStr folderText = folder ? XStr(folder) : XStr::FromUTF8(SystemTempFolder());
    bool shortened = false;
    for (;;) {
        // One character more than the final name: room for callers that add one.
        XFileName path = XFileName::Join(folderText.p, base.p);
        path.CatChar(L'_');
        path += extension;
        struct stat st;
        errno = 0;
        if (lstat(path.ToUTF8String().c_str(), &st) == 0 || errno != ENAMETOOLONG)
            break;
        if (base.Length() <= 1)
            return false;
        base.SetLength(base.Length() - 1);
        shortened = true;
    }
    if (shortened) {
        base += extension;
        name = base;
    }
    return true;
}

bool XMatchMask(const wchar_t* name, const wchar_t* mask)
{
    if (!name || !mask)
        return false;
    // Greedy walk with one back-track point: the last "*" takes one character more each time
    // the rest fails, which is the same as trying runs from the shortest up.
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name) {
        if (*mask == L'*') {
            star = mask++;
            resume = name;
        } else if (*mask == L'?' || (*mask && FoldAscii(*mask) == FoldAscii(*name))) {
            mask++;
            name++;
        } else if (star) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == L'*')
        mask++;
    return *mask == 0;
}
