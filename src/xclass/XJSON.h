// XJSON: the library's JSON. A small tree of heap values, a writer with one fixed indented
// layout (the registry store and the batch profiles are written in it, so it must not
// change), a forgiving recursive-descent parser and file helpers.
//
// Ownership: a container owns its items and member values. Parse, Clone and the file
// readers return a new tree the caller deletes; setters and adders take ownership of the
// value passed in. The shared empty values (EmptyObject, NullValue, ...) are returned where
// data is missing; they are only read, never deleted or changed.
//
// Numbers are doubles that also remember an exact 64-bit integer when they hold one, so
// 64-bit values survive a write and a read unchanged. The writer never produces an
// exponent and writes NaN and the infinities as null, so every text it writes parses
// again; the parser reads exponents ("1.5E-7"), which other JSON writers produce.
//
// Texts of values and member names are XJSON::Text: a compact, immutable, shared string.
// A parsed document holds many small strings, and a 560-byte XStr per string would make
// the tree many times larger than the text it came from. Text converts to XStr implicitly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "xclass/XList.h"
#include "xclass/XStr.h"

class XFile;

namespace XJSON {

// ---- Compact shared text ----
class Text {
public:
    Text() noexcept = default;
    Text(const wchar_t* text); // null = empty
    Text(const wchar_t* text, size_t length);
    Text(std::wstring_view text) : Text(text.data(), text.size()) {}
    Text(const XStr& text);           // the whole text, embedded zero characters included
    Text(const Text& other) noexcept; // shares the characters
    Text(Text&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    ~Text() { Release(); }

    Text& operator=(const Text& other) noexcept;
    Text& operator=(Text&& other) noexcept;
    Text& operator=(const wchar_t* text) { return *this = Text(text); }
    Text& operator=(const XStr& text) { return *this = Text(text); }
    Text& operator=(std::wstring_view text) { return *this = Text(text); }

    const wchar_t* c_str() const { return m_block ? m_block->Chars : L""; }
    int Length() const { return m_block ? m_block->Length : 0; }
    bool IsEmpty() const { return Length() == 0; }
    std::wstring_view View() const { return {c_str(), static_cast<size_t>(Length())}; }
    XStr ToXStr() const { return XStr(View()); }
    operator XStr() const { return ToXStr(); }
    std::string ToUTF8String() const;

    // A text of length characters to be filled through Data() before it is shared.
    static Text Allocate(size_t length);
    wchar_t* Data() { return m_block ? m_block->Chars : nullptr; }

private:
    struct Block {
        std::atomic<int32_t> Refs;
        int32_t Length;
        wchar_t Chars[1]; // Length + 1 characters, zero-terminated
    };
    void Release() noexcept;
    Block* m_block = nullptr;
};

bool operator==(const Text& a, const Text& b);
bool operator==(const Text& a, const wchar_t* b);
bool operator==(const Text& a, const XStr& b);

// ---- Values ----
enum Type : int {
    typeObject = 0,
    typeArray = 1,
    typeString = 2,
    typeNumber = 3,
    typeBoolean = 4,
    typeNull = 5,
};

class Object;
class Array;
class String;
class Number;
class Boolean;

class AnyType {
public:
    AnyType() = default;
    AnyType(const AnyType&) = delete;
    AnyType& operator=(const AnyType&) = delete;

    virtual Type TypeOf() const = 0;
    virtual XStr ToText() const; // the value's JSON text in the library's layout
    virtual AnyType* Clone() const = 0;
    virtual ~AnyType() = default;

    // The same text as UTF-8 bytes, appended to out (what the file writers write).
    void ToUTF8(std::string& out) const;

    // The value itself when its type matches, else the shared empty value of that type.
    Object* AsObject();
    Array* AsArray();
    String* AsString();
    Number* AsNumber();
    Boolean* AsBoolean();
    const Object* AsObject() const { return const_cast<AnyType*>(this)->AsObject(); }
    const Array* AsArray() const { return const_cast<AnyType*>(this)->AsArray(); }
    const String* AsString() const { return const_cast<AnyType*>(this)->AsString(); }
    const Number* AsNumber() const { return const_cast<AnyType*>(this)->AsNumber(); }
    const Boolean* AsBoolean() const { return const_cast<AnyType*>(this)->AsBoolean(); }
};

class String : public AnyType {
public:
    Text Value;

    String() = default;
    explicit String(Text value) : Value(std::move(value)) {}
    explicit String(const wchar_t* value) : Value(value) {}
    explicit String(const XStr& value) : Value(value) {}
    Type TypeOf() const override { return typeString; }
    AnyType* Clone() const override { return new String(Value); }
};

class Number : public AnyType {
public:
    double Value = 0;
    // The exact integer, valid while double(Int) == Value; so a caller that assigns Value
    // directly never sees a stale integer.
    int64_t Int = 0;

