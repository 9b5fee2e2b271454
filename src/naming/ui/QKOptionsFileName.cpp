#include "naming/ui/QKOptionsFileName.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/XStrQString.h"
#include "xclass/XRegistry.h"
#include "xclass/XRegistryTransaction.h"

namespace {

enum Column { ColumnReplace = 0, ColumnReplaceWith = 1, ColumnDelete = 2, ColumnCount = 3 };

// The first character of a text (a whole code point), or empty text.
QString FirstCharacter(const QString& text)
{
    const XStr wide = XStrFromQString(text);
    return wide.IsEmpty() ? QString() : XStrToQString(XStr(std::wstring_view(wide.p, 1)));
}

// The table, telling whether a cell editor is open.
class ReplaceTable : public QTableWidget {
public:
    using QTableWidget::QTableWidget;
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }
};

} // namespace

QKOptionsFileName::QKOptionsFileName(QObject* parent) : QKWindowController(parent) {}

QKOptionsFileName* QKOptionsFileName::runForKRA(QWidget* parent)
{
    return run(parent, false);
}

QKOptionsFileName* QKOptionsFileName::runForTracklift(QWidget* parent)
{
    return run(parent, true);
}

QKOptionsFileName* QKOptionsFileName::run(QWidget* parent, bool forTracklift)
{
    auto* controller = new QKOptionsFileName();
    controller->setForTracklift(forTracklift);
    auto* dialog = qobject_cast<QDialog*>(controller->window());
    if (controller->beginDialogIn(parent, [controller](int64_t) { controller->deleteLater(); }))
        return controller;
    // No window to hang the sheet on: a dialog of its own.
    QObject::connect(dialog, &QDialog::finished, controller, &QObject::deleteLater);
    dialog->open();
    return controller;
}

QString QKOptionsFileName::regReplace() const
{
    return m_forTracklift ? QStringLiteral("TrackliftFileNameChrReplace") : QStringLiteral("kRAFileNameChrReplace");
}

QString QKOptionsFileName::regANSIOnly() const
{
    return m_forTracklift ? QStringLiteral("TrackliftFileNameANSIFilenameOnly")
                          : QStringLiteral("kRAFileNameANSIFilenameOnly");
}

QString QKOptionsFileName::windowsStylePairs()
{
    return QString::fromWCharArray(L"\"'>\u00BB<\u00AB?\u00BF:;\\-/-*-|-");
}

QString QKOptionsFileName::pairTextFromRecords(const QList<FNReplaceRecord>& records)
{
    QString text;
    for (const FNReplaceRecord& record : records) {
        const QString from = FirstCharacter(record.Replace);
        const QString to = FirstCharacter(record.ReplaceWith);
        if (!from.isEmpty() && !to.isEmpty())
            text += from + to;
    }
    return text;
}

void QKOptionsFileName::importReplacement(const QString& pairs)
{
    const XStr wide = XStrFromQString(pairs.isEmpty() ? defaultPairs() : pairs);
    mReplaceRecords.clear();
    for (int i = 0; i + 1 < wide.Length(); i += 2) {
        FNReplaceRecord record;
        record.Replace = XStrToQString(XStr(std::wstring_view(wide.p + i, 1)));
        record.ReplaceWith = XStrToQString(XStr(std::wstring_view(wide.p + i + 1, 1)));
        mReplaceRecords.append(record);
    }
    rebuildTable();
}

