#include "xclass/XListElementValue.h"

#include <cwchar>
#include <string>

XListElementValue::XListElementValue(const wchar_t* text, int start)
{
    // A command line whose program path is quoted: the pairs begin behind the path.
    if (text && text[0] == L'"' && start <= 1) {
        const wchar_t* close = wcschr(text + 1, L'"');
        if (!close)
            return; // nothing but the program
        start = static_cast<int>(close - text) + 2;
    }
    Parse(text, start);
}

XListElementValue::XListElementValue(int argc, const char* const* argv, int start)
{
    FromArgv(argc, argv, start);
}

void XListElementValue::Clear()
{
    Element.Clear();
    Value.Clear();
}

void XListElementValue::Parse(const wchar_t* text, int start)
{
    if (!text) {
        Clear();
        return;
    }
    // Tokenised before Clear: the text may be one of this list's own strings.
    std::wstring_view view(text);
    XStrList tokens;
    if (start <= 1 || static_cast<size_t>(start) <= view.size()) {
        if (start > 1)
            view.remove_prefix(static_cast<size_t>(start - 1));
        tokens.ParseArgs(XStr(view));
    }
    FromArgs(tokens);
}

void XListElementValue::FromArgs(const XStrList& given)
{
    // The tokens may be this list's own names or values.
    const XStrList tokens(given);
    Clear();
    const int64_t n = tokens.Count();
    int64_t i = 0;
    while (i < n) {
        const XStr* token = tokens.Get(i);
        if (!token)
            break;
        const std::wstring_view t = token->View();
        const size_t dash = t.find(L'-');
        if (dash == std::wstring_view::npos)
            break; // a token without "-" ends the option list
        size_t nameStart = dash + 1;
        if (nameStart < t.size() && t[nameStart] == L'-')
            ++nameStart;
        const size_t equals = t.find(L'=', nameStart);
        ++i;
        if (equals != std::wstring_view::npos) {
            Add(XStr(t.substr(nameStart, equals - nameStart)), XStr(t.substr(equals + 1)));
            continue;
        }
        const XStr name(t.substr(nameStart));
        const XStr* next = tokens.Get(i);
        if (next && (next->IsEmpty() || next->p[0] != L'-')) {
            Add(name, *next);
            ++i;
        } else {
            Add(name, XStr());
        }
    }
}

void XListElementValue::FromArgv(int argc, const char* const* argv, int start)
{
    XStrList tokens;
    if (argv) {
        for (int i = start < 0 ? 0 : start; i < argc; ++i)
            tokens.Add(XStr::FromUTF8(argv[i] ? argv[i] : ""));
    }
    FromArgs(tokens);
}

XStr XListElementValue::ToString() const
{
    // Quoted and escaped so that the tokeniser gives the text back as it was.
    const auto appendQuoted = [](std::wstring& out, std::wstring_view text) {
        out += L'"';
        for (const wchar_t c : text) {
            if (c == L'\\' || c == L'"')
                out += L'\\';
            out += c;
        }
        out += L'"';
    };
    std::wstring out;
    const int64_t n = Count();
    for (int64_t i = 0; i < n; ++i) {
        const XStr* name = Element.Get(i);
        const XStr* value = Value.Get(i);
        if (!out.empty())
            out += L' ';
        out += L'-';
        if (name) {
            // A name read from quoted text can hold blanks; written bare, it would come back
            // split into a shorter name and a value.
            const std::wstring_view view = name->View();
            if (view.find_first_of(L" \t\r\n\"\\") == std::wstring_view::npos)
                out += view;
            else
                appendQuoted(out, view);
        }
        if (value && !value->IsEmpty()) {
            out += L'=';
            appendQuoted(out, value->View());
        }
    }
    return XStr(std::wstring_view(out));
}

int64_t XListElementValue::Add(const XStr& name, const XStr& value, uint64_t userData)
{
    const int64_t index = Element.Add(name, userData);
    if (index < 0)
        return -1;
    if (Value.Add(value, userData) < 0) {
        Element.RemoveAt(index);
        return -1;
    }
    return index;
}

void XListElementValue::InsertAt(int64_t index, const XStr& name, const XStr& value)
{
    const int64_t at = Element.InsertAt(index, name);
    if (at < 0)
        return;
    if (Value.InsertAt(at, value) < 0)
        Element.RemoveAt(at);
}

bool XListElementValue::Get(int64_t index, XStr& name, XStr& value) const
{
    const XStr* n = Element.Get(index);
    const XStr* v = Value.Get(index);
    if (!n || !v) {
        name = XStr();
        value = XStr();
        return false;
    }
    name = *n;
    value = *v;
    return true;
}

int64_t XListElementValue::Find(const wchar_t* name, bool ignoreCase) const
{
    int64_t index = -1;
    return Element.Find(name, ignoreCase, &index) ? index : -1;
}

bool XListElementValue::GetValue(const wchar_t* name, XStr& value, bool ignoreCase) const
{
    const XStr* v = Value.Get(Find(name, ignoreCase));
    if (!v) {
        value = XStr();
        return false;
    }
    value = *v;
    return true;
}

void XListElementValue::Assign(const XListElementValue& other)
{
    if (this == &other)
        return;
    Element.Assign(other.Element);
    Value.Assign(other.Value);
}

void XListElementValue::RemoveAt(int64_t index)
{
    if (index < 0 || index >= Count())
        return;
    Element.RemoveAt(index);
    Value.RemoveAt(index);
}
