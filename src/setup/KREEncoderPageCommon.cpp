#include "setup/KREEncoderPageCommon.h"

#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "job/QKElemValueList.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KREEncoderBitrates.h"

namespace {

// A constant-quality value of 0 is lossless and has its own mode; above 51 x264 refuses.
constexpr int64_t kMaxCRF = 51;
constexpr int64_t kMaxQScale = 10;

} // namespace

// A hand-edited text may hold any number of digits or none, and neither may wrap around into
// a valid-looking value.
int64_t KREEncoderPageCommon::storedNumber(const QKElemValueList& list, const QString& name)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?[0-9]*\\.?[0-9]*)"));
    const QString text = list.findValue(name, QString());
    const double value = leading.match(text).captured(1).toDouble();
    if (!(value > -1.0))
        return -1;
    if (!(value < 1000.0))
        return 1000;
    return static_cast<int64_t>(value);
}

KREEncoderPageCommon::KREEncoderPageCommon(KRAEncoderPageHost* host, const QString& format, QObject* parent)
    : KREEncoderPage(host, parent), m_format(format)
{
}

QStringList KREEncoderPageCommon::fixedOptionsForContainerFormat(const QString& format)
{
    if (format.toLower() == QLatin1String("mp4"))
        return {QStringLiteral("-c:s mov_text")};
    return {};
}

int KREEncoderPageCommon::sliderMaximum() const
{
    switch (m_mode) {
    case ModeCRF:
        return static_cast<int>(kMaxCRF - minCRF());
    case ModeCBR:
    case ModeABR:
        return KREEncoderBitrates::kCount - 1;
    case ModeQScale:
        return 10;
    default:
        return m_slider ? m_slider->maximum() : 50;
    }
}

void KREEncoderPageCommon::setMode(uint32_t mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    // A position from the previous mode's longer range lands on this range's end.
    m_position = std::clamp(m_position, 0, sliderMaximum());
    refreshSlider();
}

void KREEncoderPageCommon::setPosition(int position)
{
    m_position = std::clamp(position, 0, sliderMaximum());
    refreshSlider();
}

void KREEncoderPageCommon::refreshSlider()
{
    if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setMaximum(sliderMaximum());
        m_slider->setValue(m_position);
        m_slider->setEnabled(m_mode != ModeLossless);
    }
    if (m_label)
        m_label->setText(formatSliderLabel());
}

void KREEncoderPageCommon::setCRF(int64_t crf)
{
    const auto value = static_cast<uint32_t>(std::clamp(crf, minCRF(), kMaxCRF));
    setMode(ModeCRF);
    setPosition(static_cast<int>(51 - value));
    m_lastCRF = value;
}

void KREEncoderPageCommon::setQScale(int64_t qscale)
{
    const auto value = static_cast<uint32_t>(std::clamp<int64_t>(qscale, 0, kMaxQScale));
    setMode(ModeQScale);
    setPosition(static_cast<int>(10 - value));
    m_lastQScale = value;
}

void KREEncoderPageCommon::setConstantBitrateStr(const QString& bitrate)
{
    setMode(ModeCBR);
    const int64_t index = KREEncoderBitrates::findBitrateIndex(bitrate);
    if (index != KREEncoderBitrates::kNotFound) {
        setPosition(static_cast<int>(index));
        m_lastBitrateStr = bitrate;
    }
}

void KREEncoderPageCommon::setAverageBitrateStr(const QString& bitrate)
{
    setMode(ModeABR);
    const int64_t index = KREEncoderBitrates::findBitrateIndex(bitrate);
    if (index != KREEncoderBitrates::kNotFound) {
        setPosition(static_cast<int>(index));
        m_lastBitrateStr = bitrate;
    }
}

void KREEncoderPageCommon::setLossless()
{
    setMode(ModeLossless);
    setPosition(0);
}

uint32_t KREEncoderPageCommon::CRF() const
{
    return static_cast<uint32_t>(51 - std::clamp(m_position, 0, static_cast<int>(kMaxCRF - minCRF())));
}

uint32_t KREEncoderPageCommon::QScale() const
{
    return static_cast<uint32_t>(10 - std::clamp(m_position, 0, 10));
}

std::optional<QString> KREEncoderPageCommon::bitrateStr() const
{
    if (m_position < 0 || m_position >= KREEncoderBitrates::kCount)
        return std::nullopt;
    return KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(m_position));
}

QString KREEncoderPageCommon::bitrateUserStr() const
{
    return KREEncoderBitrates::formatBitrateUser(KREEncoderBitrates::bitrateByIndex(m_position));
}

QString KREEncoderPageCommon::formatSliderLabel() const
{
    switch (m_mode) {
    case ModeCRF:
        return QStringLiteral("Quality (CRF) %1").arg(CRF());
    case ModeCBR:
        return QStringLiteral("Constant bitrate: %1").arg(bitrateUserStr());
    case ModeABR:
        return QStringLiteral("Average bitrate: %1").arg(bitrateUserStr());
    case ModeQScale:
        return QStringLiteral("Quality (qscale) %1").arg(QScale());
    case ModeLossless:
        return QStringLiteral("Lossless video encoding");
    default:
        return QString();
    }
}

