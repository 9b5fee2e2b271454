// Formatters for decibels, hexadecimal numbers, file sizes and frequencies.
#pragma once

#include "kit/KRAFormatter.h"

#include <cstdint>
#include <optional>

// "3 dB", "-1.50 dB". Typed text may end in "dB" (any case); the value is held within the
// limits that are set. Any text parses (no number reads as 0).
class KRADecibelFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    std::optional<double> minValue() const { return m_minValue; }
    void setMinValue(std::optional<double> value) { m_minValue = value; }
    std::optional<double> maxValue() const { return m_maxValue; }
    void setMaxValue(std::optional<double> value) { m_maxValue = value; }

    // An integral value as an integer, any other with two decimals.
    static QString formatNumber(double value);
    QString stringForObjectValue(const QVariant& value) const override;
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;

private:
    std::optional<double> m_minValue;
    std::optional<double> m_maxValue;
};

// Upper-case hexadecimal: with digits() set exactly that many, zero-padded and higher digits
// dropped; else as many as needed, at least one. Values are qulonglong.
class KRAHexFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    std::optional<int> digits() const { return m_digits; }
    // Held within 0 to 64.
    void setDigits(std::optional<int> digits);

    QString importVal(uint64_t value) const;
    // A value that is not a number shows as "".
    QString stringForObjectValue(const QVariant& value) const override;
    // The leading hexadecimal digits after any white space; none reads as 0.
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;

private:
    std::optional<int> m_digits;
};

// Display only: sizes in the user's file-size units (QKStringTools::formatFileSize).
class KRAFileSizeFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    bool blankIfNull() const { return m_blankIfNull; }
    void setBlankIfNull(bool blank) { m_blankIfNull = blank; }

    // 0 with blankIfNull gives "".
    QString formatValue(uint64_t bytes) const;
    // A negative size shows as 0; a value that is not a number as "".
    QString stringForObjectValue(const QVariant& value) const override;
    QString editingStringForObjectValue(const QVariant& value) const override;
    // Always false with "Unsupported".
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;
    bool isEditable() const override { return false; }
    // Nothing can be typed.
    State validate(QString& input, int& pos) const override;

private:
    bool m_blankIfNull = false;
};

// "44100 Hz". Typed text may end in "Hz", "kHz", "MHz" or "GHz" (any case) and hold decimals:
// "44.1 kHz" is 44100. The value (qlonglong) is held within the limits that are set.
class KRAFrequencyFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    std::optional<int64_t> minValue() const { return m_minValue; }
    void setMinValue(std::optional<int64_t> value) { m_minValue = value; }
    std::optional<int64_t> maxValue() const { return m_maxValue; }
    void setMaxValue(std::optional<int64_t> value) { m_maxValue = value; }

    // Negative values as 0.
    static QString formatNumber(const QVariant& value);
    QString stringForObjectValue(const QVariant& value) const override;
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;

private:
    std::optional<int64_t> m_minValue;
    std::optional<int64_t> m_maxValue;
};
