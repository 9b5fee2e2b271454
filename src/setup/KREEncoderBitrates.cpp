#include "setup/KREEncoderBitrates.h"

namespace {

constexpr uint32_t kRates[KREEncoderBitrates::kCount] = {200,  300,  400,  500,  600,  700,  800,  1000,  1500,  2000,
                                                         2500, 3000, 3500, 4000, 5000, 6000, 8000, 10000, 15000, 20000};

// Whole megabits, one truncated decimal of them, or kilobits.
QString Format(uint32_t kbps, const char* mega, const char* megaDecimal, const char* kilo)
{
    if (kbps > 999 && kbps % 1000 == 0)
        return QString::asprintf(mega, kbps / 1000);
    if (kbps > 999)
        return QString::asprintf(megaDecimal, kbps / 1000, (kbps % 1000) / 100);
    return QString::asprintf(kilo, kbps);
}

} // namespace

QString KREEncoderBitrates::formatBitrate(uint32_t kbps)
{
    return Format(kbps, "%uM", "%u.%uM", "%uk");
}

QString KREEncoderBitrates::formatBitrateUser(uint32_t kbps)
{
    return Format(kbps, "%u mbps", "%u.%u mbps", "%u kbps");
}

int64_t KREEncoderBitrates::findBitrateIndex(const QString& text)
{
    for (int i = 0; i < kCount; ++i) {
        if (formatBitrate(kRates[i]) == text)
            return i;
    }
    return kNotFound;
}

uint32_t KREEncoderBitrates::bitrateByIndex(uint64_t index)
{
    return index < static_cast<uint64_t>(kCount) ? kRates[index] : 0;
}
