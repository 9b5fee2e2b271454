#include "naming/ui/KRACheckingFilenamesProgress.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPointer>

KRACheckFilenamesHost::~KRACheckFilenamesHost() = default;

KRACheckingFilenamesProgress::KRACheckingFilenamesProgress(const QList<KRACheckSourceItem>& sources,
                                                           const QList<KRACheckEncoderItem>& encoders,
                                                           const std::shared_ptr<KRAPanel>& parentPanel, int workers)
    : m_sources(sources), m_encoders(KRACheckFilenames::copyEncoders(encoders)), m_parentPanel(parentPanel),
      m_workers(workers)
{
    setTitle(QStringLiteral("Checking File Names"));
}

KRACheckingFilenamesProgress::~KRACheckingFilenamesProgress() = default;

void KRACheckingFilenamesProgress::loadView()
{
    QKPleaseWaitDialog::loadView();
    if (auto* layout = qobject_cast<QBoxLayout*>(view()->layout()))
        layout->insertWidget(0, new QLabel(QStringLiteral("Checking the names of the files to write\u2026")));
    if (m_started)
        return;
    m_started = true;
    QPointer<KRACheckingFilenamesProgress> self(this);
    m_job.start(
        m_sources, m_encoders,
        [self](KRACheckFilenamesStateRef state) {
            if (self)
                self->workerDone(state);
        },
        m_workers);
}

void KRACheckingFilenamesProgress::workerDone(const KRACheckFilenamesStateRef& state)
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    auto* checkHost = dynamic_cast<KRACheckFilenamesHost*>(host.get());
    if (!checkHost || !state)
        return;
    checkHost->checkFileNamesDone(state, !state->alreadyExists.isEmpty() || state->hasBlockingProblems(),
                                  m_parentPanel.lock());
}

void KRACheckingFilenamesProgress::onCancel()
{
    m_job.cancel();
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    if (auto* checkHost = dynamic_cast<KRACheckFilenamesHost*>(host.get()))
        checkHost->checkFileNamesCancelled(m_parentPanel.lock());
}
