#include "kit/KRATimeFormatter.h"

#include "kit/KitNumberText.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace {

constexpr int64_t kMaxMs = std::numeric_limits<int64_t>::max();

// a x b + c for non-negative numbers, held at kMaxMs.
int64_t AddScaled(int64_t total, int64_t amount, int64_t scale)
{
    int64_t product = 0;
    int64_t sum = 0;
    if (__builtin_mul_overflow(amount, scale, &product) || __builtin_add_overflow(total, product, &sum))
        return kMaxMs;
    return sum;
}

} // namespace

QString KRATimeFormatter::formatValueMS(uint64_t ms, bool forceHours)
{
    const uint64_t seconds = ms / 1000 % 60;
    const uint64_t minutes = ms / 60000 % 60;
    QString text;
    if (ms >= 3600000 || forceHours)
        text = QString::asprintf("%llu:%02llu:%02llu", static_cast<unsigned long long>(ms / 3600000),
                                 static_cast<unsigned long long>(minutes), static_cast<unsigned long long>(seconds));
    else
        text = QString::asprintf("%llu:%02llu", static_cast<unsigned long long>(minutes),
                                 static_cast<unsigned long long>(seconds));
    if (ms % 1000 != 0)
        text += QString::asprintf(".%03u", static_cast<unsigned>(ms % 1000));
    return text;
}

QString KRATimeFormatter::stringForObjectValue(const QVariant& value) const
{
    const int64_t ms = KitSignedValue(value).value_or(0);
    return formatValueMS(ms < 0 ? 0 : static_cast<uint64_t>(ms), true);
}

bool KRATimeFormatter::getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const
{
    if (errorDescription)
        errorDescription->clear();
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 1 || parts.size() > 3) {
        if (errorDescription)
            *errorDescription = QStringLiteral("Invalid time format!");
        return false;
    }
    int64_t hours = 0;
    int64_t minutes = 0;
    if (parts.size() == 3)
        hours = KitIntegerValue(parts.at(0));
    if (parts.size() >= 2)
        minutes = KitIntegerValue(parts.at(parts.size() - 2));
    double seconds = KitDoubleValue(parts.last());

    int64_t ms = 0;
    ms = AddScaled(ms, hours < 0 ? 0 : hours, 3600000);
    ms = AddScaled(ms, minutes < 0 ? 0 : minutes, 60000);
    if (!(seconds > 0))
        seconds = 0;
    const double secondsMs = std::floor(seconds * 1000.0 + 0.5);
    const int64_t part = secondsMs >= 9223372036854775807.0 ? kMaxMs : static_cast<int64_t>(secondsMs);
    ms = AddScaled(ms, part, 1);
    if (value)
        *value = QVariant::fromValue<qulonglong>(static_cast<qulonglong>(ms));
    return true;
}

QString CDTimeFormatter::stringForObjectValue(const QVariant& value) const
{
    const std::optional<int64_t> seconds = KitSignedValue(value);
    if (!seconds)
        return value.toString();
    const uint64_t s = *seconds < 0 ? 0 : static_cast<uint64_t>(*seconds);
    const uint64_t limit = std::numeric_limits<uint64_t>::max() / 1000;
    return KRATimeFormatter::formatValueMS(s > limit ? limit * 1000 : s * 1000, false);
}

bool CDTimeFormatter::getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const
{
    QVariant ms;
    if (!KRATimeFormatter().getObjectValue(&ms, text, errorDescription))
        return false;
    if (value)
        *value = QVariant::fromValue<qulonglong>(ms.toULongLong() / 1000);
    return true;
}
