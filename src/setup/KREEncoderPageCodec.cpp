#include "setup/KREEncoderPageCodec.h"

#include <QFormLayout>
#include <QVBoxLayout>

KREEncoderPageCodec::KREEncoderPageCodec(KRAEncoderPageHost* host, const QString& format, QList<uint32_t> rateModes,
                                         QObject* parent)
    : KREEncoderPageCommon(host, format, parent), m_rateModes(std::move(rateModes)),
      m_audioOptions(KREAudioOptions::createForFormat(format))
{
}

QString KREEncoderPageCodec::modeLabel(uint32_t mode)
{
    switch (mode) {
    case ModeCRF:
        return QStringLiteral("Constant quality (CRF)");
    case ModeCBR:
        return QStringLiteral("Constant bitrate");
    case ModeABR:
        return QStringLiteral("Average bitrate");
    case ModeQScale:
        return QStringLiteral("Quality scale");
    case ModeLossless:
        return QStringLiteral("Lossless");
    default:
        return QString();
    }
}

void KREEncoderPageCodec::setAudioOptionIndex(uint64_t index)
{
    const auto count = static_cast<uint64_t>(m_audioOptions.optionSwitches().size());
    m_audioOptionIndex = count == 0 ? 0 : std::min(index, count - 1);
    if (m_audioPopup) {
        const QSignalBlocker block(m_audioPopup);
        m_audioPopup->setCurrentIndex(static_cast<int>(m_audioOptionIndex));
    }
}

QString KREEncoderPageCodec::audioSwitch() const
{
    const QStringList& switches = m_audioOptions.optionSwitches();
    return m_audioOptionIndex < static_cast<uint64_t>(switches.size())
               ? switches.at(static_cast<int>(m_audioOptionIndex))
               : QString();
}

void KREEncoderPageCodec::fixOptionIndex()
{
    const int at = m_rateModes.indexOf(mode());
    if (at >= 0)
        m_optionIndex = static_cast<uint32_t>(at);
}

void KREEncoderPageCodec::readCodecArgs(const QString& args)
{
    readCommonArgs(args);
    // Stored by the macOS program: the engine runs such a text with "aac", and the host is
    // given the text the page shows.
    if (args.contains(QLatin1String("aac_at")))
        scheduleResend();
    fixOptionIndex();
    setAudioOptionIndex(static_cast<uint64_t>(m_audioOptions.optionFromArgs(args)));
    refreshControls();
}

void KREEncoderPageCodec::optionChanged(int index)
{
    if (index < 0 || index >= m_rateModes.size())
        return;
    m_optionIndex = static_cast<uint32_t>(index);
    switch (m_rateModes.at(index)) {
    case ModeCRF:
        switchToCRF();
        break;
    case ModeCBR:
        switchToCBR();
        break;
    case ModeABR:
        switchToABR();
        break;
    case ModeQScale:
        switchToQScale();
        break;
    case ModeLossless:
        switchToLossless();
        break;
    default:
        break;
    }
    onChanged();
}

void KREEncoderPageCodec::audioOptionChanged(int index)
{
    if (index < 0)
        return;
    setAudioOptionIndex(static_cast<uint64_t>(index));
    onChanged();
}

void KREEncoderPageCodec::selectCodecChoice(int index)
{
    if (index >= 0 && index < m_audioOptions.optionSwitches().size())
        audioOptionChanged(index);
}

void KREEncoderPageCodec::addControlsAbove(QVBoxLayout* layout)
{
    auto* form = new QFormLayout;
    if (!m_rateModes.isEmpty()) {
        m_ratePopup = new QComboBox;
        for (uint32_t rateMode : m_rateModes)
            m_ratePopup->addItem(modeLabel(rateMode));
        form->addRow(QStringLiteral("&Rate control:"), m_ratePopup);
        connect(m_ratePopup, &QComboBox::activated, this, &KREEncoderPageCodec::optionChanged);
    }
    if (!m_audioOptions.optionLabels().isEmpty()) {
        m_audioPopup = new QComboBox;
        m_audioPopup->addItems(m_audioOptions.optionLabels());
        m_audioPopup->setEnabled(showAudioOptions());
        form->addRow(QStringLiteral("&Audio:"), m_audioPopup);
        connect(m_audioPopup, &QComboBox::activated, this, &KREEncoderPageCodec::audioOptionChanged);
    }
    addFormRows(form);
    layout->addLayout(form);
}

void KREEncoderPageCodec::refreshControls()
{
    // The defaults of a fresh page set the mode without reading a text: the pop-up follows
    // the mode whichever way it was set.
    fixOptionIndex();
    if (m_ratePopup) {
        const QSignalBlocker block(m_ratePopup);
        m_ratePopup->setCurrentIndex(static_cast<int>(m_optionIndex));
    }
    setAudioOptionIndex(m_audioOptionIndex);
}