    Number() = default;
    explicit Number(double value) { Set(value); }
    explicit Number(float value) { Set(static_cast<double>(value)); }
    template <typename I, typename = std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>>>
    explicit Number(I value)
    {
        if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(int64_t)) {
            if (value > static_cast<uint64_t>(INT64_MAX)) {
                Set(static_cast<double>(value));
                return;
            }
        }
        SetInt64(static_cast<int64_t>(value));
    }
    Type TypeOf() const override { return typeNumber; }
    AnyType* Clone() const override;

    void Set(double value);
    void SetInt64(int64_t value)
    {
        Int = value;
        Value = static_cast<double>(value);
    }
    // True when the number is an integer held exactly in Int.
    bool HasExactInt() const { return static_cast<double>(Int) == Value; }
    // Truncation toward zero; NaN gives 0 and values beyond the range the nearest limit.
    int64_t ToInt64() const;
    int32_t ToInt32() const;
    // floor(Value + 0.5), saturated like ToInt64.
    int64_t Round() const;
};

class Boolean : public AnyType {
public:
    bool Value = false;

    Boolean() = default;
    explicit Boolean(bool value) : Value(value) {}
    Type TypeOf() const override { return typeBoolean; }
    AnyType* Clone() const override { return new Boolean(Value); }
};

class Null : public AnyType {
public:
    Type TypeOf() const override { return typeNull; }
    AnyType* Clone() const override { return new Null; }
};

class Array : public AnyType {
public:
    XList Items; // owned AnyType* in order

    Array() = default;
    ~Array() override;
    Type TypeOf() const override { return typeArray; }
    AnyType* Clone() const override;

    int64_t Count() const { return Items.Count(); }
    // The item, NullValue when index is out of range.
    AnyType* Get(int64_t index) const;
    // Appends and takes ownership (a null value is stored as a Null).
    void Add(AnyType* value);
    Object* AddObject();
    Array* AddArray();
    // Deletes the item and removes it; out of range nothing happens.
    void RemoveAt(int64_t index);
    void Clear();
};

} // namespace XJSON

// Members of an object: cells (one value each) with a parallel name, in insertion order,
// duplicates kept. ActiveObj is the cell touched last by a lookup or an insertion.
// A cell pointer stays valid until the next insertion or removal.
template <typename T>
class XObj {
public:
    struct Cell {
        XJSON::Text Name;
        T Value{};
    };

    int64_t Count() const { return static_cast<int64_t>(m_cells.size()); }
    // Inserts a new cell (value-initialised; cleared either way) at position (-1 or out of
    // range: at the end) named name (null = ""), makes it ActiveObj and returns it.
    T* Add(const wchar_t* name, bool clear = true, int64_t position = -1)
    {
        return Add(XJSON::Text(name), clear, position);
    }
    T* Add(const XStr& name, bool clear = true, int64_t position = -1)
    {
        return Add(XJSON::Text(name), clear, position);
    }
    T* Add(XJSON::Text name, bool clear = true, int64_t position = -1)
    {
        (void)clear;
        size_t at = m_cells.size();
        if (position >= 0 && position < Count())
            at = static_cast<size_t>(position);
        m_cells.insert(m_cells.begin() + static_cast<std::ptrdiff_t>(at), Cell{std::move(name), T{}});
        m_active = static_cast<int64_t>(at);
        return &m_cells[at].Value;
    }
    // The cell of the first member named exactly name, or null; sets ActiveObj.
    T* Find(const wchar_t* name)
    {
        const int64_t i = IndexOf(name, false);
        m_active = i;
        return i < 0 ? nullptr : &m_cells[static_cast<size_t>(i)].Value;
    }
    // Index of the first member of that name, -1 when none (A-Z folded when noCase).
    int64_t IndexOf(const wchar_t* name, bool noCase) const;
    // Frees the cell and its name; an index out of range does nothing.
    void RemoveAt(int64_t index)
    {
        if (index < 0 || index >= Count())
            return;
        m_cells.erase(m_cells.begin() + static_cast<std::ptrdiff_t>(index));
        if (m_active == index)
            m_active = -1;
        else if (m_active > index)
            m_active--;
    }
    void Clear()
    {
        m_cells.clear();
        m_active = -1;
    }
    T* ActiveObj() { return m_active < 0 ? nullptr : &m_cells[static_cast<size_t>(m_active)].Value; }
    const XJSON::Text& NameRef(int64_t index) const { return m_cells[static_cast<size_t>(index)].Name; }
    T& CellAt(int64_t index) { return m_cells[static_cast<size_t>(index)].Value; }
    const T& CellAt(int64_t index) const { return m_cells[static_cast<size_t>(index)].Value; }
    void Reserve(size_t n) { m_cells.reserve(n); }

protected:
    std::vector<Cell> m_cells;
    int64_t m_active = -1;
};

