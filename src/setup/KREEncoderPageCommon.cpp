#include "setup/KREEncoderPageCommon.h"

#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "job/QKElemValueList.h"
#include "setup/KRAEncoderPageHost.h"
#include "setup/KREEncoderBitrates.h"

namespace {

// A constant-quality value of 0 is lossless and has its own mode; above 51 x264 refuses.
constexpr int64_t kMaxCRF = 51;
constexpr int64_t kMaxQScale = 10;

// Whether args holds item as whole words: "-crf 0" is not in "-crf 0.5".
bool ContainsItem(const QString& args, const QString& item)
{
    for (qsizetype at = args.indexOf(item); at >= 0; at = args.indexOf(item, at + 1)) {
        const qsizetype end = at + item.size();
        if ((at == 0 || args.at(at - 1).isSpace()) && (end == args.size() || args.at(end).isSpace()))
            return true;
    }
    return false;
}

} // namespace

// A hand-edited text may hold any number of digits or none, and neither may wrap around into
// a valid-looking value.
double KREEncoderPageCommon::storedValue(const QKElemValueList& list, const QString& name)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?[0-9]*\\.?[0-9]*)"));
    const QString text = list.findValue(name, QString());
    const double value = leading.match(text).captured(1).toDouble();
    if (!(value > -1.0))
        return -1;
    if (!(value < 1000.0))
        return 1000;
    return value;
}

int64_t KREEncoderPageCommon::storedNumber(const QKElemValueList& list, const QString& name)
{
    return static_cast<int64_t>(storedValue(list, name));
}

void KREEncoderPageCommon::mergeX265Params(QKElemValueList& list)
{
    const QString name = QStringLiteral("x265-params");
    QStringList values;
    int64_t items = 0;
    for (int64_t i = 0; i < list.count(); ++i) {
        const std::optional<QKElemValue> item = list.valueAtIndex(i);
        if (item && item->element.compare(name, Qt::CaseInsensitive) == 0) {
            ++items;
            if (!item->value.isEmpty())
                values.append(item->value);
        }
    }
    if (items < 2)
        return;
    // One item at the place of the first, the others' values joined to it.
    QKElemValueList merged;
    bool placed = false;
    for (int64_t i = 0; i < list.count(); ++i) {
        const std::optional<QKElemValue> item = list.valueAtIndex(i);
        if (!item)
            continue;
        if (item->element.compare(name, Qt::CaseInsensitive) == 0) {
            if (!placed)
                merged.addElem(name, values.join(QLatin1Char(':')));
            placed = true;
        } else if (item->value.isEmpty()) {
            merged.addElem(item->element);
        } else {
            merged.addElem(item->element, item->value);
        }
    }
    list = merged;
}

QString KREEncoderPageCommon::cbrItem(const QString& rate) const
{
    // Without a buffer size the encoders ignore the ceiling: the buffer of one second holds
    // the rate within each second.
    return QStringLiteral("-b:v %1 -minrate %1 -maxrate %1 -bufsize %1").arg(rate);
}

QString KREEncoderPageCommon::x26xCBRItem(bool h264, const QString& rate)
{
    // x264 pads to the rate only with CBR signalling, x265 only in its strict mode.
    return QStringLiteral("-b:v %1 -minrate %1 -maxrate %1 -bufsize %1 ").arg(rate) +
           (h264 ? QStringLiteral("-nal-hrd cbr") : QStringLiteral("-x265-params strict-cbr=1"));
}

QString KREEncoderPageCommon::x26xLosslessItem(bool h264)
{
    return h264 ? QStringLiteral("-crf 0") : QStringLiteral("-x265-params lossless=1");
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
        return m_steps.count() - 1;
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
    m_exactCRF.reset();
    setMode(ModeCRF);
    setPosition(static_cast<int>(51 - value));
    m_lastCRF = value;
}

