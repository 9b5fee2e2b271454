// Crossing between the class library's wide text and Qt's text.
#pragma once

#include "XStr.h"

#include <QString>

inline QString QStringFromXStr(const XStr& text)
{
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(text.p), text.Length());
}

inline XStr XStrFromQString(const QString& text)
{
    const QList<uint> ucs4 = text.toUcs4();
    return XStr(std::wstring_view(reinterpret_cast<const wchar_t*>(ucs4.constData()), static_cast<size_t>(ucs4.size())));
}
