// Formatters for times: KRATimeFormatter for milliseconds ("1:02:03.456"), CDTimeFormatter
// for whole seconds ("1:03").
#pragma once

#include "kit/KRAFormatter.h"

#include <cstdint>

// Values are qulonglong milliseconds.
class KRATimeFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    // "h:mm:ss" from one hour on or when forced, else "m:ss"; ".mmm" added when the
    // milliseconds are not 0.
    static QString formatValueMS(uint64_t ms, bool forceHours);
    // Hours always shown; a negative value or one that is not a number shows as 0.
    QString stringForObjectValue(const QVariant& value) const override;
    // "h:m:s", "m:s" or "s"; seconds may hold decimals. Each field adds its own amount, so
    // "75" is 1:15 and "1:75" is 2:15; negative fields count as 0. Any other number of fields
    // fails with "Invalid time format!". Held within the signed 64-bit range.
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;
};

// Values are qulonglong seconds.
class CDTimeFormatter : public KRAFormatter {
public:
    using KRAFormatter::KRAFormatter;

    // A number as KRATimeFormatter::formatValueMS without forced hours; any other value is
    // shown as its own text.
    QString stringForObjectValue(const QVariant& value) const override;
    // As KRATimeFormatter, then whole seconds (1:03.6 gives 63).
    bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const override;
};
