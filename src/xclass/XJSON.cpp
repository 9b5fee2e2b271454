// The values of XJSON: the shared compact text, the value types and their containers.
// The writer is in XJSONWriter.cpp, the parser in XJSONParser.cpp.
#include "xclass/XJSON.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <new>

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Text

Text::Text(const wchar_t* text) : Text(text, text ? wcslen(text) : 0) {}

Text::Text(const XStr& text) : Text(text.p, static_cast<size_t>(text.Length())) {}

Text::Text(const wchar_t* text, size_t length)
{
    if (!text || length == 0)
        return;
    *this = Allocate(length);
    if (m_block)
        wmemcpy(m_block->Chars, text, length);
}

Text Text::Allocate(size_t length)
{
    Text t;
    if (length == 0 || length > 0x3FFFFFF0)
        return t;
    void* memory = malloc(offsetof(Block, Chars) + sizeof(wchar_t) * (length + 1));
    if (!memory)
        return t;
    Block* block = new (memory) Block;
    block->Refs.store(1, std::memory_order_relaxed);
    block->Length = static_cast<int32_t>(length);
    block->Chars[length] = 0;
    t.m_block = block;
    return t;
}

Text::Text(const Text& other) noexcept : m_block(other.m_block)
{
    if (m_block)
        m_block->Refs.fetch_add(1, std::memory_order_relaxed);
}

Text& Text::operator=(const Text& other) noexcept
{
    if (other.m_block)
        other.m_block->Refs.fetch_add(1, std::memory_order_relaxed);
    Release();
    m_block = other.m_block;
    return *this;
}

Text& Text::operator=(Text&& other) noexcept
{
    if (this != &other) {
        Release();
        m_block = other.m_block;
        other.m_block = nullptr;
    }
    return *this;
}

void Text::Release() noexcept
{
    if (m_block && m_block->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_block->~Block();
        free(m_block);
    }
    m_block = nullptr;
}

std::string Text::ToUTF8String() const
{
    std::string out;
    out.reserve(static_cast<size_t>(Length()));
    for (wchar_t c : View())
        XAppendUTF8(out, c);
    return out;
}

bool operator==(const Text& a, const Text& b)
{
    return a.View() == b.View();
}

bool operator==(const Text& a, const wchar_t* b)
{
    return a.View() == std::wstring_view(b ? b : L"");
}

bool operator==(const Text& a, const XStr& b)
{
    return a.View() == b.View();
}

} // namespace XJSON

bool XJSONNameEquals(const XJSON::Text& a, const wchar_t* b, bool noCase)
{
    const wchar_t* x = a.c_str();
    const int n = a.Length();
    for (int i = 0; i < n; i++) {
        wchar_t c = x[i];
        wchar_t d = b[i];
        if (d == 0)
            return false;
        if (c != d) {
            if (!noCase)
                return false;
            if (c >= L'A' && c <= L'Z')
                c += 32;
            if (d >= L'A' && d <= L'Z')
                d += 32;
            if (c != d)
                return false;
        }
    }
    return b[n] == 0;
}

namespace XJSON {

// ---------------------------------------------------------------------------------------------
// Shared values

Object EmptyObject;
Array EmptyArray;
String EmptyString;
Number EmptyNumber;
Boolean EmptyBoolean;
Null NullValue;

Object* GetEmptyObject()
{
    return &EmptyObject;
}
Array* GetEmptyArray()
{
    return &EmptyArray;
}
AnyType* GetNullValue()
{
    return &NullValue;
}

Object* AnyType::AsObject()
{
    if (TypeOf() == typeObject)
        return static_cast<Object*>(this);
    assert(EmptyObject.Count() == 0 && "the shared empty object was changed");
    return &EmptyObject;
}

Array* AnyType::AsArray()
{
    if (TypeOf() == typeArray)
        return static_cast<Array*>(this);
    assert(EmptyArray.Count() == 0 && "the shared empty array was changed");
    return &EmptyArray;
}

String* AnyType::AsString()
{
    if (TypeOf() == typeString)
        return static_cast<String*>(this);
    assert(EmptyString.Value.Length() == 0 && "the shared empty string was changed");
    return &EmptyString;
}

Number* AnyType::AsNumber()
{
    if (TypeOf() == typeNumber)
        return static_cast<Number*>(this);
    assert(EmptyNumber.Value == 0 && "the shared empty number was changed");
    return &EmptyNumber;
}

Boolean* AnyType::AsBoolean()
{
    if (TypeOf() == typeBoolean)
        return static_cast<Boolean*>(this);
    assert(!EmptyBoolean.Value && "the shared empty boolean was changed");
    return &EmptyBoolean;
}

// ---------------------------------------------------------------------------------------------
// Numbers

int64_t SaturateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775808.0)
        return INT64_MAX;
    if (value < -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<int64_t>(value);
}

void Number::Set(double value)
{
    Value = value;
    // Only an integral value in range gets an exact integer; anything else leaves Int
    // inconsistent with Value on purpose, so the double is what counts.
    if (value >= -9223372036854775808.0 && value < 9223372036854775808.0 && value == std::trunc(value))
        Int = static_cast<int64_t>(value);
    else
        Int = 0;
}

AnyType* Number::Clone() const
{
    Number* n = new Number;
    n->Value = Value;
    n->Int = Int;
    return n;
}

