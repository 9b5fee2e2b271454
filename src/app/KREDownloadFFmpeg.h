// The download window: an indeterminate progress bar while ffmpeg is fetched from the maker's
// web server and installed, on a thread of its own, and a Cancel button.
//
// The window and its thread share a small state: the window's weak reference, the cancel
// event and whether installing has begun. A result that arrives after the window closed, or
// after Cancel, is dropped. Once installing has begun it runs to its end (Cancel and Escape
// then wait for it), so the ffmpeg in use is never left half replaced.
#pragma once

#include "app/KREFFmpegDownload.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

class KREDownloadFFmpeg : public QDialog {
    Q_OBJECT
public:
    explicit KREDownloadFFmpeg(QWidget* parent = nullptr);
    ~KREDownloadFFmpeg() override;

    // Starts the download thread (once).
    void start();
    // The last result (valid once the window ended with 1 or a failure was reported).
    const KREFFmpegDownloadResult& result() const { return m_result; }
    QString pathDownloadedTo() const { return m_pathDownloadedTo; }
    QProgressBar* progress() const { return m_progress; }
    QPushButton* cancelButton() const { return m_cancel; }

    void reject() override;

private:
    struct Shared;
    void installing();
    void completed(const KREFFmpegDownloadResult& result);

    std::shared_ptr<Shared> m_shared;
    KREFFmpegDownloadResult m_result;
    QString m_pathDownloadedTo;
    bool m_started = false;
    QPointer<QLabel> m_status;
    QPointer<QProgressBar> m_progress;
    QPointer<QPushButton> m_cancel;
};
