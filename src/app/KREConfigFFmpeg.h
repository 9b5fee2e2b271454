// The "FFmpeg" page of the configuration window: which ffmpeg the program runs (the one it
// ships or finds, a downloaded copy, or one the user picked) and what it can do (its
// version, licence and codec lists). Installing and reverting go through the locator.
#pragma once

#include "app/KREDownloadFFmpeg.h"
#include "kit/QKViewController.h"

#include <QFileDialog>

#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class QPlainTextEdit;
class QRadioButton;

// Which files the pick panel offers: folders, and files named exactly "ffmpeg".
class KREOpenPanelDelegateFindFFmpeg {
public:
    static bool shouldEnable(const QString& path, bool isFolder);
};

class KREConfigFFmpeg : public QKViewController {
    Q_OBJECT
public:
    static constexpr const char* kPleaseWait = "[please wait]";
    static constexpr const char* kDownloadFailed =
        "Could not automatically download FFmpeg from Marvoni web site.\n\nFor full Marvoni functionality, please "
        "install and configure FFmpeg manually.";

    KREConfigFFmpeg();
    ~KREConfigFFmpeg() override;

    // The choices from the files, then the three texts anew (on a background thread).
    void refresh();
    void refreshOptions();

    void onUseInternal();
    void onAutoInstall();
    void onUseExternal();
    // What the pick panel's OK does with the chosen file.
    void pickedFFmpeg(const QString& path);

    bool bInternal() const { return m_internal; }
    bool bAuto() const { return m_auto; }
    bool bCustom() const { return m_custom; }
    QString strVersion() const;
    QString strLicense() const;
    QString strCodecs() const;
    bool openInProgress() const { return m_openInProgress; }
    KREDownloadFFmpeg* downloadWindow() const { return m_download; }
    QFileDialog* pickPanel() const { return m_pick; }

    // The outputs of "-version", "-L" and "-codecs" of that ffmpeg (standard output only;
    // empty texts for a program that cannot be run).
    struct Answers {
        QString version, license, codecs;
    };
    static Answers queryFFmpeg(const QString& ffmpegPath);

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    struct Guard;
    // Queries run off the main thread, each tagged: an answer for an older choice of ffmpeg, or
    // one that arrives after the page's view has gone, is dropped, so a slow ffmpeg never
    // overwrites what the page shows for a newer one.
    void showAnswers(uint64_t tag, const Answers& answers);
    void downloadEnded(int code);
    void alert(const QString& text, const QString& detail);
    void showChoices();

    std::shared_ptr<Guard> m_guard;
    bool m_internal = true;
    bool m_auto = false;
    bool m_custom = false;
    uint64_t m_asyncTag = 0;
    bool m_openInProgress = false;
    QPointer<QRadioButton> m_internalButton;
    QPointer<QRadioButton> m_autoButton;
    QPointer<QRadioButton> m_customButton;
    QPointer<QPlainTextEdit> m_version;
    QPointer<QPlainTextEdit> m_license;
    QPointer<QPlainTextEdit> m_codecs;
    QPointer<KREDownloadFFmpeg> m_download;
    QPointer<QFileDialog> m_pick;
};
