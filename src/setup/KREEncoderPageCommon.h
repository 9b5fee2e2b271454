// The base of the encoder pages that drive a video codec with one quality slider (H.264,
// H.265, VP8, VP9 and the stand-in of the "Apple" encoders): the rate-control mode, the slider
// that sets its value, the options a container always needs, and reading all of it back from
// a stored argument text. Moving the slider to the right always means higher quality.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "setup/KREEncoderBitrates.h"
#include "setup/KREEncoderPage.h"

class QKElemValueList;
class QVBoxLayout;

class KREEncoderPageCommon : public KREEncoderPage {
    Q_OBJECT
public:
    enum Mode : uint32_t { ModeNone = 0, ModeCRF = 1, ModeCBR = 2, ModeABR = 3, ModeQScale = 4, ModeLossless = 5 };

    KREEncoderPageCommon(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr);

    // The options the container always needs: subtitles as mov_text in MP4.
    static QStringList fixedOptionsForContainerFormat(const QString& format);
    // x265's "-x265-params a=1:b=2" items as one, the values joined in order: ffmpeg takes
    // only the last of several.
    static void mergeX265Params(QKElemValueList& list);

    const QString& outputContainerFormat() const { return m_format; }
    uint32_t mode() const { return m_mode; }
    int sliderPosition() const { return m_position; }

    // The page's whole argument text (the subclasses add their codec and audio around the
    // common part) and reading one back.
    virtual QString encoderArgs() const { return commonArgs(); }
    virtual void setEncoderArgs(const QString& args) { readCommonArgs(args); }
    // Fixed options, then the rate-control item.
    QString commonArgs() const;
    QString pageArgs() const override { return encoderArgs(); }

    void setCRF(int64_t crf);
    // A constant-quality value with a fraction, kept as it is on the pages whose encoder
    // takes one (acceptsFractionalCRF); elsewhere the nearest whole value.
    void setCRFValue(double crf);
    void setConstantBitrateStr(const QString& bitrate);
    void setAverageBitrateStr(const QString& bitrate);
    void setQScale(int64_t qscale);
    void setLossless();

    // The slider's constant-quality step; crfText is the value written, which keeps the
    // fraction of a stored value until the slider moves.
    uint32_t CRF() const;
    QString crfText() const;
    uint32_t QScale() const;
    // The slider's bit rate in ffmpeg's form ("1.5M", or a stored rate the table lacks as it
    // was stored); none beyond the steps.
    std::optional<QString> bitrateStr() const;
    // Both modes read the same slider.
    std::optional<QString> constantBitrateStr() const { return bitrateStr(); }
    std::optional<QString> averageBitrateStr() const { return bitrateStr(); }
    QString bitrateUserStr() const;
    bool isCRF() const { return m_mode == ModeCRF; }
    bool isCBR() const { return m_mode == ModeCBR; }
    bool isABR() const { return m_mode == ModeABR; }
    bool isQScale() const { return m_mode == ModeQScale; }
    bool isLossless() const { return m_mode == ModeLossless; }

    void setDefCRF() { setCRF(24); }
    void setDefCBR() { setConstantBitrateStr(QStringLiteral("1M")); }
    void setDefABR() { setAverageBitrateStr(QStringLiteral("1M")); }
    void setDefQScale() { setQScale(5); }
    // Each page sets its own default mode.
    virtual void fillDefaultArgs() {}
    // The lowest constant-quality value the codec accepts; the slider ends there.
    virtual int64_t minCRF() const { return 1; }
    // Whether the encoder reads a constant-quality value with a fraction (libvpx takes whole
    // numbers only).
    virtual bool acceptsFractionalCRF() const { return false; }
    // The rate-control item of the current mode, as commonArgs writes it.
    QString rateControlItem() const;

    // The rate-control switches: back to the value last used in that kind of mode, else its
    // default. They do not send the arguments; the pop-ups that call them do.
    void switchToCRF();
    void switchToCBR();
    void switchToABR();
    void switchToQScale();
    void switchToLossless();

    // The user moved the slider to the position.
    void onSliderChanged(int position);
    // Sends the page's arguments to the host.
    void onChanged();
    QString formatSliderLabel() const;

    QSlider* slider() const { return m_slider; }
    QLabel* sliderLabel() const { return m_label; }

protected:
    // Reads the mode and its value; schedules a complete re-send when a fixed option of the
    // container is missing from the text. A text that names no rate control the page knows
    // (hand-edited, or cut short) gets the page's default mode, and the host is told, so that
    // the controls and the stored text always agree.
    void readCommonArgs(const QString& args);
    // Rate-control forms only a subclass writes; true when one was read and set a mode.
    virtual bool readOtherRateControl(const QKElemValueList& list)
    {
        (void)list;
        return false;
    }
    // What each mode writes, for the encoders that need more than the plain option to do what
    // the mode's label says.
    virtual QString crfItem(const QString& crf) const { return QStringLiteral("-crf ") + crf; }
    virtual QString cbrItem(const QString& rate) const;
    virtual QString losslessItem() const { return QStringLiteral("-crf 0"); }
    // The x264 and x265 forms of constant bit rate and lossless (both need options of the
    // encoder's own: the rate alone is only an average, and x265's "-crf 0" is not lossless).
    static QString x26xCBRItem(bool h264, const QString& rate);
    static QString x26xLosslessItem(bool h264);
    // Whether the page writes commonArgs' rate-control item: a stored text without it (written
    // by an older version, or by hand) is sent again in the page's form.
    virtual bool writesCommonRateItem() const { return true; }
    // Sends the page's arguments to the host once the current event is handled; several
    // requests before then give one text, and a page gone by then sends nothing.
    void scheduleResend();
    // The number a stored value starts with, kept within -1..1000 whatever the text holds.
    static int64_t storedNumber(const QKElemValueList& list, const QString& name);
    // The same with its fraction.
    static double storedValue(const QKElemValueList& list, const QString& name);
    void loadView() override;
    void viewDidLoad() override;
    // Controls a page shows above the slider (its pop-ups), and below it.
    virtual void addControlsAbove(QVBoxLayout* layout) { (void)layout; }
    virtual void addControlsBelow(QVBoxLayout* layout) { (void)layout; }
    // After the arguments were read back: the page's pop-ups follow its state.
    virtual void refreshControls() {}
    void refreshSlider();

private:
    void setMode(uint32_t mode);
    void setPosition(int position);
    int sliderMaximum() const;

    QString m_format;
    uint32_t m_mode = ModeNone;
    int m_position = 0;
    QString m_lastBitrateStr;
    KREBitrateSteps m_steps;
    // A stored constant-quality value with a fraction, while the slider is at its step.
    std::optional<double> m_exactCRF;
    std::optional<double> m_lastCRF;
    std::optional<uint32_t> m_lastQScale;
    QPointer<QSlider> m_slider;
    QPointer<QLabel> m_label;
    bool m_resendPending = false;
};
