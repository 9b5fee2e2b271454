// The metadata record of one file: an ordered list of elements, each a name, a text value
// and a block of bytes. The same container holds a file's own tags (title, artist, album
// art) and the media properties read by the probe. Names beginning with "_" are internal
// elements that carry program data; album art is stored as internal elements named
// "_albumart_<number>_<type>[<subdesc><description>]" with the image file bytes as data.
//
// Name comparisons fold A-Z only; value comparisons are exact. Names need not be unique.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xclass/XBuffer.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

struct STInternalTag {
    XStr Name;
    XStr Value;
    XBuffer Data; // empty for text elements

    STInternalTag() = default;
    ~STInternalTag() { Data.Free(); }
    STInternalTag(const STInternalTag&) = delete;
    STInternalTag& operator=(const STInternalTag&) = delete;

    bool HasData() const { return Data.Data && Data.Size > 0; }
    // Replaces the data with a copy of size bytes (none: empty).
    void SetData(const void* bytes, uint64_t size);
};

// The owned element list of a container. Elements are held as pointers so that an element
// found stays where it is until it is removed.
class NTagElements {
public:
    XList lstObjs;                      // STInternalTag*, in order, owned
    STInternalTag* ActiveObj = nullptr; // the element last found or added

    NTagElements() = default;
    ~NTagElements() { Clear(); }
    NTagElements(const NTagElements&) = delete;
    NTagElements& operator=(const NTagElements&) = delete;

    int64_t Count() const { return lstObjs.Count(); }
    STInternalTag* Get(int64_t index) const { return lstObjs.GetPtr<STInternalTag>(index); }
    // A new empty element at position (out of range: at the end); null when memory ran out.
    STInternalTag* Add(int64_t position = -1);
    void RemoveAt(int64_t index);
    void Clear();
};

class NTag {
public:
    uint64_t UserData = 0; // for the owner; neither copied nor serialised
    NTagElements Tags;

    NTag() = default;
    NTag(const NTag& other) { Assign(other); }
    NTag& operator=(const NTag& other)
    {
        Assign(other);
        return *this;
    }

    int64_t Count() const { return Tags.Count(); }
    STInternalTag* TagAt(int64_t index) const { return Tags.Get(index); }

    STInternalTag* AddTag(const wchar_t* name, const wchar_t* value);
    STInternalTag* AddTagData(const wchar_t* name, const void* bytes, uint64_t size);
    STInternalTag* AddTagCopy(const STInternalTag& element);
    // The first element of that name, or null.
    STInternalTag* FindTag(const wchar_t* name) const;
    // The value of the first element of that name; empty when there is none.
    XStr GetValue(const wchar_t* name) const;
    // Replaces the value of the first element of that name (data untouched), or appends one.
    void SetValue(const wchar_t* name, const wchar_t* value);
    // Removes every element of that name; true when one was removed.
    bool RemoveTag(const wchar_t* name);
    // An ordinary name: the first such element's value, and every element of that name goes.
    // An album-art name: the first picture of the same number goes; the result is empty.
    XStr TakeTag(const wchar_t* name);
    // Clear, then copies of the other's elements in order (UserData stays).
    void Assign(const NTag& other);
    void Clear() { Tags.Clear(); }
    // Adds the other's elements that this one lacks (or, with overwrite, takes their contents),
    // then pools the album art of both without duplicates, renumbered 1, 2, ...
    void Merge(const NTag& other, bool overwrite);
    // Removes every "_" element not protected by keepFlags: 2 "_riff_...", 4 "_cd...",
    // 8 "_albumart_...", 0x10 the name "_crc".
    void RemoveInternalTags(uint32_t keepFlags);
    void RemoveDataTags();
    // The first album-art element of picture number n, with its type and description.
    STInternalTag* GetAlbumArt(int n, XStr* type = nullptr, XStr* description = nullptr) const;

    // The raw data form: little-endian int32 count, then per element an int32 length (the
    // whole element including the length field), the name and the value as 16-bit units each
    // followed by a 0 unit, and the data bytes. Characters above U+FFFF are written as
    // surrogate pairs and read back as one character. False (and out emptied) when an element
    // is too large for the format.
    bool ToRawData(XBuffer& out) const;
    // Clears, then reads raw data with every length checked. Returns false when the data is
    // damaged (cut off, a count larger than the data, an element length below 4 or beyond the
    // end, a name or value without its terminator); the complete elements before the damage
    // are kept. No bytes at all read as an empty container.
    bool FromRawData(const void* bytes, uint64_t size);

    // "3/7" -> "03/07", "12" -> "12", nothing (or 0) -> "".
    XStr GetNumberPairDisplay(const wchar_t* name) const;
    // One line per element ("name: value", CR LF between); data elements show their first
    // 100 bytes in hex.
    XStr Dump() const;

    // "_albumart_%i_%s", then "<subdesc>" and the description when there is one.
    static XStr MakeAlbumArtName(int number, const wchar_t* type, const wchar_t* description);
    // The type and description of an album-art name; both empty when it has none.
    static void ParseAlbumArtName(const XStr& name, XStr& type, XStr& description);
    static bool IsAlbumArtName(const wchar_t* name);
};

// "n/m": n from the text (leading blanks, sign, digits), m from the text after the first "/"
// (blanks trimmed); m = 0 without a "/".
void ParseNumberPair(const wchar_t* text, int& n, int& m);
