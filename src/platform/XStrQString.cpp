// XStr <-> QString, code point by code point.
#include "platform/XStrQString.h"

#include <string>

QString XStrToQString(const XStr& text)
{
    QString out;
    out.reserve(text.Length());
    for (const wchar_t ch : text.View()) {
        const uint32_t cp = static_cast<uint32_t>(ch);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            out.append(QChar(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10))));
            out.append(QChar(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))));
        } else if (cp < 0x10000) {
            out.append(QChar(static_cast<char16_t>(cp))); // lone surrogates pass as they are
        } else {
            out.append(QChar(QChar::ReplacementCharacter));
        }
    }
    return out;
}

XStr XStrFromQString(const QString& text)
{
    std::wstring out;
    out.reserve(static_cast<size_t>(text.size()));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n) {
            const char16_t next = text.at(i + 1).unicode();
            if (next >= 0xDC00 && next <= 0xDFFF) {
                out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        out += static_cast<wchar_t>(unit);
    }
    return XStr(std::wstring_view(out));
}
