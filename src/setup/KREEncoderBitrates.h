// The 20 video bit rates every bit-rate slider steps through, in kbit/s, and their two text
// forms: ffmpeg's ("1.5M", "800k") and the user's ("1.5 mbps", "800 kbps").
#pragma once

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>

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
    // A stored rate in kbit/s: digits with an optional fraction, then "k", "M" or nothing
    // (bit/s), as ffmpeg reads them. None for any other text, and for a rate below 1 kbit/s
    // or above 1000 Mbit/s, which no encoder here can hold.
    static std::optional<double> parseBitrate(const QString& text);
};

// The steps of a bit-rate slider: the 20 table rates and, when a stored text names a rate the
// table lacks ("1500k" is 1.5M in other words, "7M" is not in it at all), that text as a step
// of its own in rate order, so that reading and writing a text never changes the rate. A
// text with the rate of a table entry takes that entry's place instead of adding one.
class KREBitrateSteps {
public:
    int count() const { return KREEncoderBitrates::kCount + (m_extraInserted ? 1 : 0); }
    // The ffmpeg text and the user's text of a step; positions beyond the ends give none and
    // the lowest rate's user text.
    std::optional<QString> text(int position) const;
    QString userText(int position) const;
    // The step of a stored text, adding it as the extra step when it is a readable rate the
    // table lacks (replacing an earlier extra one); none for a text no encoder can read.
    std::optional<int> positionOf(const QString& text);
    bool hasExtra() const { return m_extraText.has_value(); }

private:
    // The step's table index, or -1 for the inserted extra step.
    int tableIndexAt(int position) const;
    int extraPosition() const;

    std::optional<QString> m_extraText;
    double m_extraKbps = 0;
    // Whether the extra step stands between the table's entries (a rate the table lacks).
    bool m_extraInserted = false;
    // The table index an extra text with a table rate replaces.
    int m_extraReplaces = -1;
};
