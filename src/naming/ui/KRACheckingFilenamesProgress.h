// The please-wait panel of the destination check: it runs the check in the background
// (probing on a pool of four) and offers Cancel. The host hears the result, or the cancel,
// through KRACheckFilenamesHost; nothing reaches it after the panel has gone.
#pragma once

#include <QList>

#include <memory>

#include "kit/QKPleaseWaitDialog.h"
#include "naming/KRACheckFilenames.h"

class KRACheckFilenamesHost {
public:
    virtual ~KRACheckFilenamesHost();
    // The check is done. needsDialog: a destination exists already, or outputs cannot be
    // written as they are named; the files-already-exist dialog must be shown first.
    virtual void checkFileNamesDone(const KRACheckFilenamesStateRef& state, bool needsDialog,
                                    const std::shared_ptr<KRAPanel>& invoker) = 0;
    // Cancelled: back to the invoker.
    virtual void checkFileNamesCancelled(const std::shared_ptr<KRAPanel>& invoker) = 0;
};

class KRACheckingFilenamesProgress : public QKPleaseWaitDialog {
    Q_OBJECT
public:
    // The inputs are copied now, on the main thread.
    KRACheckingFilenamesProgress(const QList<KRACheckSourceItem>& sources, const QList<KRACheckEncoderItem>& encoders,
                                 const std::shared_ptr<KRAPanel>& parentPanel, int workers = 4);
    ~KRACheckingFilenamesProgress() override;

    QString panelName() override { return QStringLiteral("Checking File Names"); }
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override { m_host = host; }
    bool showCancel() override { return true; }
    void onCancel() override;
    bool isRunning() const { return m_job.isRunning(); }

protected:
    void loadView() override;

private:
    void workerDone(const KRACheckFilenamesStateRef& state);

    QList<KRACheckSourceItem> m_sources;
    QList<KRACheckEncoderItem> m_encoders;
    std::weak_ptr<KRAPanel> m_parentPanel;
    std::weak_ptr<KRAPanelHostInterface> m_host;
    int m_workers = 4;
    bool m_started = false;
    KRACheckFilenamesJob m_job;
};
