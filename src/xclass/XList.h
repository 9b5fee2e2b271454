// Growable lists of pointer-sized slots.
//
// XList holds raw pointers or small integers that it does not own. XStrList has the same
// layout but owns the XStr objects its slots point to. XHashedStrList keeps a parallel list
// of 32-bit hashes so that lookups compare strings only where the hashes match.
//
// The first 16 slots live inside the object, so short lists need no heap memory. Lists are
// not locked: owners lock around shared lists. Indexes are 0-based; an index out of range
// makes an operation do nothing (or return false / null).
#pragma once

#include <cstdint>
#include <iterator>

#include "xclass/XStr.h"

struct XBuffer;

class XList {
public:
    // Ordering for Sort: true when a must come before b.
    using LessFunction = bool (*)(uint64_t a, uint64_t b, void* arg);

    uint64_t* Items;          // FirstArray until the first growth, then a heap array; null after Clear
    int64_t _Count;           // slots in use
    int64_t NumAlloced;       // capacity of Items
    int64_t XListAllocAmount; // slots added at the next growth
    uint64_t FirstArray[16];

    XList();
    XList(const XList& other);
    XList(XList&& other) noexcept;
    XList& operator=(const XList& other)
    {
        Assign(other);
        return *this;
    }
    XList& operator=(XList&& other) noexcept;
    ~XList();

    int64_t Count() const { return _Count; }
    bool IsEmpty() const { return _Count == 0; }

    // The slot at index, or 0 when out of range.
    uint64_t Get(int64_t index) const { return index >= 0 && index < _Count ? Items[index] : 0; }
    template <typename T>
    T* GetPtr(int64_t index) const
    {
        return reinterpret_cast<T*>(static_cast<uintptr_t>(Get(index)));
    }
    // Unchecked access.
    uint64_t& operator[](int64_t index) { return Items[index]; }
    uint64_t operator[](int64_t index) const { return Items[index]; }

    // Appends; returns the new index, or -1 when memory ran out.
    int64_t Add(uint64_t item);
    template <typename T>
    int64_t Add(T* item)
    {
        return Add(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(item)));
    }
    // Inserts before index; an index below 0 or at least Count appends. Returns the index used, or -1.
    int64_t InsertAt(int64_t index, uint64_t item);
    template <typename T>
    int64_t InsertAt(int64_t index, T* item)
    {
        return InsertAt(index, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(item)));
    }
    void Set(int64_t index, uint64_t item)
    {
        if (index >= 0 && index < _Count)
            Items[index] = item;
    }

    void RemoveAt(int64_t index);
    // Removes every slot equal to value, keeping the order; returns how many were removed.
    int64_t RemoveAll(uint64_t value);
    // Empties the list and frees the heap array (Items null, capacity 0).
    void Clear();

    // True and the first index (when index is given) of a slot equal to item.
    bool Find(uint64_t item, int64_t* index = nullptr) const;
    template <typename T>
    bool Find(T* item, int64_t* index = nullptr) const
    {
        return Find(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(item)), index);
    }

    // Frees the own heap array, then copies other (a heap array of count + 32 slots; null when empty).
    void Assign(const XList& other);
    // Adds XListAllocAmount slots; the step then doubles up to 500000. False when memory ran out.
    bool Grow();
    // Makes the capacity n when it is smaller.
    void Reserve(int64_t n);
    // Quicksort of the slots first..last (-1: the whole list). The order of equal slots is not kept.
    void Sort(LessFunction less, void* arg = nullptr, int64_t first = -1, int64_t last = -1);

protected:
    bool EnsureRoom();
    void FreeArray();
    void CopySlots(const XList& other, bool inlineWhenSmall);
    void TakeFrom(XList& other);
};

// Owning list of XStr. A slot is null only between Free and the next Compact.
class XStrList : private XList {
public:
    using XList::_Count;
    using XList::Count;
    using XList::FirstArray;
    using XList::IsEmpty;
    using XList::Items;
    using XList::NumAlloced;
    using XList::Reserve;
    using XList::XListAllocAmount;

    XStrList() = default;
    XStrList(const XStrList& other);
    XStrList(XStrList&& other) noexcept;
    // Split(text, separator).
    XStrList(const wchar_t* text, const wchar_t* separator);
    XStrList& operator=(const XStrList& other)
    {
        Assign(other);
        return *this;
    }
    XStrList& operator=(XStrList&& other) noexcept;
    ~XStrList();

    // The string at index, or null when out of range (or freed).
    XStr* Get(int64_t index) const
    {
        return index >= 0 && index < _Count ? reinterpret_cast<XStr*>(Items[index]) : nullptr;
    }
    // Unchecked access to a string that must exist.
    XStr& operator[](int64_t index) const { return *reinterpret_cast<XStr*>(Items[index]); }

    // Appends a copy of text (null: empty) with the given UserData; returns the new index or -1.
    int64_t Add(const wchar_t* text, uint64_t userData = 0);
    // Appends a copy of the whole string (embedded zero characters included).
    int64_t Add(const XStr& text, uint64_t userData = 0);
    int64_t InsertAt(int64_t index, const wchar_t* text);
    int64_t InsertAt(int64_t index, const XStr& text);
    // Adds each string of other with its UserData; without allowDuplicates a string already
    // present (compared with ignoreCase) is skipped.
    void Append(const XStrList& other, bool allowDuplicates = true, bool ignoreCase = false);
    // Clear, then Append(other). Assigning a list to itself keeps it as it is.
    void Assign(const XStrList& other);