void KREEncoderPageCommon::setCRFValue(double crf)
{
    const double value = std::clamp(crf, static_cast<double>(minCRF()), static_cast<double>(kMaxCRF));
    const double step = std::round(value);
    setCRF(static_cast<int64_t>(step));
    if (value != step && acceptsFractionalCRF()) {
        m_exactCRF = value;
        m_lastCRF = value;
        refreshSlider();
    }
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
    // The steps first: a rate the table lacks adds one, which the mode's range then holds.
    const std::optional<int> position = m_steps.positionOf(bitrate);
    setMode(ModeCBR);
    if (position) {
        setPosition(*position);
        m_lastBitrateStr = bitrate;
    }
}

void KREEncoderPageCommon::setAverageBitrateStr(const QString& bitrate)
{
    const std::optional<int> position = m_steps.positionOf(bitrate);
    setMode(ModeABR);
    if (position) {
        setPosition(*position);
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

QString KREEncoderPageCommon::crfText() const
{
    if (m_exactCRF)
        return QString::number(*m_exactCRF, 'g', 10);
    return QString::number(CRF());
}

uint32_t KREEncoderPageCommon::QScale() const
{
    return static_cast<uint32_t>(10 - std::clamp(m_position, 0, 10));
}

std::optional<QString> KREEncoderPageCommon::bitrateStr() const
{
    return m_steps.text(m_position);
}

QString KREEncoderPageCommon::bitrateUserStr() const
{
    return m_steps.userText(m_position);
}

QString KREEncoderPageCommon::formatSliderLabel() const
{
    switch (m_mode) {
    case ModeCRF:
        return QStringLiteral("Quality (CRF) %1").arg(crfText());
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

QString KREEncoderPageCommon::rateControlItem() const
{
    const QString bitrate =
        bitrateStr().value_or(KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(0)));
    switch (m_mode) {
    case ModeCRF:
        return crfItem(crfText());
    case ModeCBR:
        return cbrItem(bitrate);
    case ModeABR:
        return QStringLiteral("-b:v %1").arg(bitrate);
    case ModeQScale:
        return QStringLiteral("-qscale %1").arg(QScale());
    case ModeLossless:
        return losslessItem();
    default:
        return QString();
    }
}

QString KREEncoderPageCommon::commonArgs() const
{
    QStringList items = fixedOptionsForContainerFormat(m_format);
    const QString item = rateControlItem();
    if (!item.isEmpty())
        items.append(item);
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
    const QStringList x265Params =
        list.findValue(QStringLiteral("x265-params"), QString()).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (x265Params.contains(QLatin1String("lossless=1")) ||
        list.findValue(QStringLiteral("lossless"), QString()).trimmed() == QLatin1String("1")) {
        setLossless();
    } else if (list.containsElem(QStringLiteral("crf"))) {
        const double crf = storedValue(list, QStringLiteral("crf"));
        if (static_cast<int64_t>(crf) == 0 && crf < 1.0)
            setLossless();
        else
            setCRFValue(crf);
        if (isCRF() && crf != m_exactCRF.value_or(static_cast<double>(CRF())))
            scheduleResend();
    } else if (list.containsElem(QStringLiteral("maxrate"))) {
        const QString bitrate = list.findValue(QStringLiteral("maxrate"), QString());
        setConstantBitrateStr(bitrate);
        if (!KREEncoderBitrates::parseBitrate(bitrate))
            scheduleResend();
    } else if (list.containsElem(QStringLiteral("b:v"))) {
        const QString bitrate = list.findValue(QStringLiteral("b:v"), QString());
        setAverageBitrateStr(bitrate);
        if (!KREEncoderBitrates::parseBitrate(bitrate))
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
    // A mode read from a text in another form (a constant bit rate without its buffer, x265's
    // "-crf 0" for lossless) is written again in the form that does what the mode says.
    if (m_mode != ModeNone && writesCommonRateItem() && !ContainsItem(args, rateControlItem()))
        scheduleResend();
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
        setCRFValue(*m_lastCRF);
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
    // The stored fraction belongs to the step it was read at.
    if (m_mode == ModeCRF)
        m_exactCRF.reset();
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
