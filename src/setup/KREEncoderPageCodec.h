// The video codec pages over the common page: a rate-control pop-up whose entries are modes of
// the common page, an audio pop-up with the container's audio choices, and the codec's own
// element list around the common text.
#pragma once

#include <QComboBox>
#include <QList>
#include <QPointer>

class QFormLayout;

#include "job/QKElemValueList.h"
#include "setup/KREAudioOptions.h"
#include "setup/KREEncoderPageCommon.h"

class KREEncoderPageCodec : public KREEncoderPageCommon {
    Q_OBJECT
public:
    // rateModes: the common page's mode of each entry of the rate-control pop-up, in order.
    KREEncoderPageCodec(KRAEncoderPageHost* host, const QString& format, QList<uint32_t> rateModes,
                        QObject* parent = nullptr);

    const KREAudioOptions& audioOptions() const { return m_audioOptions; }
    uint64_t audioOptionIndex() const { return m_audioOptionIndex; }
    void setAudioOptionIndex(uint64_t index);
    // The switch of the chosen audio entry; empty when the container offers none.
    QString audioSwitch() const;
    bool showAudioOptions() const { return m_audioOptions.optionSwitches().size() > 1; }

    // The rate-control pop-up's position: the entry of the current mode; unchanged in a mode
    // the pop-up does not offer.
    uint32_t optionIndex() const { return m_optionIndex; }
    // The rate-control pop-up's action: switches to the entry's mode, then sends.
    void optionChanged(int index);
    // The audio pop-up's action.
    void audioOptionChanged(int index);

    QStringList codecChoices() const override { return m_audioOptions.optionLabels(); }
    void selectCodecChoice(int index) override;

    QComboBox* rateControlPopup() const { return m_ratePopup; }
    QComboBox* audioPopup() const { return m_audioPopup; }

protected:
    // Reads the common part, the pop-up positions and the audio choice.
    void readCodecArgs(const QString& args);
    void fixOptionIndex();
    void setOptionIndex(uint32_t index) { m_optionIndex = index; }
    void addControlsAbove(QVBoxLayout* layout) override;
    // Rows a page adds under the rate-control and audio pop-ups, aligned with them.
    virtual void addFormRows(QFormLayout* form) { (void)form; }
    void refreshControls() override;
    static QString modeLabel(uint32_t mode);

private:
    QList<uint32_t> m_rateModes;
    uint32_t m_optionIndex = 0;
    KREAudioOptions m_audioOptions;
    uint64_t m_audioOptionIndex = 0;
    QPointer<QComboBox> m_ratePopup;
    QPointer<QComboBox> m_audioPopup;
};
