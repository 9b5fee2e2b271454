// Base64 with the standard alphabet (A-Z a-z 0-9 + /), in the MIME layout of 76-character
// lines joined by CR LF, with "=" padding; both can be switched off. The registry store and
// the element-value lists keep binary values as Base64 without line breaks (flag 2).
// The file-name-safe form writes "-" in place of "/".
#pragma once

#include "xclass/XStr.h"

#include <cstddef>
#include <cstdint>

struct XBuffer;

enum : unsigned {
    XBASE64_NO_PADDING = 1,     // a final group of 1 or 2 bytes gives 2 or 3 characters
    XBASE64_NO_LINE_BREAKS = 2, // one line, no CR LF
};

// The least output capacity XBase64Encode accepts for count bytes: always room for the
// text and its terminating NUL. 0 when the text would not fit in an int.
int XBase64EncodeSize(size_t count, unsigned flags);

// Encodes count bytes into output. *length gives the capacity and receives the text
// length (the NUL added when terminate is set is not counted). False when data, output or
// length is null or the capacity is below XBase64EncodeSize.
bool XBase64Encode(const void* data, size_t count, char* output, int* length, unsigned flags, bool terminate);

// Decodes up to textLength characters (stopping at a NUL); characters outside the
// alphabet ("=", CR, LF, blanks) are skipped. output may be null to measure. *length gives
// the capacity and always receives the full decoded length; groups that do not fit are
// not written. True only when output was given and everything fitted.
bool XBase64Decode(const char* text, int textLength, void* output, int* length);

// 0-63 for an alphabet character, -1 otherwise.
int XBase64CharValue(int ch);

XStr XBase64EncodeToStr(const void* data, size_t count, unsigned flags);
XStr XBase64EncodeCStr(const char* text, unsigned flags);
// The string's 16-bit units, two bytes each in memory order.
XStr XBase64EncodeWide(const XStr& text, unsigned flags);

XStr XBase64EncodeCStrSafe(const char* text, unsigned flags);
XStr XBase64EncodeWideSafe(const XStr& text, unsigned flags);
void XBase64MakeSafe(XStr& text);   // "/" -> "-"
void XBase64UnmakeSafe(XStr& text); // "-" -> "/"

// Decodes a 0-terminated text and reads the bytes as text: mode 0 16-bit units, 1
// Windows-1252, 2 UTF-8. Empty on failure.
XStr XBase64DecodeToStr(const char* text, int mode);
XStr XBase64DecodeSafeToStr(const char* text, int mode);

// Decodes a 0-terminated text into out (Used = the decoded length). With zeroPad eight
// zero bytes follow the data (Size = Used + 8), otherwise Size = Used.
bool XBase64DecodeToBuffer(const char* text, XBuffer& out, bool zeroPad);