QString KREEncoderPageCommon::commonArgs() const
{
    QStringList items = fixedOptionsForContainerFormat(m_format);
    const QString bitrate =
        bitrateStr().value_or(KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(0)));
    switch (m_mode) {
    case ModeCRF:
        items.append(QStringLiteral("-crf %1").arg(CRF()));
        break;
    case ModeCBR:
        items.append(QStringLiteral("-b:v %1 -minrate %1 -maxrate %1").arg(bitrate));
        break;
    case ModeABR:
        items.append(QStringLiteral("-b:v %1").arg(bitrate));
        break;
    case ModeQScale:
        items.append(QStringLiteral("-qscale %1").arg(QScale()));
        break;
    case ModeLossless:
        items.append(QStringLiteral("-crf 0"));
        break;
    default:
        break;
    }
    return items.join(QLatin1Char(' '));
}

void KREEncoderPageCommon::readCommonArgs(const QString& args)
{
    for (const QString& option : fixedOptionsForContainerFormat(m_format)) {
        if (!args.contains(option)) {
            // The host gets the complete text once this reading is done.
            scheduleResend();
            break;
        }
    }
    const QKElemValueList list(args);
    // A number out of the page's range, or a rate ffmpeg cannot read, would fail every
    // conversion of the stored text: the host is given the value the page shows instead.
    static const QRegularExpression rate(QStringLiteral("^[0-9]+(\\.[0-9]+)?[kM]?$"));
    if (list.containsElem(QStringLiteral("crf"))) {
        const int64_t crf = storedNumber(list, QStringLiteral("crf"));
        if (crf == 0)
            setLossless();
        else
            setCRF(crf);
        if (crf != 0 && crf != static_cast<int64_t>(CRF()))
            scheduleResend();
    } else if (list.containsElem(QStringLiteral("maxrate"))) {
        const QString bitrate = list.findValue(QStringLiteral("maxrate"), QString());
        setConstantBitrateStr(bitrate);
        if (!rate.match(bitrate).hasMatch())
            scheduleResend();
    } else if (list.containsElem(QStringLiteral("b:v"))) {
        const QString bitrate = list.findValue(QStringLiteral("b:v"), QString());
        setAverageBitrateStr(bitrate);
        if (!rate.match(bitrate).hasMatch())
            scheduleResend();
    } else if (list.containsElem(QStringLiteral("qscale"))) {
        const int64_t qscale = storedNumber(list, QStringLiteral("qscale"));
        setQScale(qscale);
        if (qscale != static_cast<int64_t>(QScale()))
            scheduleResend();
    } else if (!readOtherRateControl(list) && m_mode == ModeNone) {
        // Left without a mode, the slider would move nothing and the pop-up would name a mode
        // the text does not have.
        fillDefaultArgs();
        scheduleResend();
    }
}

void KREEncoderPageCommon::scheduleResend()
{
    if (m_resendPending)
        return;
    m_resendPending = true;
    QTimer::singleShot(0, this, [this] {
        m_resendPending = false;
        onChanged();
    });
}

void KREEncoderPageCommon::switchToCRF()
{
    if (m_mode == ModeCRF)
        return;
    if (m_lastCRF)
        setCRF(*m_lastCRF);
    else
        setDefCRF();
}

void KREEncoderPageCommon::switchToCBR()
{
    if (m_mode == ModeCBR)
        return;
    if (!m_lastBitrateStr.isEmpty())
        setConstantBitrateStr(m_lastBitrateStr);
    else
        setDefCBR();
}

void KREEncoderPageCommon::switchToABR()
{
    if (m_mode == ModeABR)
        return;
    if (!m_lastBitrateStr.isEmpty())
        setAverageBitrateStr(m_lastBitrateStr);
    else
        setDefABR();
}

void KREEncoderPageCommon::switchToQScale()
{
    if (m_mode == ModeQScale)
        return;
    if (m_lastQScale)
        setQScale(*m_lastQScale);
    else
        setDefQScale();
}

void KREEncoderPageCommon::switchToLossless()
{
    if (m_mode != ModeLossless)
        setLossless();
}

void KREEncoderPageCommon::onSliderChanged(int position)
{
    if (m_mode == ModeLossless || m_mode == ModeNone)
        return;
    setPosition(position);
    onChanged();
    if (m_mode == ModeCBR || m_mode == ModeABR)
        m_lastBitrateStr = bitrateStr().value_or(m_lastBitrateStr);
    else if (m_mode == ModeCRF)
        m_lastCRF = CRF();
    else if (m_mode == ModeQScale)
        m_lastQScale = QScale();
}

void KREEncoderPageCommon::onChanged()
{
    if (KRAEncoderPageHost* h = host())
        h->setEncoderArgs(encoderArgs());
}

void KREEncoderPageCommon::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    addControlsAbove(layout);
    m_label = new QLabel(view);
    m_slider = new QSlider(Qt::Horizontal, view);
    m_slider->setMinimum(0);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(1);
    m_slider->setPageStep(1);
    m_slider->setAccessibleName(QStringLiteral("Quality"));
    m_label->setBuddy(m_slider);
    layout->addWidget(m_label);
    layout->addWidget(m_slider);
    addControlsBelow(layout);
    layout->addStretch(1);
    connect(m_slider, &QSlider::valueChanged, this, &KREEncoderPageCommon::onSliderChanged);
    setView(view);
}

void KREEncoderPageCommon::viewDidLoad()
{
    KRAEncoderPageHost* h = host();
    const QString stored = h ? h->encoderArgs() : QString();
    if (!stored.isEmpty()) {
        setEncoderArgs(stored);
    } else {
        fillDefaultArgs();
        if (h)
            h->setEncoderArgs(encoderArgs());
    }
    refreshSlider();
    refreshControls();
}