int64_t Number::ToInt64() const
{
    return HasExactInt() ? Int : SaturateToInt64(Value);
}

int32_t Number::ToInt32() const
{
    const int64_t v = ToInt64();
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t Number::Round() const
{
    return HasExactInt() ? Int : SaturateToInt64(std::floor(Value + 0.5));
}

// ---------------------------------------------------------------------------------------------
// Arrays

Array::~Array()
{
    Clear();
}

AnyType* Array::Clone() const
{
    Array* a = new Array;
    a->Items.Reserve(Items.Count());
    for (int64_t i = 0; i < Items.Count(); i++)
        a->Items.Add(Items.GetPtr<AnyType>(i)->Clone());
    return a;
}

AnyType* Array::Get(int64_t index) const
{
    if (index < 0 || index >= Items.Count())
        return &NullValue;
    return Items.GetPtr<AnyType>(index);
}

void Array::Add(AnyType* value)
{
    if (!value)
        value = new Null;
    if (Items.Add(value) < 0)
        delete value;
}

Object* Array::AddObject()
{
    Object* o = new Object;
    Add(o);
    return o;
}

Array* Array::AddArray()
{
    Array* a = new Array;
    Add(a);
    return a;
}

void Array::RemoveAt(int64_t index)
{
    if (index < 0 || index >= Items.Count())
        return;
    delete Items.GetPtr<AnyType>(index);
    Items.RemoveAt(index);
}

void Array::Clear()
{
    for (int64_t i = 0; i < Items.Count(); i++)
        delete Items.GetPtr<AnyType>(i);
    Items.Clear();
}

// ---------------------------------------------------------------------------------------------
// Objects

Object::~Object()
{
    Clear();
}

void Object::Clear()
{
    for (Cell& c : m_cells)
        delete c.Value;
    XObj<AnyType*>::Clear();
}

AnyType* Object::Clone() const
{
    Object* o = new Object;
    o->m_cells.reserve(m_cells.size());
    for (const Cell& c : m_cells)
        o->m_cells.push_back(Cell{c.Name, c.Value ? c.Value->Clone() : new Null});
    return o;
}

AnyType* Object::Get(const wchar_t* name)
{
    const int64_t i = IndexOf(name, false);
    m_active = i;
    return i < 0 ? static_cast<AnyType*>(&NullValue) : m_cells[static_cast<size_t>(i)].Value;
}

AnyType* Object::GetNoCase(const wchar_t* name)
{
    const int64_t i = IndexOf(name, true);
    m_active = i;
    return i < 0 ? static_cast<AnyType*>(&NullValue) : m_cells[static_cast<size_t>(i)].Value;
}

const wchar_t* Object::NameAt(int64_t index) const
{
    if (index < 0 || index >= Count())
        return L"";
    return m_cells[static_cast<size_t>(index)].Name.c_str();
}

AnyType* Object::ValueAt(int64_t index)
{
    if (index < 0 || index >= Count())
        return &NullValue;
    m_active = index;
    return m_cells[static_cast<size_t>(index)].Value;
}

void Object::SetMatching(const wchar_t* name, AnyType* value, bool noCase)
{
    if (!value)
        value = new Null;
    const int64_t i = IndexOf(name, noCase);
    if (i < 0) {
        Add(name, value);
        return;
    }
    AnyType*& slot = m_cells[static_cast<size_t>(i)].Value;
    if (slot != value)
        delete slot;
    slot = value;
    m_active = i;
}

void Object::Set(const wchar_t* name, AnyType* value)
{
    SetMatching(name, value, false);
}

void Object::SetNoCase(const wchar_t* name, AnyType* value)
{
    SetMatching(name, value, true);
}

void Object::SetAt(int64_t index, AnyType* value)
{
    if (index < 0 || index >= Count()) {
        delete value;
        return;
    }
    if (!value)
        value = new Null;
    AnyType*& slot = m_cells[static_cast<size_t>(index)].Value;
    if (slot != value)
        delete slot;
    slot = value;
}

void Object::Add(const wchar_t* name, AnyType* value)
{
    Add(Text(name), value);
}

void Object::Add(Text name, AnyType* value)
{
    if (!value)
        value = new Null;
    *XObj<AnyType*>::Add(std::move(name), true, -1) = value;
}

void Object::RemoveMatching(const wchar_t* name, bool noCase)
{
    if (!name)
        name = L"";
    for (int64_t i = Count() - 1; i >= 0; i--)
        if (XJSONNameEquals(m_cells[static_cast<size_t>(i)].Name, name, noCase))
            RemoveAt(i);
}

void Object::Remove(const wchar_t* name)
{
    RemoveMatching(name, false);
}

void Object::RemoveNoCase(const wchar_t* name)
{
    RemoveMatching(name, true);
}

void Object::RemoveAt(int64_t index)
{
    if (index < 0 || index >= Count())
        return;
    delete m_cells[static_cast<size_t>(index)].Value;
    XObj<AnyType*>::RemoveAt(index);
}

Object* Object::AddObject(const wchar_t* name)
{
    Object* o = new Object;
    Add(name, o);
    return o;
}

Array* Object::AddArray(const wchar_t* name)
{
    Array* a = new Array;
    Add(name, a);
    return a;
}

} // namespace XJSON
