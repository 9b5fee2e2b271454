// Display texts for numbers, durations and file sizes.
//
// The number-format settings follow the Windows locale model (grouping rule, separators,
// negative-number mode) but hold one fixed set of values: the program's lists and logs look
// the same whatever the user's locale.
#pragma once

#include "xclass/XStr.h"

#include <cstdint>

struct XNumberFormatSettings {
    // 0 "(1.1)", 1 "-1.1", 2 "- 1.1", 3 "1.1-", 4 "1.1 -".
    int NegativeMode;
    XStr Grouping; // "3;0": groups of three; "3;2;0": three, then groups of two
    XStr NegativeSign;
    XStr PositiveSign;
    XStr ThousandsSeparator;
    XStr DecimalSeparator;
    XStr TimeSeparator;
};

// The settings in force, loaded once on first use (thread-safe).
const XNumberFormatSettings& XGetNumberFormatSettings();

// Groups the digits of a plain decimal text ("-1234.5"), puts the decimal separator in and
// writes the sign in the negative-number mode, in place. An empty text stays empty.
void XApplyNumberFormat(XStr& text);

// XStr::FromDouble (rounding adds 0.49 at the last kept decimal), then XApplyNumberFormat.
XStr XFormatFloat(double value, int decimals, bool keepZeros);
XStr XFormatNumber(int64_t value);
XStr XFormatUnsigned(uint64_t value);

// Styles: 0 words ("1 hour 2 minutes", "2.5 seconds", "500 mili-seconds"); 4 words without
// milliseconds; 1 "m:ss" or "h:mm:ss"; 2 "hh:mm:ss"; 3 "hh:mm:ss.mmm"; any other: empty.
// A negative duration is shown as 0.
XStr XFormatDuration(int64_t ms, unsigned style);

// "1.5 GB", "1,023.99 MB", "2 KB" (rounded up), "1 byte", "17 bytes"; multiples of 1024.
// forceKB always gives kilobytes ("0 KB" for 5 bytes).
XStr XFormatFileSize(int64_t bytes, bool forceKB);
