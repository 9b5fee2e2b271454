#include "batch/ui/KRABatchFileListGrabberDialog.h"

#include "batch/ui/KRABatchConvertDialog.h"
#include "xclass/XMainQueue.h"

#include <QLabel>
#include <QLayout>

#include <atomic>
#include <mutex>
#include <thread>

struct KRABatchFileListGrabberDialog::State : public KRACollectSink {
    mutable std::mutex lock;
    std::atomic<bool> aborter{false};
    std::vector<clFileListEntryRef> output;
    std::vector<clFileListEntryRef> missing;

    bool aborting() const override { return aborter.load(); }
    void addFile(const clFileListEntryRef& file) override
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!aborter.load())
            output.push_back(file);
    }
    void fileMissing(const clFileListEntryRef& file) override
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!aborter.load())
            missing.push_back(file);
    }
    // The result, once: none when the collection had already ended (cancelled).
    std::optional<std::vector<clFileListEntryRef>> finish()
    {
        std::lock_guard<std::mutex> guard(lock);
        if (aborter.exchange(true))
            return std::nullopt;
        return std::move(output);
    }
};

KRABatchFileListGrabberDialog::KRABatchFileListGrabberDialog(const std::weak_ptr<KRABatchConvertDialog>& host,
                                                             unsigned tag, bool justURLs,
                                                             const QList<clFolderListEntryRef>& sourceFolders)
    : m_host(host), m_tag(tag), m_justURLs(justURLs), m_sourceFolders(sourceFolders), m_state(std::make_shared<State>())
{
}

KRABatchFileListGrabberDialog::~KRABatchFileListGrabberDialog()
{
    // A worker still walking stops at its next file.
    m_state->aborter = true;
}

size_t KRABatchFileListGrabberDialog::collectedCount() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->output.size();
}

void KRABatchFileListGrabberDialog::loadView()
{
    QKPleaseWaitDialog::loadView();
    auto* label = new QLabel(QStringLiteral("Collecting the ticked files..."), view());
    view()->layout()->addWidget(label);
    startWorker();
}

void KRABatchFileListGrabberDialog::startWorker()
{
    if (m_started)
        return;
    m_started = true;
    const std::shared_ptr<State> state = m_state;
    const QList<clFolderListEntryRef> roots = m_sourceFolders;
    const std::weak_ptr<KRABatchFileListGrabberDialog> weak = weak_from_this();
    auto work = [state, roots, weak] {
        clFolderListEntry::collectCheckedFiles(roots, *state);
        XPostToMainThread([weak] {
            if (const auto self = weak.lock())
                self->completed();
        });
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        m_state->aborter = true;
        completed();
    }
}

void KRABatchFileListGrabberDialog::completed()
{
    const std::optional<std::vector<clFileListEntryRef>> result = m_state->finish();
    if (m_doneSent)
        return;
    m_doneSent = true;
    std::vector<clFileListEntryRef> missing;
    if (result) {
        std::lock_guard<std::mutex> guard(m_state->lock);
        missing = m_state->missing;
    }
    if (const auto host = m_host.lock())
        host->onGrabListDone(m_tag, result, missing);
}

void KRABatchFileListGrabberDialog::onCancel()
{
    m_state->aborter = true;
    completed();
}
