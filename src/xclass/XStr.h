// XStr: the one string type of the program. A wide string of 32-bit characters (one code
// point per element) with a 128-character inline buffer, 1-based positions, inclusive
// ranges and a single cached narrow copy (AnsiC) shared by the UTF-8, Windows-1252 and
// 16-bit views: each view overwrites the previous one.
//
// File names on Linux are bytes, not text. The UTF-8 decoder is therefore lossless: a byte
// that does not start a valid sequence is kept as the character U+DC00 + byte, and the
// encoder writes such a character back as that single byte. A name read from the disk
// always names the same file when it is written back.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == 4, "XStr needs 32-bit wchar_t");

struct XBuffer;

// The position value meaning "the last position" where an operation says so.
constexpr int XSTR_LAST = -12345;

struct XSimpleCStrBuffer {
    char* m_ptr = nullptr;
    uint64_t m_size = 0;

    // Frees the old block and allocates exactly size bytes (contents not kept).
    void Allocate(uint64_t size);
    void Free();
};

class XStr {
public:
    wchar_t* p;
    int32_t NumChars; // characters INCLUDING the terminator; an empty string has 1
    uint64_t UserData;
    wchar_t Buffer[128];
    XSimpleCStrBuffer AnsiC;
    int32_t BufferSize;

    XStr();
    XStr(const wchar_t* text);
    XStr(const XStr& other);     // copies UserData too
    XStr(XStr&& other) noexcept; // takes UserData too
    explicit XStr(int value);
    explicit XStr(long long value);
    XStr(const char* text, bool utf8);
    explicit XStr(std::wstring_view text);
    ~XStr();

    // Assignment copies the characters, never UserData.
    XStr& operator=(const wchar_t* text);
    XStr& operator=(const XStr& other);
    XStr& operator=(XStr&& other) noexcept;
    XStr& operator=(const char* ansiText); // Windows-1252

    void AssignChars(const wchar_t* text, int32_t count); // count includes the terminator; 0 = measure
    void FreeMemory();

    // Appending. Append and += grow with slack 25, Cat and CatChar with a third.
    void Append(const wchar_t* text);
    XStr& operator+=(const wchar_t* text);
    XStr& operator+=(const XStr& other);
    void Cat(const wchar_t* text);
    void Cat(const wchar_t* text, int32_t length);
    void CatChar(wchar_t ch);

    // Editing in place. Positions are 1-based, ranges inclusive.
    void InsertChar(wchar_t ch, int pos);
    void Insert(const wchar_t* text, int pos);
    wchar_t RemoveAt(int pos);
    void Delete(int first, int last);
    void DeleteLeft(int n) { Delete(1, n); }
    void DeleteRight(int n);
    void Remove(int pos, int count);
    void SetLength(int length, wchar_t pad = L' ', bool allowGrow = false);
    void TrimLeft();
    void TrimRight();
    void TrimRightChar(wchar_t ch);
    void EnsureTrailingChar(wchar_t ch);
    void Replace(const wchar_t* what, const wchar_t* with, bool noCase = false);
    bool ReplacePrefix(const wchar_t* prefix, const wchar_t* replacement);
    void Grow(int32_t numChars, int32_t slack);

    // Copies and parts.
    XStr Mid(int first, int last) const;
    XStr Left(int n) const { return Mid(1, n); }
    XStr MidToEnd(int first) const { return Mid(first, Length()); }
    XStr Right(int n) const;
    XStr ToUpper() const;
    XStr ToLower() const;
    void CopyTo(wchar_t* dst) const;

    // Searching and comparing.
    int Find(const wchar_t* what, int start = 1, bool noCase = false) const;
    int FindLast(const wchar_t* what, bool noCase = false) const;
    int FindChar(wchar_t ch, int start = 1) const;
    int ReverseFindChar(wchar_t ch, int start = XSTR_LAST) const;
    bool Split(const wchar_t* separator, XStr& before, XStr& after, int start = 1, bool noCase = false) const;
    bool EndsWith(const wchar_t* suffix, bool noCase = false) const;
    bool BeginsWith(const wchar_t* prefix, bool noCase = false) const;

    int Length() const { return NumChars - 1; }
    bool IsEmpty() const { return NumChars < 2; }
    operator const wchar_t*() const { return p; }
    std::wstring_view View() const { return {p, static_cast<size_t>(NumChars - 1)}; }

