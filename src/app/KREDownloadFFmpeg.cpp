#include "app/KREDownloadFFmpeg.h"

#include "platform/XStrQString.h"
#include "xclass/XEvent.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

struct KREDownloadFFmpeg::Shared {
    // Read and cleared on the main thread only.
    KREDownloadFFmpeg* window = nullptr;
    XEvent cancel;
    // Downloading until the thread moves it to Installing or the window to Cancelled,
    // whichever comes first: a cancel never meets a half-done install.
    enum State { Downloading, Installing, Cancelled };
    std::atomic<int> state{Downloading};
    bool requestCancel()
    {
        int expected = Downloading;
        if (!state.compare_exchange_strong(expected, Cancelled))
            return expected == Cancelled;
        cancel.Set();
        return true;
    }
};

namespace {

// Hands the block to the main thread; dropped when the application is already gone.
void PostToMain(std::function<void()> block)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

} // namespace

KREDownloadFFmpeg::KREDownloadFFmpeg(QWidget* parent) : QDialog(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->window = this;
    setObjectName(QStringLiteral("KREDownloadFFmpeg"));
    setWindowTitle(QStringLiteral("Download FFmpeg"));
    auto* layout = new QVBoxLayout(this);
    m_status = new QLabel(QStringLiteral("Downloading FFmpeg from the Marvoni web site\u2026"));
    m_status->setObjectName(QStringLiteral("status"));
    layout->addWidget(m_status);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1); // still until the download starts
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setMinimumWidth(360);
    layout->addWidget(m_progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setDefault(true);
    connect(m_cancel, &QPushButton::clicked, this, &KREDownloadFFmpeg::reject);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
}

KREDownloadFFmpeg::~KREDownloadFFmpeg()
{
    // Closing the window stops a download still running; the late result finds no window.
    m_shared->window = nullptr;
    m_shared->requestCancel();
}

void KREDownloadFFmpeg::start()
{
    if (m_started)
        return;
    m_started = true;
    m_progress->setRange(0, 0); // indeterminate
    std::shared_ptr<Shared> shared = m_shared;
    std::thread([shared] {
        const KREFFmpegDownloadResult result = KREFFmpegDownload::downloadAndInstall(&shared->cancel, [shared] {
            int expected = Shared::Downloading;
            if (!shared->state.compare_exchange_strong(expected, Shared::Installing))
                return false;
            PostToMain([shared] {
                if (shared->window)
                    shared->window->installing();
            });
            return true;
        });
        PostToMain([shared, result] {
            if (shared->window && shared->state != Shared::Cancelled)
                shared->window->completed(result);
        });
    }).detach();
}

void KREDownloadFFmpeg::installing()
{
    m_status->setText(QStringLiteral("Installing FFmpeg\u2026"));
    m_cancel->setEnabled(false);
}

void KREDownloadFFmpeg::completed(const KREFFmpegDownloadResult& result)
{
    m_result = result;
    if (result.ok)
        m_pathDownloadedTo = XStrToQString(result.installed);
    done(result.ok ? 1 : 0);
}

void KREDownloadFFmpeg::reject()
{
    if (!m_shared->requestCancel())
        return; // installing: it finishes by itself in a moment
    m_result = KREFFmpegDownloadResult();
    m_result.cancelled = true;
    m_result.error = L"The download was cancelled.";
    QDialog::reject();
}