// Equality of two names, ignoring case for A-Z only when noCase.
bool XJSONNameEquals(const XJSON::Text& a, const wchar_t* b, bool noCase);

template <typename T>
int64_t XObj<T>::IndexOf(const wchar_t* name, bool noCase) const
{
    if (!name)
        name = L"";
    for (size_t i = 0; i < m_cells.size(); i++)
        if (XJSONNameEquals(m_cells[i].Name, name, noCase))
            return static_cast<int64_t>(i);
    return -1;
}

namespace XJSON {

class Object : public AnyType, public XObj<AnyType*> {
public:
    Object() = default;
    ~Object() override;
    Type TypeOf() const override { return typeObject; }
    AnyType* Clone() const override;

    using XObj<AnyType*>::Count;

    // Value of the first member with exactly that name, NullValue when none.
    AnyType* Get(const wchar_t* name);
    AnyType* GetNoCase(const wchar_t* name);
    bool HasNoCase(const wchar_t* name) const { return IndexOf(name, true) >= 0; }
    // Name at index ("" out of range) and value at index (NullValue out of range).
    const wchar_t* NameAt(int64_t index) const;
    AnyType* ValueAt(int64_t index);

    // Replace the first member of that name (the old value is deleted) or append one.
    // The object takes ownership of value (null is stored as a Null).
    void Set(const wchar_t* name, AnyType* value);
    void SetNoCase(const wchar_t* name, AnyType* value);
    void SetAt(int64_t index, AnyType* value); // out of range: value is deleted
    // Appends a member even when the name exists.
    void Add(const wchar_t* name, AnyType* value);
    void Add(const XStr& name, AnyType* value) { Add(Text(name), value); }
    void Add(Text name, AnyType* value);
    // Delete every member of that name, the last first.
    void Remove(const wchar_t* name);
    void RemoveNoCase(const wchar_t* name);
    void RemoveAt(int64_t index);
    void Clear();
    // Append a new empty child under name (even when the name exists) and return it.
    Object* AddObject(const wchar_t* name);
    Array* AddArray(const wchar_t* name);

private:
    void SetMatching(const wchar_t* name, AnyType* value, bool noCase);
    void RemoveMatching(const wchar_t* name, bool noCase);
};

// ---- Shared values (read only) ----
extern Object EmptyObject;
extern Array EmptyArray;
extern String EmptyString;
extern Number EmptyNumber;
extern Boolean EmptyBoolean;
extern Null NullValue;

Object* GetEmptyObject();
Array* GetEmptyArray();
AnyType* GetNullValue();

// ---- Text helpers ----
// Double quote, backslash, BS, FF, LF, CR and TAB as two-character escapes, the other code
// points below 32 (and surrogates, which UTF-8 cannot carry) as "\uXXXX".
XStr Escape(const XStr& text);
XStr Quote(const XStr& text);
// Every "\uXXXX" gives one character: an escaped high and low surrogate stay two, as Escape
// wrote them, so that names made of bytes that are not UTF-8 come back unchanged.
XStr Unescape(const XStr& text);
bool Unquote(XStr& out, const XStr& text);
XStr Indent(const XStr& text, const XStr& indent);
bool NeedsEscape(wchar_t ch);
bool IsSpace(wchar_t ch);
bool IsDigit(wchar_t ch);
bool IsInteger(const XStr& text);

// Double to int64 by truncation toward zero: NaN 0, beyond the range the nearest limit.
int64_t SaturateToInt64(double value);

// ---- Parsing ----
// Nesting deeper than this fails the parse rather than the stack.
constexpr int MaxDepth = 512;

// One value from the first character; text after it is ignored. Null on failure.
AnyType* Parse(const XStr& text);
// pos: 1-based start, on success the position after the value.
AnyType* Parse(const XStr& text, int& pos);
// The same over UTF-8 bytes (decoded as XStr::FromUTF8Bytes would), without building the
// wide text first. used (optional) gets the number of bytes the value took, on success.
AnyType* ParseUTF8(const void* data, size_t length, size_t* used = nullptr);

// ---- Files ----
// Null when the file is larger than maxSize, cannot be read whole, or does not parse.
AnyType* ReadFile(XFile& file, unsigned maxSize);
AnyType* ReadFile(const wchar_t* path, unsigned maxSize);
// ToText as UTF-8 at the file's current position.
bool WriteFile(XFile& file, const AnyType* value);
// Create always; a failed write deletes the file.
bool WriteFile(const wchar_t* path, const AnyType* value);
// Temporary file and rename: the target is replaced only by a complete file.
bool WriteFileAtomically(const wchar_t* path, const AnyType* value);

} // namespace XJSON
