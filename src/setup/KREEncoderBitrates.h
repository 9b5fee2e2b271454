// The 20 video bit rates every bit-rate slider steps through, in kbit/s, and their two text
// forms: ffmpeg's ("1.5M", "800k") and the user's ("1.5 mbps", "800 kbps").
#pragma once

#include <QString>

#include <cstdint>
#include <limits>

class KREEncoderBitrates {
public:
    static constexpr int kCount = 20;
    // findBitrateIndex's answer for a text that is not one of the table's.
    static constexpr int64_t kNotFound = std::numeric_limits<int64_t>::max();

    static QString formatBitrate(uint32_t kbps);
    static QString formatBitrateUser(uint32_t kbps);
    // The index whose ffmpeg text equals the text exactly ("1M" -> 7; "1000k" is not found).
    static int64_t findBitrateIndex(const QString& text);
    // kbit/s at the index; 0 beyond the table.
    static uint32_t bitrateByIndex(uint64_t index);
};
