// Ordered (element, value) pairs with a one-line text form: -name="value" entries separated
// by blanks. Option sets for the external tools and parts of conversion profiles are stored
// this way. Names may repeat; lookups find the first pair of a name.
//
// Text form: "-" and the name, then, only when the value is not empty, "=" and the value
// between double quotes, a backslash before each "\" and double quote of the value. The
// reader tokenises like XStrList::ParseArgs, so older texts without escapes read as before.
#pragma once

#include <cstdint>

#include "xclass/XList.h"
#include "xclass/XStr.h"

class XListElementValue {
public:
    XStrList Element; // names, without the leading "-"
    XStrList Value;   // values, parallel to Element ("" when a name has no value)

    XListElementValue() = default;
    // Parse(text, start). A command line whose program path is quoted is read from behind the
    // path's closing quote ("\"/usr/bin/prog\" -a=1" gives (a, 1)).
    explicit XListElementValue(const wchar_t* text, int start = 1);
    // FromArgv(argc, argv, start).
    XListElementValue(int argc, const char* const* argv, int start);
    XListElementValue(const XListElementValue& other) = default; // strings and UserData
    XListElementValue& operator=(const XListElementValue& other)
    {
        Assign(other);
        return *this;
    }

    int64_t Count() const { return Element.Count(); }

    // Clears, tokenises text from the 1-based position start (<= 0: from the beginning; beyond
    // the end: nothing) and reads the tokens.
    void Parse(const wchar_t* text, int start = 1);
    // Clears and reads tokens: "-name=value", "-name value" (when value does not begin with
    // "-"), or "-name"; "--name" is read as "-name". A token without "-" ends reading.
    void FromArgs(const XStrList& tokens);
    // The tokens argv[start] .. argv[argc - 1], each decoded as UTF-8.
    void FromArgv(int argc, const char* const* argv, int start);
    XStr ToString() const;

    // Appends a pair; userData goes to both strings. Returns the new index.
    int64_t Add(const XStr& name, const XStr& value, uint64_t userData = 0);
    // Inserts a pair before index (out of range: appends).
    void InsertAt(int64_t index, const XStr& name, const XStr& value);
    // True with the pair at index; false with both outputs emptied when out of range.
    bool Get(int64_t index, XStr& name, XStr& value) const;
    // Index of the first pair of that name (A-Z folded when ignoreCase), or -1.
    int64_t Find(const wchar_t* name, bool ignoreCase = false) const;
    bool Exists(const wchar_t* name, bool ignoreCase = false) const { return Find(name, ignoreCase) != -1; }
    // True with the value of the first pair of that name; false and an empty value when missing.
    bool GetValue(const wchar_t* name, XStr& value, bool ignoreCase = false) const;
    void Assign(const XListElementValue& other);
    void RemoveAt(int64_t index);
    void Clear();
};
