// Lenient number reading for typed text, the same in every locale: leading white space, an
// optional sign, then the number; whatever follows is ignored; no number reads as 0.
#pragma once

#include <QStringView>
#include <QVariant>

#include <cstdint>
#include <optional>

// Digits only; beyond the 64-bit range the nearest limit.
int64_t KitIntegerValue(QStringView text);
// Digits with an optional "." and decimals and an optional exponent; too large gives an
// infinity of its sign.
double KitDoubleValue(QStringView text);

// The value of a numeric QVariant as the unsigned 64-bit number a formatter shows: integers
// as they are (a negative one wraps, as unsigned arithmetic does), reals cut towards 0 and
// held within the range (negative and NaN give 0). None for anything that is not a number.
std::optional<uint64_t> KitUnsignedValue(const QVariant& value);
// The same as a signed number; reals held within the range, NaN gives 0.
std::optional<int64_t> KitSignedValue(const QVariant& value);
