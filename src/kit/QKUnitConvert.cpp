#include "kit/QKUnitConvert.h"

#include <QSpinBox>

#include <climits>
#include <cmath>

namespace {
// 20 x log10(65535): the level of full scale above one step of 16-bit audio.
constexpr double kFullScaleDB = 96.32946607530499;
constexpr double kSilenceDB = -96.3;

int ClampToInt(int64_t value)
{
    return value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : static_cast<int>(value));
}
} // namespace

QKTimeFields QKUnitConvert::splitTime(int64_t ms, bool withHours)
{
    if (ms < 0)
        ms = 0;
    QKTimeFields fields;
    fields.ms = static_cast<int>(ms % 1000);
    fields.seconds = static_cast<int>((ms / 1000) % 60);
    if (withHours) {
        fields.minutes = static_cast<int>((ms / 60000) % 60);
        fields.hours = ClampToInt(ms / 3600000);
    } else {
        fields.minutes = ClampToInt(ms / 60000);
    }
    return fields;
}

void QKUnitConvert::splitTime(int64_t ms, QSpinBox* hours, QSpinBox* minutes, QSpinBox* seconds, QSpinBox* msField)
{
    const QKTimeFields fields = splitTime(ms, hours != nullptr);
    if (msField)
        msField->setValue(fields.ms);
    if (seconds)
        seconds->setValue(fields.seconds);
    if (minutes)
        minutes->setValue(fields.minutes);
    if (hours)
        hours->setValue(fields.hours);
}

int64_t QKUnitConvert::mergeTime(int hours, int minutes, int seconds, int ms)
{
    // Each product fits in 64 bits for any int (|INT_MAX x 3600000| < 2^63 / 1000).
    return static_cast<int64_t>(ms) + static_cast<int64_t>(seconds) * 1000 + static_cast<int64_t>(minutes) * 60000 +
           static_cast<int64_t>(hours) * 3600000;
}

int64_t QKUnitConvert::mergeTime(const QSpinBox* hours, const QSpinBox* minutes, const QSpinBox* seconds,
                                 const QSpinBox* msField)
{
    return mergeTime(hours ? hours->value() : 0, minutes ? minutes->value() : 0, seconds ? seconds->value() : 0,
                     msField ? msField->value() : 0);
}

double QKUnitConvert::dBToMultiply(double dB)
{
    const double factor = std::pow(10.0, (dB + kFullScaleDB) / 20.0) * 100.0 / 65535.0 / 100.0;
    return factor > 0 ? factor : 0.0; // also NaN
}

double QKUnitConvert::dBToPercent(double dB)
{
    return dBToMultiply(dB) * 100.0;
}

int QKUnitConvert::dBToPercentInt(double dB)
{
    const double rounded = std::floor(dBToPercent(dB) + 0.5);
    if (!(rounded >= 0)) // NaN
        return 0;
    return rounded >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(rounded);
}

double QKUnitConvert::percentToDB(double percent)
{
    if (!(percent > 0)) // 0, negative, NaN: silence
        return kSilenceDB;
    return 20.0 * std::log10(percent * 65535.0 / 100.0) - kFullScaleDB;
}

double QKUnitConvert::multiplyToDB(double factor)
{
    return percentToDB(factor * 100.0);
}
