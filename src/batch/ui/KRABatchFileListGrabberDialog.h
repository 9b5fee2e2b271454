// The please-wait panel that collects every ticked file below the batch converter's roots on
// a worker thread, with a Cancel button, and answers the batch converter once: with the
// files, or with none when cancelled.
//
// The collection's state lives apart from the panel and is shared with the worker, so that a
// window closed during a long walk stops the walk at its next file, and the worker's late
// completion finds no panel and answers nobody.
#pragma once

#include "batch/clFolderListEntry.h"
#include "kit/QKPleaseWaitDialog.h"

#include <QList>

#include <memory>
#include <optional>
#include <vector>

class KRABatchConvertDialog;

class KRABatchFileListGrabberDialog : public QKPleaseWaitDialog,
                                      public std::enable_shared_from_this<KRABatchFileListGrabberDialog> {
    Q_OBJECT
public:
    // tag: what the batch converter does with the files (1 list, 2 convert, 3 concatenate).
    KRABatchFileListGrabberDialog(const std::weak_ptr<KRABatchConvertDialog>& host, unsigned tag, bool justURLs,
                                  const QList<clFolderListEntryRef>& sourceFolders);
    ~KRABatchFileListGrabberDialog() override;

    unsigned tag() const { return m_tag; }
    bool justURLs() const { return m_justURLs; }
    // Files collected so far (from any thread).
    size_t collectedCount() const;
    bool doneSent() const { return m_doneSent; }

    bool showCancel() override { return true; }
    void onCancel() override;
    QString panelName() override { return QStringLiteral("Collecting Files"); }

    struct State;

protected:
    void loadView() override;

private:
    void startWorker();
    void completed();

    std::weak_ptr<KRABatchConvertDialog> m_host;
    const unsigned m_tag;
    const bool m_justURLs;
    const QList<clFolderListEntryRef> m_sourceFolders;
    std::shared_ptr<State> m_state;
    bool m_started = false;
    bool m_doneSent = false;
};
