// "List & Rename Files": every file of the pending conversion with its destination, length,
// type and estimated size. The user unticks files and types other destination names for
// single files; the edits are kept apart until OK, so Cancel changes nothing.
//
// The panel reaches the converter setup through KRAFileListOwner, which gives it the files
// and takes the edits back.
#pragma once

#include <QLabel>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStandardItemModel>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

#include "job/QKEncoderDesc.h"
#include "kit/KRAPanel.h"
#include "kit/KRATableView.h"
#include "kit/QKWindowCancellable.h"
#include "media/QKFileInfoCache.h"

class KRAFileNaming;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;

struct KRAFileListEdit {
    bool checked = true;
    std::optional<QString> destinationUser;
};

struct KRAFileListItem {
    bool checked = true;
    std::optional<QString> destinationUser;
    QUrl url; // the source as the user sees it
    QString specialActionDesc;
};

class KRAFileListOwner {
public:
    virtual ~KRAFileListOwner();
    virtual QList<KRAFileListItem> fileListItems() const = 0;
    virtual KRAFileNamingRef fileListNaming() const = 0;
    virtual QKEncoderDescRef fileListEncoder() const = 0;
    virtual QString fileListEncoderArgs() const = 0;
    virtual QKFileInfoCacheRef fileListInfoCache() const { return nullptr; }
    // OK: the edits by row (the entry takes the edit's tick and, when the encoder writes
    // files, its destination).
    virtual void fileListApply(const QMap<int, KRAFileListEdit>& edits) = 0;
    // OK or Cancel: back to the owner's panel.
    virtual void onSubDialogClose() = 0;
};

class KRAFileListDialog : public QKPanelViewController, public KRATableViewDelegate, public QKCancelOperation {
    Q_OBJECT
public:
    explicit KRAFileListDialog(KRAFileListOwner* owner);
    ~KRAFileListDialog() override;

    QString panelName() override { return QStringLiteral("List & Rename Files"); }
    QSize panelMinSize() override { return QSize(300, 200); }
    QWidget* panelInitialFocus() override { return m_table; }

    // Takes the files, encoder and naming again; pending edits are dropped.
    void refreshDialog();

    bool itemCheckedAt(int row) const;
    // The destination as the user sees it (the name below the chosen folder), or
    // "< encoder >" for an encoder that writes no files.
    QString destinationUserAt(int row) const;
    void setCheckedAt(int row, bool checked);
    // A typed destination: refused (false, with the reason) when it is empty or the encoder
    // writes no files.
    bool setDestinationAt(int row, const QString& text);
    QString lastRefusal() const { return m_lastRefusal; }

    void onMenuCheckAll();
    void onMenuUncheckAll();
    void onInvertCheck();
    void onCheckOnlySelected();
    void onToggleSelected();
    void onMenuAppendDateTime();
    void appendToAll(const QString& suffix);
    void onRevealSourceInFileManager();
    void onOK();
    void onCancel();
    // Escape: Cancel.
    void cancelOperation(QObject* sender) override;
    // The owner is going: nothing more reaches it.
    void detachOwner() { m_owner = nullptr; }

    QMap<int, KRAFileListEdit> edits() const { return m_edits; }
    QString convertingLabel() const;
    QString estimatedTotalLabel() const;
    KRATableView* table() const { return m_table; }
    QStandardItemModel* tableModel() const { return m_model; }

protected:
    void loadView() override;
    // Return after typing a destination edits the next row's, unless the name was refused.
    std::optional<bool> editEnterToNextRow(KRATableView*) override;

private:
    KRAFileListEdit& editItemAt(int row);
    void reloadTable();
    void refreshRow(int row);
    void refreshTotals();
    void refreshEstimatedSize();
    void onInfosLoaded(int64_t count);
    void exitDialog(int code);
    QList<int> selectedRows() const;

    KRAFileListOwner* m_owner;
    QList<KRAFileListItem> m_items;
    QMap<int, KRAFileListEdit> m_edits;
    QList<uint64_t> m_estimatedSizes;
    QKEncoderDescRef m_encoder;
    std::unique_ptr<QKEncoderInstance> m_encoderInstance;
    QKFileInfoCacheRef m_cache;
    int m_callback = 0;
    bool m_filling = false;
    QString m_lastRefusal;
    QPointer<KRATableView> m_table;
    QPointer<QStandardItemModel> m_model;
    QPointer<QLabel> m_labelConverting;
    QPointer<QLabel> m_labelTotal;
};
