// The pages of the "Audio Extract" encoders: no video, one audio stream of the source, copied
// as it is (AAC, MP3) or decoded to PCM (WAVE).
#pragma once

#include <QLabel>
#include <QPointer>
#include <QSpinBox>
#include <QString>

#include <cstdint>

#include "job/QKElemValueList.h"
#include "setup/KREEncoderPage.h"

class KREEncoderPageExtractAudio : public KREEncoderPage {
    Q_OBJECT
public:
    // Audio streams are counted from 0; a stored number beyond this is taken as this.
    static constexpr uint64_t kMaxStream = 99;

    explicit KREEncoderPageExtractAudio(KRAEncoderPageHost* host, QObject* parent = nullptr);

    uint64_t idxStream() const { return m_stream; }
    void setIdxStream(int64_t stream);
    bool acodecCopy() const { return m_copy; }
    const QString& strNote() const { return m_note; }
    QString argsText() const;
    QString pageArgs() const override { return argsText(); }
    // Builds the text, sends it to the host and returns its elements.
    QKElemValueList refreshArgs();
    // The stream control's action.
    void streamChanged(int stream);
    // The stream a stored text names: the number after "0:a:" in its "map" element.
    static int64_t streamFromArgs(const QString& args);

protected:
    void setAcodecCopy(bool copy) { m_copy = copy; }
    void setStrNote(const QString& note) { m_note = note; }
    void loadView() override;
    void viewDidLoad() override;

private:
    uint64_t m_stream = 0;
    bool m_copy = true;
    QString m_note;
    QPointer<QSpinBox> m_spin;
};

class KREEncoderPageExtractAudioAAC : public KREEncoderPageExtractAudio {
    Q_OBJECT
public:
    explicit KREEncoderPageExtractAudioAAC(KRAEncoderPageHost* host, QObject* parent = nullptr);
};

class KREEncoderPageExtractAudioMP3 : public KREEncoderPageExtractAudio {
    Q_OBJECT
public:
    explicit KREEncoderPageExtractAudioMP3(KRAEncoderPageHost* host, QObject* parent = nullptr);
};

class KREEncoderPageExtractAudioWAV : public KREEncoderPageExtractAudio {
    Q_OBJECT
public:
    explicit KREEncoderPageExtractAudioWAV(KRAEncoderPageHost* host, QObject* parent = nullptr);
};
