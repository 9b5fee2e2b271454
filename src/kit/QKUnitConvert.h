// Conversions between time fields and milliseconds, and between decibels, gain factors and
// percentages (100 % = a factor of 1 = 0 dB).
#pragma once

#include <cstdint>

class QSpinBox;

struct QKTimeFields {
    int hours = 0;   // 0 when split without an hours field
    int minutes = 0; // 0-59 with an hours field, else all the minutes
    int seconds = 0;
    int ms = 0;
};

class QKUnitConvert {
public:
    // ms field = ms mod 1000, seconds = (ms / 1000) mod 60; with hours: minutes = (ms / 60000)
    // mod 60 and hours = ms / 3600000; without: minutes = ms / 60000. A negative duration
    // splits as 0; a field too large for an int holds the largest int.
    static QKTimeFields splitTime(int64_t ms, bool withHours);
    // Fills the fields; a null hours field puts all the minutes into the minutes field.
    // Null fields other than hours are skipped.
    static void splitTime(int64_t ms, QSpinBox* hours, QSpinBox* minutes, QSpinBox* seconds, QSpinBox* msField);

    // ms + seconds x 1000 + minutes x 60000 + hours x 3600000, without overflow.
    static int64_t mergeTime(int hours, int minutes, int seconds, int ms);
    // The same from the fields' values; a null field counts as 0.
    static int64_t mergeTime(const QSpinBox* hours, const QSpinBox* minutes, const QSpinBox* seconds,
                             const QSpinBox* msField);

    // 10^(dB / 20), never below 0 (NaN gives 0).
    static double dBToMultiply(double dB);
    static double dBToPercent(double dB);
    // Rounded to the nearest int, held within the int range.
    static int dBToPercentInt(double dB);
    // 20 x log10(p / 100) for any p above 0, so gains above 100 % give positive decibels;
    // 0, a negative p or NaN give -96.3, the floor of 16-bit audio.
    static double percentToDB(double percent);
    static double multiplyToDB(double factor);
};
