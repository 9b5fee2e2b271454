#include "kit/UnitFormat.h"

#include "xclass/XFormat.h"
#include "xclass/XRegistry.h"

uint32_t QKReadUnitSetting(const wchar_t* valueName)
{
    bool notFound = false;
    return XRegistry::GetDWORD(valueName, kUnitsRoot, kUnitsKey, &notFound);
}

namespace {
bool HintsOn()
{
    return QKReadUnitSetting(L"kRANoCDDvdDatHelper") == 0;
}
} // namespace

XStr formatFreqUnits(int rate)
{
    XStr text;
    if (QKReadUnitSetting(L"UnitsFreq") != 0) {
        text = XFormatNumber(rate);
        text += L" Hz";
    } else {
        text = XFormatFloat(rate / 1000.0, 1, false);
        text += L" kHz";
    }
    if (HintsOn()) {
        if (rate == 96000)
            text += L"  (DVD)";
        else if (rate == 48000)
            text += L"  (DAT)";
        else if (rate == 44100)
            text += L"  (CD)";
    }
    return text;
}

XStr formatChannelUnits(unsigned count)
{
    const bool hints = HintsOn();
    const uint32_t units = QKReadUnitSetting(L"UnitsChannels");
    const XStr number = XStr::FromULong(count);
    if (units == 2) {
        switch (count) {
        case 1:
            return XStr(L"Mono");
        case 2:
            return XStr(hints ? L"Stereo  (CD)" : L"Stereo");
        case 4:
            return XStr(L"Quadraphonic");
        case 5:
            return XStr(L"Surround");
        case 6:
            return XStr(hints ? L"5.1 surround  (DVD)" : L"5.1 surround");
        case 8:
            return XStr(L"7.1 theater");
        default:
            return number + L" channels";
        }
    }
    if (units == 0) {
        switch (count) {
        case 1:
            return number + L"  'mono'";
        case 2:
            return number + (hints ? L"  'stereo'  (CD)" : L"  'stereo'");
        case 4:
            return number + L"  'quadraphonic'";
        case 5:
            return number + L"  'surround'";
        case 6:
            return number + (hints ? L"  '5.1 surround'  (DVD)" : L"  '5.1 surround'");
        case 8:
            return number + L"  '7.1 theater'";
        default:
            return number;
        }
    }
    return number;
}

XStr formatBitRateUnits(int bps, int channels, int rate)
{
    const uint32_t units = QKReadUnitSetting(L"UnitsBitRate");
    XStr text;
    if (units == 2) {
        text = XFormatNumber(bps);
        text += L" bps";
    } else {
        text = XFormatNumber(bps / 1000);
        text += L" kbps";
    }
    if (units == 0 && channels != 0 && rate != 0) {
        // In 64 bits: INT_MIN / -1 does not fit in an int.
        const int64_t perChannel = static_cast<int64_t>(bps) / channels;
        if (rate == 44100 && channels == 2 && perChannel >= 705000 && perChannel <= 707000)
            text += L"  (CD)";
        else if (rate == 48000 && channels == 2 && perChannel >= 767000 && perChannel <= 769000)
            text += L"  (DAT)";
        else if (perChannel >= 1000000)
            text += L"  (DVD)";
    }
    return text;
}
