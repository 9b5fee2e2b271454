// The status log: after a batch with messages, the progress dialog gives way to this panel in
// the same window. Two tabs, "Errors" and "Information", each an outline of one row per file
// with that file's message lines under it; the user copies the messages, converts the failed
// files again, or leaves.
#pragma once

#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>

#include <memory>

#include "kit/KRAOutlineView.h"
#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"
#include "progress/KRAStatusLogContext.h"

class KRAStatusLogDialog : public QKPanelViewController,
                           public QKCancelOperation,
                           public KRAOutlineViewDelegate,
                           public std::enable_shared_from_this<KRAStatusLogDialog> {
    Q_OBJECT
public:
    explicit KRAStatusLogDialog(KRAStatusLogContext context, QObject* parent = nullptr);
    ~KRAStatusLogDialog() override;

    static std::shared_ptr<KRAStatusLogDialog> create(KRAStatusLogContext context);

    const KRAStatusLogContext& context() const { return m_context; }
    // The row text of a file: "Error converting to ENCODER, 'NAME' to 'DEST'", without the
    // destination when there is none or it ends in ".ignore".
    static QString formatHeaderFor(const KRAStatusLogEntry& entry, bool errors);

    // KRAPanel
    QString panelName() override;
    QSize panelMinSize() override { return QSize(500, 500); }
    bool panelSizeToHost() override { return m_context.sizeToHost; }

    // QKCancelOperation: Escape leaves like OK.
    void cancelOperation(QObject* sender) override;

    void onOK();
    void onCloseAndEject();
    void onReConvert();
    // Copies the whole tab that is shown.
    void onCopy();
    // The text of a whole tab, and of the selected rows of one outline (every row without a
    // selection).
    QString tabText(bool errors) const;
    QString selectionText(KRAOutlineView* outline) const;

    // Ctrl+C in an outline copies its selected rows.
    bool performKeyEquivalent(QKeyEvent* event, QAbstractItemView* view) override;

    QTabWidget* tabs() const { return m_tabs; }
    KRAOutlineView* tableErrors() const { return m_tableErrors; }
    KRAOutlineView* tableInformation() const { return m_tableInformation; }
    QPushButton* buttonReConvert() const { return m_buttonReConvert; }
    QPushButton* buttonCopy() const { return m_buttonCopy; }

protected:
    void loadView() override;

private:
    KRAOutlineView* makeOutline(const QList<KRAStatusLogEntryRef>& entries, bool errors);
    bool errorsTabShown() const;
    void refreshCopyButton();
    void done();

    KRAStatusLogContext m_context;
    QPointer<QTabWidget> m_tabs;
    QPointer<KRAOutlineView> m_tableErrors;
    QPointer<KRAOutlineView> m_tableInformation;
    QPointer<QPushButton> m_buttonReConvert;
    QPointer<QPushButton> m_buttonCopy;
};
