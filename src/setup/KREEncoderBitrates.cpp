#include "setup/KREEncoderBitrates.h"

#include <QRegularExpression>

#include <cmath>

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

std::optional<double> KREEncoderBitrates::parseBitrate(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,12})(\\.[0-9]{1,9})?([kM]?)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    double kbps = (match.captured(1) + match.captured(2)).toDouble();
    const QString unit = match.captured(3);
    if (unit.isEmpty())
        kbps /= 1000.0;
    else if (unit == QLatin1String("M"))
        kbps *= 1000.0;
    if (!(kbps >= 1.0) || !(kbps <= 1000000.0))
        return std::nullopt;
    return kbps;
}

int KREBitrateSteps::extraPosition() const
{
    int position = 0;
    while (position < KREEncoderBitrates::kCount && KREEncoderBitrates::bitrateByIndex(position) < m_extraKbps)
        ++position;
    return position;
}

int KREBitrateSteps::tableIndexAt(int position) const
{
    if (!m_extraInserted)
        return position;
    const int extra = extraPosition();
    if (position == extra)
        return -1;
    return position < extra ? position : position - 1;
}

std::optional<QString> KREBitrateSteps::text(int position) const
{
    if (position < 0 || position >= count())
        return std::nullopt;
    const int index = tableIndexAt(position);
    if (index < 0 || index == m_extraReplaces)
        return m_extraText;
    return KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(static_cast<uint64_t>(index)));
}

QString KREBitrateSteps::userText(int position) const
{
    const int index = position < 0 || position >= count() ? 0 : tableIndexAt(position);
    if (index >= 0)
        return KREEncoderBitrates::formatBitrateUser(KREEncoderBitrates::bitrateByIndex(static_cast<uint64_t>(index)));
    // The user's form cuts to one decimal of megabits: a rate it cannot show as it is shows
    // in kilobits, with its fraction.
    const double whole = std::floor(m_extraKbps);
    if (whole == m_extraKbps) {
        const auto kbps = static_cast<uint32_t>(whole);
        if (KREEncoderBitrates::parseBitrate(KREEncoderBitrates::formatBitrate(kbps)) == m_extraKbps)
            return KREEncoderBitrates::formatBitrateUser(kbps);
    }
    return QStringLiteral("%1 kbps").arg(
        QString::number(m_extraKbps, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$"))));
}

std::optional<int> KREBitrateSteps::positionOf(const QString& text)
{
    const int64_t index = KREEncoderBitrates::findBitrateIndex(text);
    if (index == KREEncoderBitrates::kNotFound) {
        const std::optional<double> kbps = KREEncoderBitrates::parseBitrate(text);
        if (!kbps)
            return std::nullopt;
        m_extraText = text;
        m_extraKbps = *kbps;
        m_extraReplaces = -1;
        m_extraInserted = true;
        for (int i = 0; i < KREEncoderBitrates::kCount; ++i) {
            if (KREEncoderBitrates::bitrateByIndex(static_cast<uint64_t>(i)) == *kbps) {
                m_extraReplaces = i;
                m_extraInserted = false;
            }
        }
        return m_extraInserted ? extraPosition() : m_extraReplaces;
    }
    // A table text: the step of its entry, which shows the table's text again.
    if (static_cast<int>(index) == m_extraReplaces) {
        m_extraText.reset();
        m_extraReplaces = -1;
    }
    const int position = static_cast<int>(index);
    if (m_extraInserted && position >= extraPosition())
        return position + 1;
    return position;
}