    bool Find(const wchar_t* text, bool ignoreCase = false, int64_t* index = nullptr) const;

    void RemoveAt(int64_t index);
    // Deletes the string and leaves a null slot until Compact.
    void Free(int64_t index);
    void Compact();
    // Deletes every string equal to text, then compacts.
    void Remove(const wchar_t* text, bool ignoreCase = false);
    // Deletes every string and frees the heap array.
    void Clear();

    void Sort(bool ignoreCase = false);
    // The order of file lists: digit runs compare by value.
    void SortNatural();

    // The strings with separator between them; a null separator gives the empty string.
    XStr Join(const wchar_t* separator) const;
    // Clear, then the fields between occurrences of separator (empty fields kept; a text
    // ending in the separator gives a final empty field). Null or empty arguments add nothing.
    void Split(const wchar_t* text, const wchar_t* separator);
    void Split(const XStr& text, const wchar_t* separator);
    // Clear, then one string per line; lines end at CR, LFs right after a CR are skipped.
    void SplitLines(const wchar_t* text);
    void SplitLines(const XStr& text);
    // Clear, then the command-line tokens of text: blanks (U+0020 only) separate, double
    // quotes group and are dropped, a backslash takes the next character literally.
    void ParseArgs(const wchar_t* text);
    void ParseArgs(const XStr& text);
    // Clear, the program, then the tokens of args.
    void SetCommandLine(const wchar_t* program, const wchar_t* args);
    // Each string through XQuoteArgument, joined by one blank: ParseArgs gives the list back.
    XStr ToCommandLine() const;

    // Multi-string block: each string followed by a 0 unit, an empty string written as
    // "[Empty]", an extra 0 at the end. Mode 0 or 1: 32-bit units; 2 or more: Windows-1252 bytes.
    void ToMultiString(XBuffer& out, int mode) const;
    // Clear, then the strings of a multi-string block of byteLength bytes. A non-zero separator
    // ends strings as 0 does. Reading stops at the first empty string unless skipEmpty.
    void FromMultiString(const void* data, uint64_t byteLength, int mode, uint32_t separator = 0,
                         bool skipEmpty = false);

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = XStr;
        using difference_type = std::ptrdiff_t;
        using pointer = XStr*;
        using reference = XStr&;
        explicit const_iterator(const uint64_t* slot) : m_slot(slot) {}
        XStr& operator*() const { return *reinterpret_cast<XStr*>(*m_slot); }
        XStr* operator->() const { return reinterpret_cast<XStr*>(*m_slot); }
        const_iterator& operator++()
        {
            ++m_slot;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_slot;
            return old;
        }
        bool operator==(const const_iterator& other) const { return m_slot == other.m_slot; }
        bool operator!=(const const_iterator& other) const { return m_slot != other.m_slot; }

    private:
        const uint64_t* m_slot;
    };
    // Iteration over the strings (the list must not hold freed slots).
    const_iterator begin() const { return const_iterator(Items); }
    const_iterator end() const { return const_iterator(Items + _Count); }

private:
    void DeleteStrings();
    void AppendTokens(std::wstring_view text);
    void SplitView(std::wstring_view text, std::wstring_view separator);
    void SplitLinesView(std::wstring_view text);
};

// String list with a parallel list of hashes (CRC-32 of the upper-cased string) for fast Find.
class XHashedStrList {
public:
    XStrList Strings;
    XList Hashes; // slot i: hash of string i

    XHashedStrList() = default;
    XHashedStrList(const XHashedStrList& other);
    XHashedStrList& operator=(const XHashedStrList& other)
    {
        Assign(other);
        return *this;
    }

    int64_t Count() const { return Strings.Count(); }
    XStr* Get(int64_t index) const { return Strings.Get(index); }
    XStr& operator[](int64_t index) const { return Strings[index]; }

    int64_t Add(const wchar_t* text, uint64_t userData = 0);
    int64_t Add(const XStr& text, uint64_t userData = 0);
    int64_t InsertAt(int64_t index, const wchar_t* text);
    void RemoveAt(int64_t index);
    // Frees the string only; the hash slot stays until Compact.
    void Free(int64_t index);
    void Compact();
    void Remove(const wchar_t* text, bool ignoreCase = false);
    void Clear();

    void Append(const XStrList& other, bool allowDuplicates = true, bool ignoreCase = false);
    void Append(const XHashedStrList& other, bool allowDuplicates = true, bool ignoreCase = false);
    void Assign(const XHashedStrList& other);
    void Sort(bool ignoreCase = false);
    void Split(const wchar_t* text, const wchar_t* separator);
    void FromMultiString(const void* data, uint64_t byteLength, int mode, uint32_t separator = 0);

    // False when Strings and Hashes differ in count.
    bool Find(const wchar_t* text, bool ignoreCase = false, int64_t* index = nullptr) const;
    // Brings Hashes to the count of Strings and recomputes every hash.
    void Rehash();

    // CRC-32 (zlib polynomial) over the 4-byte little-endian units of the A-Z folded text; "" gives 0.
    static uint32_t Hash(const wchar_t* text);

private:
    int64_t AddHashFor(int64_t index);
};