QWidget* QKOptionsFileName::loadWindow()
{
    auto* dialog = new QDialog(nullptr);
    dialog->setWindowTitle(QStringLiteral("File Name Characters"));

    auto* intro = new QLabel(QStringLiteral("Characters replaced in output file names:"), dialog);

    m_table = new ReplaceTable(0, ColumnCount, dialog);
    m_table->setObjectName(QStringLiteral("tableView"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Replace"), QStringLiteral("Replace With"), QString()});
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnReplace, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnReplaceWith, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnDelete, QHeaderView::ResizeToContents);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    m_table->installEventFilter(this);
    connect(m_table, &QTableWidget::itemChanged, this, &QKOptionsFileName::onEdit);

    m_checkAnsiOnly = new QCheckBox(QStringLiteral("Use only ANSI characters in file names"), dialog);
    m_checkAnsiOnly->setObjectName(QStringLiteral("checkAnsiOnly"));

    auto* restoreDefault = new QPushButton(QStringLiteral("Restore Default"), dialog);
    auto* restoreWindows = new QPushButton(QStringLiteral("Restore Windows Defaults"), dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setDefault(true);
    connect(restoreDefault, &QPushButton::clicked, this, &QKOptionsFileName::onRestoreDefault);
    connect(restoreWindows, &QPushButton::clicked, this, &QKOptionsFileName::onRestoreDefaultsWin);
    connect(cancel, &QPushButton::clicked, this, &QKOptionsFileName::cancelOperation);
    connect(ok, &QPushButton::clicked, this, &QKOptionsFileName::onOK);

    auto* restoreRow = new QHBoxLayout;
    restoreRow->addWidget(restoreDefault);
    restoreRow->addWidget(restoreWindows);
    restoreRow->addStretch(1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(cancel);
    buttonRow->addWidget(ok);

    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(intro);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_checkAnsiOnly);
    layout->addLayout(restoreRow);
    layout->addLayout(buttonRow);
    dialog->resize(420, 380);
    return dialog;
}

void QKOptionsFileName::windowDidLoad()
{
    if (m_initOnce)
        return;
    m_initOnce = true;
    if (!m_forTracklift)
        window()->setWindowTitle(QStringLiteral("Marvoni Options"));
    importReplacement(XStrToQString(XRegistry::GetString(XStrFromQString(regReplace()))));
    m_checkAnsiOnly->setChecked(XRegistry::GetDWORD(XStrFromQString(regANSIOnly())) != 0);
}

void QKOptionsFileName::fillRow(int row)
{
    const FNReplaceRecord& record = mReplaceRecords[row];
    const Qt::ItemFlags editable = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    auto* replace = new QTableWidgetItem(record.Replace);
    replace->setFlags(editable);
    auto* replaceWith = new QTableWidgetItem(record.ReplaceWith);
    replaceWith->setFlags(editable);
    auto* remove = new QTableWidgetItem;
    remove->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    m_table->setItem(row, ColumnReplace, replace);
    m_table->setItem(row, ColumnReplaceWith, replaceWith);
    m_table->setItem(row, ColumnDelete, remove);

    auto* button = new QToolButton;
    button->setIcon(button->style()->standardIcon(QStyle::SP_DialogCloseButton));
    button->setToolTip(QStringLiteral("Delete"));
    button->setAutoRaise(true);
    QToolButton* self = button;
    connect(button, &QToolButton::clicked, this, [this, self] {
        for (int r = 0; r < addNewRowNumber(); r++)
            if (m_table->cellWidget(r, ColumnDelete) == self) {
                onDelete(r);
                return;
            }
    });
    m_table->setCellWidget(row, ColumnDelete, button);
}

void QKOptionsFileName::rebuildTable()
{
    if (!m_table)
        return;
    m_filling = true;
    m_table->clearSpans();
    m_table->setRowCount(0);
    const int records = addNewRowNumber();
    m_table->setRowCount(records + 1);
    for (int row = 0; row < records; row++)
        fillRow(row);

    // The last row: a button that adds a record, never selectable or editable.
    const int addRow = records;
    for (int column = 0; column < ColumnCount; column++) {
        auto* item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        m_table->setItem(addRow, column, item);
    }
    m_table->setSpan(addRow, 0, 1, ColumnCount);
    m_addNewButton = new QPushButton(QStringLiteral("+ add new"));
    m_addNewButton->setObjectName(QStringLiteral("addNewButton"));
    m_addNewButton->setFlat(true);
    connect(m_addNewButton, &QPushButton::clicked, this, &QKOptionsFileName::onAddNew);
    m_table->setCellWidget(addRow, 0, m_addNewButton);
    m_filling = false;
}

void QKOptionsFileName::onEdit(QTableWidgetItem* item)
{
    if (m_filling || !item)
        return;
    const int row = item->row();
    if (row < 0 || row >= addNewRowNumber())
        return;
    if (item->column() == ColumnReplace)
        mReplaceRecords[row].Replace = item->text();
    else if (item->column() == ColumnReplaceWith)
        mReplaceRecords[row].ReplaceWith = item->text();
}

void QKOptionsFileName::selectRecordRow(int row)
{
    if (row < 0 || row >= addNewRowNumber()) {
        m_table->clearSelection();
        return;
    }
    m_table->setCurrentCell(row, ColumnReplace);
    m_table->selectRow(row);
}

void QKOptionsFileName::onAddNew()
{
    window();
    m_filling = true;
    mReplaceRecords.append(FNReplaceRecord());
    const int row = addNewRowNumber() - 1;
    m_table->insertRow(row);
    fillRow(row);
    m_filling = false;
    selectRecordRow(row);
    m_table->editItem(m_table->item(row, ColumnReplace));
}

void QKOptionsFileName::onDelete(int row)
{
    if (row < 0 || row >= addNewRowNumber())
        return;
    mReplaceRecords.removeAt(row);
    m_table->removeRow(row);
}

bool QKOptionsFileName::handleDeleteKeyInTableView()
{
    if (!m_table)
        return false;
    const QList<QTableWidgetSelectionRange> ranges = m_table->selectedRanges();
    const int row = ranges.isEmpty() ? -1 : ranges.first().topRow();
    if (row < 0 || row >= addNewRowNumber())
        return false;
    onDelete(row);
    selectRecordRow(row < addNewRowNumber() ? row : row - 1);
    return true;
}

bool QKOptionsFileName::eventFilter(QObject* watched, QEvent* event)
{
    // Only key events: others reach the filter while the table is being destroyed.
    if (event->type() == QEvent::KeyPress && watched == m_table) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool editing = static_cast<ReplaceTable*>(m_table.data())->isEditing();
        if (!editing && (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace))
            return handleDeleteKeyInTableView();
        if (editing && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            // The arrow keys carry the editing to the same column of the next record row.
            const int column = m_table->currentColumn();
            const int row = m_table->currentRow() + (key->key() == Qt::Key_Up ? -1 : 1);
            if (row >= 0 && row < addNewRowNumber() && (column == ColumnReplace || column == ColumnReplaceWith)) {
                m_table->setCurrentCell(row, column);
                m_table->editItem(m_table->item(row, column));
            }
            return true;
        }
    }
    return QKWindowController::eventFilter(watched, event);
}

void QKOptionsFileName::onOK()
{
    flushEdits();
    XRegistryTransaction transaction;
    transaction.SetDWORD(m_checkAnsiOnly && m_checkAnsiOnly->isChecked() ? 1 : 0, XStrFromQString(regANSIOnly()));
    transaction.SetString(XStrFromQString(pairTextFromRecords(mReplaceRecords)), XStrFromQString(regReplace()));
    transaction.Commit();
    endDialog(1);
}

void QKOptionsFileName::cancelOperation()
{
    endDialog(0);
}

void QKOptionsFileName::onRestoreDefault()
{
    window();
    m_checkAnsiOnly->setChecked(false);
    importReplacement(QString());
}

void QKOptionsFileName::onRestoreDefaultsWin()
{
    window();
    m_checkAnsiOnly->setChecked(false);
    importReplacement(windowsStylePairs());
}
