// File-name character replacement: the characters that output names must not hold and what
// replaces each, plus the switch for ANSI-only names. Both are global settings that every new
// file naming reads. The pairs are stored as one text read two characters at a time
// (character, replacement; "*" as replacement deletes); an empty text means "/-:;".
//
// QKOptionsFileName is the window that edits them: a table of FNReplaceRecord rows with a
// last "+ add new" row and a delete button per row, the ANSI-only check box, two restore
// actions, OK and Cancel. It is shown as a sheet on the window that asks for it.
#pragma once

#include <QCheckBox>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTableWidget>

#include "kit/QKWindowController.h"

struct FNReplaceRecord {
    QString Replace;
    QString ReplaceWith;
};

class QKOptionsFileName : public QKWindowController {
    Q_OBJECT
public:
    explicit QKOptionsFileName(QObject* parent = nullptr);

    // A new window for the converter's settings (or Tracklift's), begun as a sheet on
    // parent's window (shown on its own without a parent). It deletes itself when it ends.
    static QKOptionsFileName* runForKRA(QWidget* parent);
    static QKOptionsFileName* runForTracklift(QWidget* parent);
    static QKOptionsFileName* run(QWidget* parent, bool forTracklift);

    bool forTracklift() const { return m_forTracklift; }
    void setForTracklift(bool on) { m_forTracklift = on; }
    // The registry value names of the current mode.
    QString regReplace() const;
    QString regANSIOnly() const;

    static QString defaultPairs() { return QStringLiteral("/-:;"); }
    // Nine pairs that keep names usable on Windows file systems.
    static QString windowsStylePairs();
    // The first characters of Replace and ReplaceWith of each row, rows missing either left out.
    static QString pairTextFromRecords(const QList<FNReplaceRecord>& records);

    // Replaces the rows with one per pair of the text (empty: the default pairs).
    void importReplacement(const QString& pairs);
    const QList<FNReplaceRecord>& records() const { return mReplaceRecords; }
    int addNewRowNumber() const { return static_cast<int>(mReplaceRecords.size()); }

    QTableWidget* tableView() const { return m_table; }
    QCheckBox* checkAnsiOnly() const { return m_checkAnsiOnly; }
    QPushButton* addNewButton() const { return m_addNewButton; }

public slots:
    // Stores the check box and the pairs in one registry transaction and ends with 1.
    void onOK();
    // Ends with 0; nothing is stored.
    void cancelOperation();
    void onRestoreDefault();
    void onRestoreDefaultsWin();
    void onAddNew();
    void onDelete(int row);
    // Removes the selected record row; false when no record row is selected.
    bool handleDeleteKeyInTableView();

protected:
    QWidget* loadWindow() override;
    void windowDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildTable();
    void fillRow(int row);
    void onEdit(QTableWidgetItem* item);
    void selectRecordRow(int row);

    QList<FNReplaceRecord> mReplaceRecords;
    bool m_initOnce = false;
    bool m_forTracklift = true;
    bool m_filling = false;
    QPointer<QTableWidget> m_table;
    QPointer<QCheckBox> m_checkAnsiOnly;
    QPointer<QPushButton> m_addNewButton;
};
