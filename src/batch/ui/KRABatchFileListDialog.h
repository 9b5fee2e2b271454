// The list of the files the batch converter collected: a table with tick boxes, the folder and
// the information columns (read in the background and shown in batches), the totals of the
// ticked files, and Convert, which hands the ticked files to the converter window.
#pragma once

#include "batch/clFileListEntry.h"
#include "kit/KRAPanel.h"
#include "kit/KRATableView.h"
#include "kit/KillSwitch.h"

#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

class KRABatchConvertDialog;
class KRABatchFileRowsModel;
class KRATableColumns;

class KRABatchFileListDialog : public QKPanelViewController,
                               public KRATableViewDelegate,
                               public std::enable_shared_from_this<KRABatchFileListDialog> {
    Q_OBJECT
public:
    // Batches of information reach the table at most this often.
    static constexpr int kDeliveryIntervalMs = 200;

    static std::shared_ptr<KRABatchFileListDialog> create(const std::vector<clFileListEntryRef>& files,
                                                          const std::shared_ptr<KRABatchConvertDialog>& host);
    ~KRABatchFileListDialog() override;

    // Replaces the rows and starts reading the information they lack (stopping the reader of
    // the rows before).
    void setFiles(const std::vector<clFileListEntryRef>& files);
    const std::vector<clFileListEntryRef>& files() const { return m_files; }
    clFileListEntryRef fileAtIndex(size_t index) const;
    bool isItemChecked(size_t index) const;
    void setItemChecked(size_t index, bool checked);
    // The row of the URL; the largest signed 64-bit value when it is not listed.
    int64_t indexOfURL(const QUrl& url);

    void onButtonConvert();
    void onButtonOK();
    void onCheckOnlySelected();
    void onToggleSelected();
    void onMenuCheckAll()
    {
        setAll([](bool) { return true; });
    }
    void onMenuUncheckAll()
    {
        setAll([](bool) { return false; });
    }
    void onMenuInvertSelection()
    {
        setAll([](bool checked) { return !checked; });
    }
    void onRevealInFinder();

    QString statusText() const;
    QPushButton* buttonConvert() const { return m_buttonConvert; }
    KRATableView* table() const { return m_table; }
    // Deliveries of information so far, and whether the reader has finished (tests).
    int deliveries() const { return m_deliveries; }
    bool infoDone() const { return m_infoDone; }
    // The ticked rows the last Convert left out because their files were gone (tests).
    QStringList lastMissing() const { return m_lastMissing; }

    std::optional<int> checkboxColumn(KRATableView*) override { return 0; }
    bool toggleRowCheckboxes(KRATableView*, const QList<int>& rows) override;

    QString panelName() override { return QStringLiteral("%1 Files Converting").arg(QStringLiteral("Video")); }
    QSize panelMinSize() override { return QSize(500, 500); }
    bool panelSizeToHost() override { return true; }
    QString panelSizeClass() override { return QStringLiteral("Batch Converter"); }

protected:
    void loadView() override;

private:
    explicit KRABatchFileListDialog(const std::shared_ptr<KRABatchConvertDialog>& host);
    void deliverInfo(const std::vector<std::pair<clFileListEntryRef, QKMediaFileInfoRef>>& pairs,
                     const KillSwitchRef& cookie, bool last);
    void refreshStatus();
    void afterCheckChange();
    void setAll(const std::function<bool(bool)>& rule);
    QList<int> selectedRows() const;
    void showMenu(const QPoint& at);

    std::vector<clFileListEntryRef> m_files;
    QHash<QUrl, int64_t> m_fileIndexMap;
    std::weak_ptr<KRABatchConvertDialog> m_host;
    std::unique_ptr<KillSwitchHolder> m_killSwitch;
    QPointer<QLabel> m_label;
    QPointer<KRATableView> m_table;
    QPointer<QPushButton> m_buttonConvert;
    KRABatchFileRowsModel* m_model = nullptr;
    KRATableColumns* m_columns = nullptr;
    int m_deliveries = 0;
    bool m_infoDone = false;
    QStringList m_lastMissing;
};
