// The pages of the effects that change timing (Trim, Cut, Fade, Loop, Reverse, Speed Adjust),
// choose streams (Stream Selection) or change the sound (Audio Bitrate, Channel Count,
// Resample, Normalize, Mute). Trim, Fade and Loop write named values that the runner turns
// into ffmpeg options ("trimstart", "fadein", "loopvideo", ...); the others write ffmpeg
// options as they are.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QString>

#include <optional>

#include "setup/KRADSPPage.h"

class QCheckBox;
class QComboBox;

class KREDSPPageTrim : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageTrim(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Trim"), parent) {}
    QString dspArgs() const override;
    int startMs() const { return m_startMs; }
    int endMs() const { return m_endMs; }
    void setTrim(int startMs, int endMs);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_startMs = 0;
    int m_endMs = 0;
};

class KREDSPPageCut : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageCut(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Cut"), parent) {}
    QString dspArgs() const override;
    // Refuses a ticked time that does not read as hours:minutes:seconds, naming the field.
    bool dspValidate() override;

    // "HH:MM:SS.mmm" ("HH:MM:SS" on a whole second); hours are not wrapped.
    static QString cutTimeText(double ms);
    // Milliseconds of "h:m:s" with an optional fraction; none unless three numbers lead, each
    // of them whole, minutes and seconds below 60, and nothing but the fraction follows.
    static std::optional<double> parseCutTime(const QString& text);

    bool hasStart() const { return m_hasStart; }
    bool hasLength() const { return m_hasLength; }
    QString startText() const { return m_startText; }
    QString lengthText() const { return m_lengthText; }
    void setStart(bool on, const QString& text);
    void setLength(bool on, const QString& text);
    QLineEdit* startField() const { return m_startField; }
    QLineEdit* lengthField() const { return m_lengthField; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    // The field's text for the stored value: a time that reads back is written anew, one
    // that does not is shown as it stands so that the user sees what is wrong.
    static QString shownTime(const QString& stored);

    bool m_hasStart = false;
    bool m_hasLength = false;
    QString m_startText = QStringLiteral("00:00:00");
    QString m_lengthText = QStringLiteral("00:00:00");
    QPointer<QLineEdit> m_startField;
    QPointer<QLineEdit> m_lengthField;
};

class KREDSPPageFade : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageFade(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Fade"), parent) {}
    QString dspArgs() const override;
    int videoIn() const { return m_videoIn; }
    int videoOut() const { return m_videoOut; }
    int audioIn() const { return m_audioIn; }
    int audioOut() const { return m_audioOut; }
    void setFades(int videoIn, int videoOut, int audioIn, int audioOut);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_videoIn = 0;
    int m_videoOut = 0;
    int m_audioIn = 0;
    int m_audioOut = 0;
};

class KREDSPPageLoopVideo : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageLoopVideo(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Loop"), parent) {}
    QString dspArgs() const override;
    int loopCount() const { return m_count; }
    void setLoopCount(int count);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_count = 2;
};

class KREDSPPageReverse : public KREDSPPageFixed {
    Q_OBJECT
public:
    explicit KREDSPPageReverse(QObject* parent = nullptr);
};

class KREDSPPageMute : public KREDSPPageFixed {
    Q_OBJECT
public:
    explicit KREDSPPageMute(QObject* parent = nullptr);
};

class KREDSPPageSpeedAdjust : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageSpeedAdjust(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Speed Adjust"), parent) {}
    QString dspArgs() const override;
    double factor() const { return m_factor; }
    void setFactor(double factor);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    double m_factor = 0.5;
    QLabel* m_label = nullptr;
};

class KREDSPPageStreamSelection : public KRADSPPage {
    Q_OBJECT
public:
    enum { kAll = 10, kNone = 11 };
    explicit KREDSPPageStreamSelection(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Stream Selection"), parent)
    {
    }
    QString dspArgs() const override;
    static QStringList choiceLabels();
    // 0 video, 1 audio, 2 subtitles.
    int choice(int kind) const { return m_choice[kind]; }
    void setChoice(int kind, int index);
    QComboBox* choiceBox(int kind) const { return m_boxes[kind]; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_choice[3] = {kAll, kAll, kAll};
    QPointer<QComboBox> m_boxes[3];
};

class KREDSPPageAudioBitrate : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageAudioBitrate(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Audio Bitrate"), parent) {}
    QString dspArgs() const override;
    static const QList<unsigned>& kbpsTable();
    // The first position whose rate is not below kbps; the last when all are.
    static int positionForKbps(double kbps);
    // The kbps of a "b:a" value: "k" and "m" suffixes, a bare number in bits per second.
    static double kbpsOfValue(const QString& value);
    int position() const { return m_position; }
    void setPosition(int position);
    QSlider* slider() const { return m_slider; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    int m_position = 11; // 128 kbps
    QPointer<QSlider> m_slider;
    QLabel* m_label = nullptr;
};

class KREDSPPageACC : public KREDSPPageDataChoice {
    Q_OBJECT
public:
    explicit KREDSPPageACC(QObject* parent = nullptr);
};

class KREDSPPageResample : public KREDSPPageDataChoice {
    Q_OBJECT
public:
    explicit KREDSPPageResample(QObject* parent = nullptr);
};

class KREDSPPageNormalize : public KREDSPPageDataChoice {
    Q_OBJECT
public:
    explicit KREDSPPageNormalize(QObject* parent = nullptr);
};