    // Narrow views: each writes into AnsiC and returns its pointer, valid until the next view
    // of this string or its destruction.
    const char* UTF8();
    const char* Ansi();
    const uint16_t* UTF16();
    void CopyAnsiTo(char* dst);
    // The whole text as UTF-8 bytes, embedded zero characters included (no AnsiC involved).
    std::string ToUTF8String() const;

    // Building from other encodings.
    static XStr FromUTF8(const char* text);
    static XStr FromUTF8(const char* text, size_t length); // stops at an embedded 0
    static XStr FromUTF8Data(const void* data, size_t length);
    static XStr FromUTF8Buffer(const XBuffer& buffer);
    // Every byte decoded, embedded 0 bytes kept as U+0000 characters.
    static XStr FromUTF8Bytes(const void* data, size_t length);
    static XStr FromUTF8(const std::string& text) { return FromUTF8Bytes(text.data(), text.size()); }
    static XStr FromAnsi(const char* text);
    static XStr FromAnsiData(const char* data, size_t length);
    static XStr FromAnsiBuffer(const XBuffer& buffer);
    static XStr FromUTF16(const uint16_t* text);
    static XStr FromASCII(const uint8_t* text);
    static XStr FromASCII(const uint8_t* text, size_t length);
    static XStr FromWide(const wchar_t* text);

    // Numbers to text.
    static XStr FromLong(int64_t value);
    static XStr FromULong(uint64_t value);
    static XStr FromUInt(uint32_t value) { return FromULong(value); }
    static XStr FromDouble(double value, int decimals, bool keepZeros);
    static XStr HexDigits(uint64_t value, int digits);
    static XStr Hex32(uint32_t value) { return HexDigits(value, 8); }
    static XStr Hex(uint64_t value);
    static XStr HexBytes(const uint8_t* data, unsigned length);

    // Text to numbers.
    int64_t ToLong() const;
    uint64_t ToULong() const;
    bool IsTrue() const;
    double ToDouble() const;
    uint64_t HexToULong() const;
    int64_t HexToLong() const;

    // Formatting with the library's own printf-like rules (see XStrFormat.cpp).
    void FormatV(const wchar_t* format, va_list args);
    void Format(const wchar_t* format, ...);
    static XStr FromFormat(const wchar_t* format, ...);
    static XStr FromFormatV(const wchar_t* format, va_list args);

    static XStr FoldToASCII(const wchar_t* text);

private:
    void Reserve(int32_t n);
    void InitEmpty();
};

XStr operator+(const XStr& a, const XStr& b);
XStr operator+(const XStr& a, const wchar_t* b);
XStr operator+(const wchar_t* a, const XStr& b);
bool operator==(const XStr& a, const XStr& b);
bool operator==(const XStr& a, const wchar_t* b);

// -1, 0 or 1. count -1: the length of b (a begins with b); 0: whole strings; n: at most n.
int XStrCompare(const wchar_t* a, const wchar_t* b, int count = 0, bool noCase = false);
// The natural order of file lists: digit runs compare by value ("file9" < "file10").
int XStrCompareNatural(const wchar_t* a, const wchar_t* b);
wchar_t XCharSortKey(wchar_t ch);
wchar_t XCharToASCII(wchar_t ch);
double XStrToDouble(const wchar_t* text);
uint64_t XHexToULong(const wchar_t* text);
int64_t XHexToLong(const wchar_t* text);
bool XHexToBytes(const wchar_t* hex, uint8_t* out, unsigned count);
// One command-line argument, quoted when needed so that XStrList::ParseArgs gives it back unchanged.
XStr XQuoteArgument(const XStr& arg);

// Low-level codecs shared with the other text readers of the library.
// Decodes length bytes of UTF-8 into out (room for length + 1 characters); stops at a 0 byte
// when stopAtZero. Returns the characters written, terminator included.
int32_t XDecodeUTF8(const uint8_t* in, size_t length, wchar_t* out, bool stopAtZero);
// Appends the UTF-8 form of one character.
void XAppendUTF8(std::string& out, wchar_t ch);
// The same without the escapes of undecodable bytes: every code point as its own UTF-8 form.
void XAppendCodePointUTF8(std::string& out, uint32_t c);
