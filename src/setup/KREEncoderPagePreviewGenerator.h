// The page of the "[Preview Generator]" encoder: which frames of a source make the preview
// (one every so many seconds, or a fixed number), how long each is shown, where the first is
// taken, and the encoder (with its own settings, edited in the encoder settings pop-up) that
// makes the preview file. The output takes that encoder's extension.
//
// The nested encoder has two levels: the picker's choice follows the user at once, the held
// encoder with its settings and extension changes only when a configuration is confirmed; a
// cancelled pop-up puts the picker back.
//
// Timing values read from a stored text are kept within the page's ranges (kMax...); a value
// of 0 or below reads as the default. A text that held a value out of range is written back
// repaired, so the runner never sees it.
#pragma once

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QString>

#include <memory>

#include "job/QKEncoderArgs.h"
#include "job/QKEncoderDesc.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/KREEncoderPage.h"

class KREEncoderPagePreviewGenerator : public KREEncoderPage {
    Q_OBJECT
public:
    static constexpr int kMaxDelayBetweenFramesMS = 3600000; // one hour per preview frame
    static constexpr int kMaxFrameEveryMS = 86400000;        // one frame a day
    static constexpr int kMaxDelayFirstFrameMS = 86400000;
    static constexpr int kMaxTotalFrames = 100000;

    explicit KREEncoderPagePreviewGenerator(KRAEncoderPageHost* host, QObject* parent = nullptr);
    ~KREEncoderPagePreviewGenerator() override;

    QString pageArgs() const override;
    // The encoders the picker offers; choosing one accepts its page's defaults.
    QStringList codecChoices() const override;
    void selectCodecChoice(int index) override;

    // The encoder descriptions of the catalogue by name, made once per process.
    static QKEncoderDescRef cachedEncoder(const QString& name);

    QString selectedEncoder() const { return m_selectedEncoder; }
    QString selectedEncoderValid() const { return m_selectedEncoderValid; }
    QString selectedEncoderSettings() const { return m_selectedEncoderSettings; }
    QString selectedEncoderExtension() const { return m_selectedEncoderExtension; }
    bool selectedEncoderConfigurable() const { return m_selectedEncoderConfigurable; }
    bool generateTotalFramesMode() const { return m_bGenerateTotalFrames; }
    int generateTotalFrames() const { return m_generateTotalFrames; }
    int generateFrameEveryMS() const { return m_generateFrameEveryMS; }
    int delayBetweenFramesMS() const { return m_delayBetweenFramesMS; }
    int delayFirstFrameMS() const { return m_delayFirstFrameMS; }

    QComboBox* encoderPicker() const { return m_picker; }
    // The settings pop-up while it is open.
    KRAEncoderSettingsPopup* settingsPopup() const { return m_popup; }

    // As the picker does: selects the encoder and configures it (a pop-up when it has settings).
    void onEncoderCombo(const QString& name);
    // As the settings button does.
    void onEncoderSettings();
    void encoderConfigured(const QKEncoderArgs& args);

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void setupEncoders();
    void argsFromHost();
    void validate();
    void validateEncoder();
    void argsToHost();
    void showValues();
    void showPicker();
    void onChanged();
    QKEncoderDescRef findEncoderDesc() const;

    QString m_selectedEncoder;
    QString m_selectedEncoderValid;
    QString m_selectedEncoderSettings;
    QString m_selectedEncoderExtension;
    bool m_selectedEncoderConfigurable = false;
    bool m_bGenerateTotalFrames = false;
    int m_generateTotalFrames = 0;
    int m_generateFrameEveryMS = 0;
    int m_delayBetweenFramesMS = 0;
    int m_delayFirstFrameMS = 0;
    bool m_repaired = false; // a stored value was out of range

    QPointer<QComboBox> m_picker;
    QPointer<QPushButton> m_settingsButton;
    QPointer<QRadioButton> m_everyRadio, m_totalRadio;
    QPointer<QDoubleSpinBox> m_everyBox, m_betweenBox, m_firstDelayBox;
    QPointer<QSpinBox> m_totalBox;
    QPointer<KRAEncoderSettingsPopup> m_popup;
    bool m_showing = false;
    // Handlers that may run after the page has gone (the pop-up's end) hold this weakly.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
