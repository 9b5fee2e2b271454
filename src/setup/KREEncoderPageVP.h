// The pages of the VP8 ("WebM (VP8)") and VP9 ("WebM (VP9)", "Matroska (VP9)") encoders.
#pragma once

#include <QComboBox>
#include <QPointer>

#include "setup/KREEncoderPageCodec.h"

class KREEncoderPageVP8 : public KREEncoderPageCodec {
    Q_OBJECT
public:
    // Rate-control pop-up: 0 ABR, 1 CBR, 2 CRF.
    KREEncoderPageVP8(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr);

    QString encoderArgs() const override;
    void setEncoderArgs(const QString& args) override;
    void fillDefaultArgs() override { setDefCRF(); }
    // libvpx refuses a VP8 quality level below its lowest quantiser, 4.
    int64_t minCRF() const override { return 4; }
    uint32_t modeIndex() const { return optionIndex(); }

protected:
    // libvpx's constant quality for VP8 is a quality within a bit-rate ceiling, and without a
    // rate of its own the ceiling is libvpx's default of 256 kbit/s: every quality would give
    // the same file. The ceiling of 1 Gbit/s leaves the quality alone in charge.
    QString crfItem(const QString& crf) const override { return QStringLiteral("-crf %1 -b:v 1G").arg(crf); }
};

class KREEncoderPageVP9 : public KREEncoderPageCodec {
    Q_OBJECT
public:
    // Rate-control pop-up: 0 ABR, 1 CBR, 2 CRF, 3 Lossless; quality pop-up: 0 none, 1 best,
    // 2 realtime.
    KREEncoderPageVP9(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr);

    QString encoderArgs() const override;
    void setEncoderArgs(const QString& args) override;
    void fillDefaultArgs() override { setDefCRF(); }
    uint32_t modeIndex() const { return optionIndex(); }
    uint32_t qModeIndex() const { return m_qMode; }
    // The quality pop-up's action.
    void onQComboChange(int index);
    QComboBox* qualityPopup() const { return m_qPopup; }

protected:
    // "-crf 0" is libvpx-vp9's best lossy quality; only its lossless switch is exact.
    QString losslessItem() const override { return QStringLiteral("-lossless 1"); }
    void addFormRows(QFormLayout* form) override;
    void refreshControls() override;

private:
    uint32_t m_qMode = 0;
    QPointer<QComboBox> m_qPopup;
};
