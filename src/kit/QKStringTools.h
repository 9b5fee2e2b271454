// Display texts that follow the user's unit settings (see UnitFormat.h): durations, sizes,
// sample rates, channel counts and bit rates; colour-marked text; shell quoting.
#pragma once

#include "kit/QKAttributedText.h"
#include "xclass/XStr.h"

#include <QString>
#include <QStringList>

#include <cstdint>

class QKStringTools {
public:
    // In the "UnitsTime" style: 0 or 4 words, 1 m:ss, 2 h:mm:ss, 3 h:mm:ss.mmm.
    static QString formatDuration(uint64_t ms);
    static QString formatDurationPrecise(uint64_t ms);
    static QString formatDurationLong(uint64_t ms);
    // "UnitsFileSize": 3 bytes with grouping ("1,234,567 bytes"), 2 always kilobytes, else the
    // unit that fits.
    static QString formatFileSize(uint64_t bytes);
    // 0 gives "[as source]".
    static QString formatSampleRate(int hz);
    static QString formatChannels(int channels);
    // formatChannels of 0 to 8 (index = channel count) / of 1 to 8.
    static QStringList channelModeLabels();
    static QStringList channelModeLabelsNo0();
    // Never with a format hint.
    static QString formatBitRate(int bps);

    // One argument for a command line that a POSIX shell reads: unchanged when it is not empty
    // and made only of 0-9 A-Z a-z + - . / _; else in double quotes with a backslash before
    // every ", \, $ and `, so the shell gives back exactly the text and expands nothing.
    static QString escapeCommandLineArg(const QString& arg);
    // The same for wide text; characters that stand for bytes that are not UTF-8 pass through.
    static XStr escapeCommandLineArg(const XStr& arg);

    // Text with colour markers "_RGB_-RGB-rrr-ggg-bbb" (three three-digit decimal components):
    // each marker colours the text after it and is not shown. 000-000-120 is the system blue,
    // 000-120-000 the system green, 000-000-000 the view's own text colour. A cut-off marker
    // at the end is dropped; components above 255 count as 255. A null text gives empty text.
    static QKAttributedText importColorsW(const wchar_t* text);

    // The fixed colours of the markers.
    static QColor systemBlueColor();
    static QColor systemGreenColor();
};
