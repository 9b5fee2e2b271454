// The bridge between the class library's text (XStr) and Qt's (QString).
#pragma once

#include <QString>

#include "xclass/XStr.h"

// Characters U+DC80..U+DCFF (undecodable bytes of a file name) cross as lone UTF-16
// surrogates, so a path survives the round trip.
QString XStrToQString(const XStr& text);
XStr XStrFromQString(const QString& text);
