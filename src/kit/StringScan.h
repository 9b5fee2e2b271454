// Reading values back out of argument text ("-b:a 192k -ar 44100"). The effect pages parse
// their stored ffmpeg arguments with these, so the rules are exact and never depend on the
// locale: the decimal mark is always the full stop.
//
// A marker is found by a literal, case-sensitive search for its first occurrence; the value
// starts right after it.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The run of "-" and digits after the marker, read as an optional minus and digits; 0 when
// the marker is absent or empty or nothing numeric follows; beyond the 32-bit range the
// nearest limit. "12-3" gives 12.
int scanIntAfter(const QString& text, const QString& marker);
// The same over a run of "-", "." and digits, read as an optional minus, digits, an optional
// "." and digits; no exponent. "1.5.2" gives 1.5, a lone "-" gives 0; a run too large for a
// double gives an infinity of its sign.
double scanFloatAfter(const QString& text, const QString& marker);
// Everything after the marker; none when the marker is absent or empty.
std::optional<QString> scanStringAfter(const QString& text, const QString& marker);
// The same cut before the first occurrence of endMarker in the rest; the whole rest when the
// end marker does not occur there or is empty.
std::optional<QString> scanStringAfter(const QString& text, const QString& marker, const QString& endMarker);
// Split at every line feed; each piece loses all its trailing carriage returns. Empty pieces
// are kept: a text ending in a newline gives a last empty line, an empty text one empty line.
QStringList splitByLines(const QString& text);
