// Display units of audio properties: sample rates, channel counts and bit rates shown the way
// the user's unit settings ask, with hints naming the familiar CD, DAT and DVD formats.
//
// The settings are DWORD values of the registry store under root "HKCU", key
// "Software\Brantok\MarvoniVideo\Ref" (a missing value reads as 0), read on every call:
// "UnitsFreq" (0 kilohertz, other hertz), "UnitsChannels" (0 the number with a quoted word,
// 2 words, other the bare number), "UnitsBitRate" (2 bps, other kbps; 0 also allows the
// format hint), "kRANoCDDvdDatHelper" (non-zero: no hints for rates and channels), and for the
// duration and size formats of QKStringTools "UnitsTime" and "UnitsFileSize".
#pragma once

#include "xclass/XStr.h"

#include <cstdint>

inline constexpr const wchar_t* kUnitsRoot = L"HKCU";
inline constexpr const wchar_t* kUnitsKey = L"Software\\Brantok\\MarvoniVideo\\Ref";

// One unit setting; 0 when it is missing or not a number.
uint32_t QKReadUnitSetting(const wchar_t* valueName);

// "44.1 kHz  (CD)", "48,000 Hz  (DAT)".
XStr formatFreqUnits(int rate);
// "Stereo  (CD)", "2  'stereo'  (CD)", "3 channels", "3".
XStr formatChannelUnits(unsigned count);
// "1,411 kbps  (CD)", "128,000 bps". The hint needs both the channels and the rate.
XStr formatBitRateUnits(int bps, int channels, int rate);
