// The encoder pages with their own few controls: stream copy into MP4 or Matroska, AVI, Flash,
// XviD, WMV, 3GP, and the pages without settings (VOB, GIF) that write a fixed text.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "setup/KREAudioOptions.h"
#include "setup/KREEncoderBitrates.h"
#include "setup/KREEncoderPage.h"

// "MP4 (copy, no encoding)", "Matroska (copy, no encoding)": the video is copied, the audio
// re-encoded or copied as chosen.
class KREEncoderPageRemux : public KREEncoderPage {
    Q_OBJECT
public:
    KREEncoderPageRemux(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr);

    const QString& format() const { return m_format; }
    const KREAudioOptions& audioOptions() const { return m_audioOptions; }
    uint64_t audioOptionIndex() const { return m_audioOptionIndex; }
    QString argsText() const;
    QString pageArgs() const override { return argsText(); }
    // Reads the audio choice; schedules a complete re-send when a fixed option is missing.
    void readArgs(const QString& args);
    // The audio pop-up's action: the rebuilt text goes to the host.
    void audioOptionChanged(int index);

    QStringList codecChoices() const override { return m_audioOptions.optionLabels(); }
    void selectCodecChoice(int index) override;
    QComboBox* audioPopup() const { return m_popup; }

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void send();

    QString m_format;
    KREAudioOptions m_audioOptions;
    uint64_t m_audioOptionIndex = 0;
    QPointer<QComboBox> m_popup;
};

// A page with one quality slider whose position maps to the value the text carries.
class KREEncoderPageSlider : public KREEncoderPage {
    Q_OBJECT
public:
    KREEncoderPageSlider(KRAEncoderPageHost* host, int maximum, QObject* parent = nullptr);

    uint64_t sliderVal() const { return m_position; }
    void setSliderVal(int64_t position);
    QString sliderLabel() const { return labelText(); }
    virtual QString argsText() const = 0;
    QString pageArgs() const override { return argsText(); }
    // Sets the slider from a stored text; a missing or unusable value leaves it.
    virtual void readArgs(const QString& args) = 0;
    // The slider's action: the label, then the rebuilt text to the host.
    void onSliderChanged(int position);
    QSlider* slider() const { return m_slider; }

protected:
    virtual QString labelText() const = 0;
    virtual void setDefault() = 0;
    // The user moved the slider: a stored value kept between its steps gives way.
    virtual void sliderMoved() {}
    // A new last position (the slider follows); the position is kept within it.
    void setMaximum(int maximum);
    void loadView() override;
    void viewDidLoad() override;
    void refresh();
    void send();

private:
    int m_maximum;
    uint64_t m_position = 0;
    QPointer<QSlider> m_slider;
    QPointer<QLabel> m_label;
};

// "AVI" and "Flash Video": qscale = 10 - position; a stored qscale with a fraction (ffmpeg
// takes one) is kept until the slider moves.
class KREEncoderPageQScale : public KREEncoderPageSlider {
    Q_OBJECT
public:
    KREEncoderPageQScale(KRAEncoderPageHost* host, const char* muxer, QObject* parent = nullptr);
    int qscale() const { return 10 - static_cast<int>(sliderVal()); }
    QString qscaleText() const;
    QString argsText() const override;
    void readArgs(const QString& args) override;

protected:
    QString labelText() const override;
    void setDefault() override { setSliderVal(7); }
    void sliderMoved() override { m_exact.reset(); }

private:
    const char* m_muxer;
    std::optional<double> m_exact;
};

class KREEncoderPageAVI : public KREEncoderPageQScale {
    Q_OBJECT
public:
    explicit KREEncoderPageAVI(KRAEncoderPageHost* host, QObject* parent = nullptr)
        : KREEncoderPageQScale(host, "avi", parent)
    {
    }
};

class KREEncoderPageFlash : public KREEncoderPageQScale {
    Q_OBJECT
public:
    explicit KREEncoderPageFlash(KRAEncoderPageHost* host, QObject* parent = nullptr)
        : KREEncoderPageQScale(host, "flv", parent)
    {
    }
};

// "AVI (XviD/DivX)": the quantiser of a 16-step table; a stored quantiser the table lacks
// is kept (the slider at the first step at or below it) until the slider moves.
class KREEncoderPageXviD : public KREEncoderPageSlider {
    Q_OBJECT
public:
    explicit KREEncoderPageXviD(KRAEncoderPageHost* host, QObject* parent = nullptr);
    static int quantiserAt(uint64_t position);
    int quantiser() const { return m_stored.value_or(quantiserAt(sliderVal())); }
    QString argsText() const override;
    void readArgs(const QString& args) override;

protected:
    QString labelText() const override;
    void setDefault() override { setSliderVal(11); }
    void sliderMoved() override { m_stored.reset(); }

private:
    std::optional<int> m_stored;
};

// "WMV (Windows Media Video)": an average bit rate of the 20-step table, or a stored rate the
// table lacks as a step of its own.
class KREEncoderPageWMV : public KREEncoderPageSlider {
    Q_OBJECT
public:
    explicit KREEncoderPageWMV(KRAEncoderPageHost* host, QObject* parent = nullptr);
    QString bitrateText() const;
    QString argsText() const override;
    void readArgs(const QString& args) override;

protected:
    QString labelText() const override;
    void setDefault() override { setSliderVal(9); }

private:
    KREBitrateSteps m_steps;
};

// "3GP": H.263 at one of the five sizes it allows, or H.264.
class KREEncoderPage3GP : public KREEncoderPage {
    Q_OBJECT
public:
    explicit KREEncoderPage3GP(KRAEncoderPageHost* host, QObject* parent = nullptr);

    static const QStringList& sizes();
    QStringList optionVals() const;
    uint64_t optionIndex() const { return m_index; }
    void setOptionIndex(uint64_t index);
    QString argsText() const;
    QString pageArgs() const override { return argsText(); }
    void readArgs(const QString& args);
    // The pop-up's action.
    void onChanged();

    QStringList codecChoices() const override { return optionVals(); }
    void selectCodecChoice(int index) override;
    QComboBox* popup() const { return m_popup; }

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    uint64_t m_index = 0;
    QPointer<QComboBox> m_popup;
};

// An encoder without settings: a logo and a fixed text, written whenever the page opens.
class KREEncoderPageNoOptions : public KREEncoderPage {
    Q_OBJECT
public:
    KREEncoderPageNoOptions(KRAEncoderPageHost* host, const QString& args, const QString& logo,
                            QObject* parent = nullptr);
    QString pageArgs() const override { return m_args; }

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    QString m_args;
    QString m_logo;
};

class KREEncoderPageVOB : public KREEncoderPageNoOptions {
    Q_OBJECT
public:
    explicit KREEncoderPageVOB(KRAEncoderPageHost* host, QObject* parent = nullptr);
};

class KREEncoderPageGIF : public KREEncoderPageNoOptions {
    Q_OBJECT
public:
    explicit KREEncoderPageGIF(KRAEncoderPageHost* host, QObject* parent = nullptr);
};
