#include "setup/KREEncoderPageVP.h"

#include <QFormLayout>
#include <QVBoxLayout>

#include "job/QKElemValueList.h"

KREEncoderPageVP8::KREEncoderPageVP8(KRAEncoderPageHost* host, const QString& format, QObject* parent)
    : KREEncoderPageCodec(host, format, {ModeABR, ModeCBR, ModeCRF}, parent)
{
}

QString KREEncoderPageVP8::encoderArgs() const
{
    return QStringLiteral("%1 -c:v libvpx %2").arg(audioSwitch(), commonArgs());
}

void KREEncoderPageVP8::setEncoderArgs(const QString& args)
{
    readCodecArgs(args);
    // VP8 has no lossless mode and libvpx refuses "-crf 0": the best quality it takes instead.
    if (isLossless()) {
        setCRF(minCRF());
        scheduleResend();
    }
    // The pop-up has no entry of its own for the other modes: they show as CRF.
    if (!isABR() && !isCBR())
        setOptionIndex(2);
    refreshControls();
}

KREEncoderPageVP9::KREEncoderPageVP9(KRAEncoderPageHost* host, const QString& format, QObject* parent)
    : KREEncoderPageCodec(host, format, {ModeABR, ModeCBR, ModeCRF, ModeLossless}, parent)
{
}

QString KREEncoderPageVP9::encoderArgs() const
{
    QString deadline;
    if (m_qMode == 1)
        deadline = QStringLiteral("-deadline best");
    else if (m_qMode == 2)
        deadline = QStringLiteral("-deadline realtime");
    return QStringLiteral(" %1 -c:v libvpx-vp9 %2 %3").arg(audioSwitch(), commonArgs(), deadline);
}

void KREEncoderPageVP9::setEncoderArgs(const QString& args)
{
    readCodecArgs(args);
    const QString deadline = QKElemValueList(args).findValue(QStringLiteral("deadline"), QString());
    m_qMode = deadline == QLatin1String("best") ? 1 : deadline == QLatin1String("realtime") ? 2 : 0;
    refreshControls();
}

void KREEncoderPageVP9::onQComboChange(int index)
{
    if (index < 0 || index > 2)
        return;
    m_qMode = static_cast<uint32_t>(index);
    onChanged();
}

void KREEncoderPageVP9::addFormRows(QFormLayout* form)
{
    m_qPopup = new QComboBox;
    m_qPopup->addItems(
        {QStringLiteral("Default"), QStringLiteral("Best quality (slow)"), QStringLiteral("Realtime (fast)")});
    form->addRow(QStringLiteral("Encoding s&peed:"), m_qPopup);
    connect(m_qPopup, &QComboBox::activated, this, &KREEncoderPageVP9::onQComboChange);
}

void KREEncoderPageVP9::refreshControls()
{
    KREEncoderPageCodec::refreshControls();
    if (m_qPopup) {
        const QSignalBlocker block(m_qPopup);
        m_qPopup->setCurrentIndex(static_cast<int>(m_qMode));
    }
}
