// The options page of the configuration window: user profiles, audio-only formats in the
// batch converter's filter, beta versions in the version check, and the debug log.
//
// Each stored option is written to the settings store the moment its box changes, so a
// change survives whatever happens to the window or the program next. The debug log's switch
// is not stored: it lasts until the program quits.
#pragma once

#include "kit/QKViewController.h"

#include <QCheckBox>
#include <QPointer>

class QPushButton;

class KREConfigOptions : public QKViewController {
    Q_OBJECT
public:
    static constexpr const wchar_t* kAllowProfiles = L"kRAAllowProfiles";
    static constexpr const wchar_t* kShowAudioOnly = L"ShowAudioOnly";
    static constexpr const wchar_t* kCheckBetaUpdates = L"CheckBetaUpdates";

    KREConfigOptions();

    bool suppressCheckForBetaUpdates() const { return false; }
    bool suppressShowAudioOnly() const { return false; }

    QCheckBox* enableProfiles() const { return m_enableProfiles; }
    QCheckBox* showAudioOnly() const { return m_showAudioOnly; }
    QCheckBox* checkForBetaUpdates() const { return m_checkForBetaUpdates; }
    QCheckBox* converterDebug() const { return m_converterDebug; }

    void onSetRestrictedCharacters();

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    QPointer<QCheckBox> m_enableProfiles;
    QPointer<QCheckBox> m_showAudioOnly;
    QPointer<QCheckBox> m_checkForBetaUpdates;
    QPointer<QCheckBox> m_converterDebug;
    QPointer<QPushButton> m_restricted;
};
