// Crossing between the class library's wide text and Qt's text. The platform layer owns the
// conversion (it keeps undecodable file-name bytes); this name is the kit's spelling of it.
#pragma once

#include "xclass/XStr.h"
#include "platform/XWorkspace.h"

#include <QString>

inline QString QStringFromXStr(const XStr& text)
{
    return XStrToQString(text);
}
