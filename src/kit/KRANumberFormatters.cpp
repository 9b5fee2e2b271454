#include "kit/KRANumberFormatters.h"

#include "kit/KitNumberText.h"
#include "kit/QKStringTools.h"
#include "platform/XStrQString.h"
#include "xclass/XStr.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

void ClearError(QString* errorDescription)
{
    if (errorDescription)
        errorDescription->clear();
}

// Lower case and trimmed of white space and new lines.
QString Normalised(const QString& text)
{
    return text.toLower().trimmed();
}

} // namespace

// --- decibels ---

QString KRADecibelFormatter::formatNumber(double value)
{
    if (std::isfinite(value) && value == std::trunc(value))
        return QString::number(value, 'f', 0);
    return QString::number(value, 'f', 2);
}

QString KRADecibelFormatter::stringForObjectValue(const QVariant& value) const
{
    return formatNumber(value.toDouble()) + QStringLiteral(" dB");
}

bool KRADecibelFormatter::getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const
{
    ClearError(errorDescription);
    QString s = Normalised(text);
    if (s.endsWith(QStringLiteral("db"))) {
        s.chop(2);
        s = s.trimmed();
    }
    double dB = KitDoubleValue(s);
    if (m_minValue && dB < *m_minValue)
        dB = *m_minValue;
    if (m_maxValue && dB > *m_maxValue)
        dB = *m_maxValue;
    if (value)
        *value = dB;
    return true;
}

// --- hexadecimal ---

void KRAHexFormatter::setDigits(std::optional<int> digits)
{
    if (digits)
        digits = std::clamp(*digits, 0, 64);
    m_digits = digits;
}

QString KRAHexFormatter::importVal(uint64_t value) const
{
    return XStrToQString(m_digits ? XStr::HexDigits(value, *m_digits) : XStr::Hex(value));
}

QString KRAHexFormatter::stringForObjectValue(const QVariant& value) const
{
    const std::optional<uint64_t> number = KitUnsignedValue(value);
    return number ? importVal(*number) : QString();
}

bool KRAHexFormatter::getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const
{
    ClearError(errorDescription);
    const XStr hex = XStrFromQString(text.trimmed());
    if (value)
        *value = QVariant::fromValue<qulonglong>(XHexToULong(hex));
    return true;
}

// --- file sizes ---

QString KRAFileSizeFormatter::formatValue(uint64_t bytes) const
{
    if (bytes == 0 && m_blankIfNull)
        return QString();
    return QKStringTools::formatFileSize(bytes);
}

QString KRAFileSizeFormatter::stringForObjectValue(const QVariant& value) const
{
    const std::optional<int64_t> number = KitSignedValue(value);
    if (!number)
        return QString();
    return formatValue(*number < 0 ? 0 : static_cast<uint64_t>(*number));
}

QString KRAFileSizeFormatter::editingStringForObjectValue(const QVariant&) const
{
    return QString();
}

bool KRAFileSizeFormatter::getObjectValue(QVariant*, const QString&, QString* errorDescription) const
{
    if (errorDescription)
        *errorDescription = QStringLiteral("Unsupported");
    return false;
}

QValidator::State KRAFileSizeFormatter::validate(QString&, int&) const
{
    return Invalid;
}

// --- frequencies ---

QString KRAFrequencyFormatter::formatNumber(const QVariant& value)
{
    const int64_t hz = KitSignedValue(value).value_or(0);
    return QString::number(hz < 0 ? 0 : hz);
}

QString KRAFrequencyFormatter::stringForObjectValue(const QVariant& value) const
{
    return formatNumber(value) + QStringLiteral(" Hz");
}

bool KRAFrequencyFormatter::getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const
{
    ClearError(errorDescription);
    QString s = Normalised(text);
    double multiplier = 1;
    if (s.endsWith(QStringLiteral("ghz"))) {
        multiplier = 1e9;
        s.chop(3);
    } else if (s.endsWith(QStringLiteral("mhz"))) {
        multiplier = 1e6;
        s.chop(3);
    } else if (s.endsWith(QStringLiteral("khz"))) {
        multiplier = 1e3;
        s.chop(3);
    } else if (s.endsWith(QStringLiteral("hz"))) {
        s.chop(2);
    }
    // Decimals count: "44.1 kHz" is 44100 Hz. Rounded to whole hertz, held in the 64-bit range.
    const double hz = std::round(KitDoubleValue(s.trimmed()) * multiplier);
    int64_t result = 0;
    if (hz >= 9223372036854775807.0)
        result = std::numeric_limits<int64_t>::max();
    else if (hz <= -9223372036854775808.0)
        result = std::numeric_limits<int64_t>::min();
    else if (!std::isnan(hz))
        result = static_cast<int64_t>(hz);
    if (m_minValue && result < *m_minValue)
        result = *m_minValue;
    if (m_maxValue && result > *m_maxValue)
        result = *m_maxValue;
    if (value)
        *value = QVariant::fromValue<qlonglong>(result);
    return true;
}
