// The outputs of a batch that need the user's word before it starts: destinations that exist
// already (overwrite, skip or rename them), and destinations the batch cannot write as they
// are: two outputs with one name, an output that is its own source, an output without a name.
// Those must be renamed or unticked: until they are, the dialog offers no way on.
//
// The OK button reads "Overwrite" while a ticked destination still exists and "Continue"
// otherwise. Whether a file exists is asked on a worker, with the answers kept, so that
// toggling thousands of rows stays quick; a check that a newer one replaced, or that arrives
// after the dialog closed, is dropped.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QStringList>

#include <memory>

#include "kit/KRATableView.h"
#include "kit/KillSwitch.h"
#include "naming/KRACheckFilenames.h"

class KRAFileAlreadyExistsDialog : public QDialog, public KRATableViewDelegate {
    Q_OBJECT
public:
    explicit KRAFileAlreadyExistsDialog(QWidget* parent = nullptr);
    ~KRAFileAlreadyExistsDialog() override;

    KRACheckFilenamesStateRef state() const { return m_state; }
    void setState(const KRACheckFilenamesStateRef& state);
    QList<KRACheckFileNamesEntryRef> items() const { return m_items; }

    QString okButtonText() const;
    bool canGoOn() const;

    // The display path of a row: the destination's friendly name, with its extension.
    QString displayPathAt(int index);
    // A typed display path: refused (false, with the reason shown) when it is empty or
    // relative; else the destination, with the old extension (typed or not), and a new check.
    bool setDisplayPath(const QString& text, int index);
    void setChecked(int index, bool checked);
    void toggleAll(bool checked);
    void appendToAll(const QString& suffix);
    void onMenuAppendDate();

    void onButtonOverwrite();
    void onButtonNoToAll();
    void onButtonCancel();

    // A check is pending or running (tests wait for the caption).
    bool isChecking() const { return m_checkPending || m_checkRunning; }
    QString lastRefusal() const { return m_lastRefusal; }
    KRATableView* table() const { return m_table; }
    QStandardItemModel* tableModel() const { return m_model; }
    QPushButton* okButton() const { return m_ok; }

signals:
    // The caption or the way on changed after a check.
    void checked();

protected:
    void closeEvent(QCloseEvent* event) override;

    // Space toggles the ticks of the selected rows; Return after a rename edits the next row's
    // destination, unless the name was refused.
    std::optional<QString> checkboxColumnIdentifier(KRATableView*) override;
    std::optional<bool> editEnterToNextRow(KRATableView*) override;

private:
    struct Cache;
    void reloadTable();
    void refreshAllRows();
    void refreshAllRowsLater();
    void refreshRow(int row);
    void refreshButtons();
    void checkOverwrite();
    void checkOverwrite2();
    void checkOverwriteDone(const KillSwitchRef& cookie, bool exists);
    void endDelayed(int code);
    QString statusOf(const KRACheckFileNamesEntry& entry) const;
    QString statusDetailOf(const KRACheckFileNamesEntry& entry) const;

    KRACheckFilenamesStateRef m_state;
    QList<KRACheckFileNamesEntryRef> m_items;
    QStringList m_display;
    KRACheckClashes m_clashes; // as of the last refresh of the rows
    XFileKeyMaker m_keys;      // the case rules of the folders renamed into
    std::shared_ptr<Cache> m_cache;
    std::unique_ptr<KillSwitchHolder> m_killSwitch;
    bool m_checkPending = false;
    bool m_checkRunning = false;
    bool m_shuttingDown = false;
    bool m_overwrite = true;
    bool m_filling = false;
    bool m_batching = false;
    bool m_refreshPending = false;
    QString m_lastRefusal;
    QPointer<KRATableView> m_table;
    QPointer<QStandardItemModel> m_model;
    QPointer<QPushButton> m_ok;
    QPointer<QLabel> m_message;
};
