#include "kit/KitNumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool IsBlank(char16_t ch)
{
    return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r' || ch == u'\v' || ch == u'\f' || ch == 0xA0;
}

bool IsDigit(char16_t ch)
{
    return ch >= u'0' && ch <= u'9';
}

// Skips white space and reads a sign; returns the position after them.
qsizetype SkipToNumber(QStringView text, bool& negative)
{
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text.at(i).unicode()))
        ++i;
    negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    return i;
}

bool IsNumericType(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool IsReal(const QVariant& value)
{
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

bool IsUnsignedType(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

} // namespace

int64_t KitIntegerValue(QStringView text)
{
    bool negative = false;
    qsizetype i = SkipToNumber(text, negative);
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1
                                    : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    bool clipped = false;
    for (; i < text.size() && IsDigit(text.at(i).unicode()); ++i) {
        const uint64_t digit = text.at(i).unicode() - u'0';
        if (clipped || magnitude > (limit - digit) / 10) {
            clipped = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (clipped)
        magnitude = limit;
    if (!negative)
        return static_cast<int64_t>(magnitude);
    return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

double KitDoubleValue(QStringView text)
{
    bool negative = false;
    qsizetype i = SkipToNumber(text, negative);
    std::string number;
    qsizetype digits = 0;
    for (; i < text.size() && IsDigit(text.at(i).unicode()); ++i, ++digits)
        number.push_back(static_cast<char>(text.at(i).unicode()));
    if (i < text.size() && text.at(i) == u'.') {
        qsizetype j = i + 1;
        std::string decimals;
        for (; j < text.size() && IsDigit(text.at(j).unicode()); ++j)
            decimals.push_back(static_cast<char>(text.at(j).unicode()));
        if (!decimals.empty() || digits > 0) {
            number += '.';
            number += decimals;
            digits += static_cast<qsizetype>(decimals.size());
            i = j;
        }
    }
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text.at(j) == u'-' || text.at(j) == u'+'))
            exponent.push_back(static_cast<char>(text.at(j++).unicode()));
        bool any = false;
        for (; j < text.size() && IsDigit(text.at(j).unicode()); ++j) {
            exponent.push_back(static_cast<char>(text.at(j).unicode()));
            any = true;
        }
        if (any)
            number += exponent;
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small: the decimal power of the first significant digit tells.
        const size_t e = number.find('e');
        const std::string mantissa = number.substr(0, e);
        const double exponent = e == std::string::npos ? 0.0 : std::strtod(number.c_str() + e + 1, nullptr);
        const size_t point = mantissa.find('.');
        const double intLength = static_cast<double>(point == std::string::npos ? mantissa.size() : point);
        double power = -1.0;
        size_t seen = 0;
        for (const char ch : mantissa) {
            if (ch == '.')
                continue;
            if (ch != '0') {
                power = intLength - static_cast<double>(seen) - 1.0 + exponent;
                break;
            }
            ++seen;
        }
        value = power >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::optional<uint64_t> KitUnsignedValue(const QVariant& value)
{
    if (!IsNumericType(value))
        return std::nullopt;
    if (IsReal(value)) {
        const double d = value.toDouble();
        if (!(d > 0))
            return 0;
        if (d >= 18446744073709551616.0)
            return std::numeric_limits<uint64_t>::max();
        return static_cast<uint64_t>(d);
    }
    if (IsUnsignedType(value))
        return value.toULongLong();
    return static_cast<uint64_t>(value.toLongLong());
}

std::optional<int64_t> KitSignedValue(const QVariant& value)
{
    if (!IsNumericType(value))
        return std::nullopt;
    if (IsReal(value)) {
        const double d = value.toDouble();
        if (std::isnan(d))
            return 0;
        if (d >= 9223372036854775808.0)
            return std::numeric_limits<int64_t>::max();
        if (d < -9223372036854775808.0)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d);
    }
    if (IsUnsignedType(value)) {
        const uint64_t u = value.toULongLong();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(u);
    }
    return value.toLongLong();
}
