#include "kit/KRATableView.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>

#include "kit/KRAItemRoles.h"
#include "kit/KitKeyEvents.h"

QKPerformKeyEquivalentInView::~QKPerformKeyEquivalentInView() = default;

namespace {

bool IsArrow(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

// The whole text of the editor is selected (an empty text counts as selected whole).
bool WholeTextSelected(QWidget* editor)
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line)
        return false;
    if (line->text().isEmpty())
        return true;
    return line->selectionStart() == 0 && line->selectedText().size() == line->text().size();
}

int ColumnWithIdentifier(const QAbstractItemModel* model, const QString& identifier)
{
    if (!model || identifier.isEmpty())
        return -1;
    for (int c = 0; c < model->columnCount(); ++c) {
        if (model->headerData(c, Qt::Horizontal, KRAColumnIdentifierRole).toString() == identifier)
            return c;
    }
    return -1;
}

} // namespace

bool KRAViewOfferKeyToDelegate(QAbstractItemView* view, QKeyEvent* event, QKPerformKeyEquivalentInView* delegate,
                               const std::function<void(QKeyEvent*)>& base)
{
    // A modifier pressed on its own is no key equivalent yet.
    const int key = event->key();
    if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta) {
        base(event);
        return event->isAccepted();
    }
    if (event->matches(QKeySequence::Copy) && delegate && delegate->performKeyEquivalent(event, view)) {
        event->accept();
        return true;
    }
    event->accept();
    base(event);
    if (event->isAccepted())
        return true;
    if (delegate && delegate->performKeyEquivalent(event, view)) {
        event->accept();
        return true;
    }
    return false;
}

KRATableView::KRATableView(QWidget* parent) : QTableView(parent)
{
    // Editors are children of the viewport: the newest child after an edit began is its editor.
    viewport()->installEventFilter(this);
}

KRATableView::~KRATableView() = default;

QWidget* KRATableView::currentEditor() const
{
    return state() == EditingState ? m_editor.data() : nullptr;
}

bool KRATableView::canSelectRow(int row) const
{
    if (m_delegate) {
        if (const std::optional<bool> answer = m_delegate->shouldSelectRow(const_cast<KRATableView*>(this), row))
            return *answer;
    }
    return true;
}

QList<int> KRATableView::selectedRowList() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        if (!rows.contains(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool KRATableView::handleEnterKey()
{
    if (!m_delegate)
        return false;
    return m_delegate->startEditingByEnterKey(this).value_or(false);
}

bool KRATableView::handleDeleteKey()
{
    if (!m_delegate)
        return false;
    return m_delegate->handleDeleteKey(this).value_or(false);
}

int KRATableView::checkboxColumnForSpace()
{
    if (!m_delegate)
        return -1;
    if (const std::optional<int> column = m_delegate->checkboxColumn(this))
        return *column;
    if (const std::optional<QString> identifier = m_delegate->checkboxColumnIdentifier(this))
        return ColumnWithIdentifier(model(), *identifier);
    return -1;
}

bool KRATableView::handleSpaceKey()
{
    const QList<int> rows = selectedRowList();
    if (rows.isEmpty() || !model())
        return false;
    if (m_delegate && m_delegate->toggleRowCheckboxes(this, rows))
        return true;
    const int column = checkboxColumnForSpace();
    if (column < 0 || column >= model()->columnCount())
        return false;

    const QModelIndex first = model()->index(rows.first(), column);
    const QVariant state = model()->data(first, Qt::CheckStateRole);
    const QVariant value = model()->data(first, Qt::EditRole);
    bool on;
    bool asCheckState = false;
    if (state.isValid()) {
        on = state.toInt() == Qt::Checked;
        asCheckState = true;
    } else if (value.typeId() == QMetaType::Bool) {
        on = value.toBool();
    } else {
        return false;
    }
    // Every selected row takes the first one's new value, even those that differed.
    for (int row : rows) {
        const QModelIndex index = model()->index(row, column);
        if (asCheckState)
            model()->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        else
            model()->setData(index, !on, Qt::EditRole);
        update(index);
    }
    return true;
}

bool KRATableView::handleCursor(int key)
{
    QWidget* editor = currentEditor();
    if (!m_delegate || !editor || !m_editIndex.isValid() || !model())
        return false;
    const int row = m_editIndex.row();
    const int column = m_editIndex.column();
    const std::optional<bool> rowsByArrows = m_delegate->editCycleRowsByArrows(this, column);
    if (!rowsByArrows)
        return false;
    int targetRow = -1;
    int targetColumn = column;
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!WholeTextSelected(editor) || !m_delegate->editCycleColumnsByArrows(this).value_or(false))
            return false;
        targetRow = row;
        targetColumn = column + (key == Qt::Key_Left ? -1 : 1);
        if (targetColumn < 0 || targetColumn >= model()->columnCount())
            return false;
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!*rowsByArrows)
            return false;
        targetRow = row + (key == Qt::Key_Up ? -1 : 1);
        if (targetRow < 0 || targetRow >= model()->rowCount() || !canSelectRow(targetRow))
            return false;
        break;
    default:
        return false;
    }
    beginEditRow(targetRow, targetColumn);
    return true;
}

void KRATableView::beginEditRow(int row, int column)
{
    if (!model() || row < 0 || column < 0 || row >= model()->rowCount() || column >= model()->columnCount())
        return;
    const QModelIndex index = model()->index(row, column);
    if (selectionModel())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (edit(index, AllEditTriggers, nullptr)) {
        if (auto* line = qobject_cast<QLineEdit*>(m_editor.data()))
            line->selectAll();
    }
}

bool KRATableView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    m_newestChild = nullptr;
    if (!QTableView::edit(index, trigger, event))
        return false;
    if (state() == EditingState && m_newestChild) {
        if (m_editor != m_newestChild) {
            m_editor = m_newestChild;
            m_editor->installEventFilter(this);
        }
        m_editIndex = index;
    }
    return true;
}

void KRATableView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Only the item delegate's own end of an edit is a movement: the view also closes editors
    // itself (another cell clicked, the current cell moved), and that must not move editing on.
    const bool fromDelegate = qobject_cast<QAbstractItemDelegate*>(sender()) != nullptr;
    int movement = MovementNone;
    if (fromDelegate) {
        if (hint == QAbstractItemDelegate::EditNextItem)
            movement = MovementTab;
        else if (hint == QAbstractItemDelegate::EditPreviousItem)
            movement = MovementBacktab;
        else if (hint == QAbstractItemDelegate::SubmitModelCache)
            movement = MovementReturn;
    }
    QModelIndex index;
    if (editor == m_editor) {
        index = m_editIndex;
        m_editor = nullptr;
        m_editIndex = QPersistentModelIndex();
    } else if (editor) {
        index = indexAt(editor->geometry().center());
    }
    // The table's own Tab movement would walk every cell; the delegate decides instead.
    const bool ownMove = movement == MovementTab || movement == MovementBacktab;
    QTableView::closeEditor(editor, ownMove ? QAbstractItemDelegate::NoHint : hint);
    if (movement != MovementNone && index.isValid())
        handleTextDidEndEditing(movement, index.row(), index.column());
}

void KRATableView::handleTextDidEndEditing(int movement, int row, int column)
{
    if (!model() || row < 0 || column < 0 || row >= model()->rowCount() || column >= model()->columnCount())
        return;
    QTimer::singleShot(0, this, [this, movement, row, column] { handleTextDidEndEditing2(movement, row, column); });
}

void KRATableView::handleTextDidEndEditing2(int movement, int row, int column)
{
    if (!m_delegate || !model())
        return;
    const int rowCount = model()->rowCount();
    const int columnCount = model()->columnCount();
    if (row < 0 || column < 0 || row >= rowCount || column >= columnCount)
        return;

    if (movement == MovementTab || movement == MovementBacktab) {
        const int direction = movement == MovementTab ? 1 : -1;
        if (m_delegate->editNextField(this, column, row, direction))
            return;
        const std::optional<QSet<int>> rows = m_delegate->editableRows(this);
        const std::optional<QSet<int>> columns = m_delegate->editableColumns(this);
        const bool asksPerCell = m_delegate->shouldEditTableColumn(this, column, row).has_value();
        if (!rows && !columns && !asksPerCell)
            return;
        int r = row;
        int c = column;
        while (true) {
            c += direction;
            if (c >= columnCount) {
                c = 0;
                ++r;
            } else if (c < 0) {
                c = columnCount - 1;
                --r;
            }
            if (r < 0 || r >= rowCount)
                return;
            if (isColumnHidden(c))
                continue;
            if (rows && !rows->contains(r))
                continue;
            if (columns && !columns->contains(c))
                continue;
            if (asksPerCell && !m_delegate->shouldEditTableColumn(this, c, r).value_or(true))
                continue;
            beginEditRow(r, c);
            return;
        }
    }
    if (movement == MovementReturn) {
        if (m_delegate->editHandleEnterKey(this, column, row))
            return;
        if (row + 1 < rowCount && m_delegate->editEnterToNextRow(this).value_or(false))
            beginEditRow(row + 1, column);
    }
}

void KRATableView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = modifierFlagsDI(event) & ~Qt::KeypadModifier;
    bool handled = false;
    if (mods == Qt::NoModifier) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            handled = handleEnterKey();
        else if (key == Qt::Key_Space)
            handled = handleSpaceKey();
        else if (IsArrow(key))
            handled = handleCursor(key);
        else if (key == Qt::Key_Backspace || key == Qt::Key_Delete)
            handled = handleDeleteKey();
    }
    if (handled) {
        event->accept();
        return;
    }
    KRAViewOfferKeyToDelegate(this, event, m_delegate, [this](QKeyEvent* e) { QTableView::keyPressEvent(e); });
}

bool KRATableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport() && event->type() == QEvent::ChildAdded) {
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
            m_newestChild = child;
    } else if (watched == m_editor && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = modifierFlagsDI(key) & ~Qt::KeypadModifier;
        if (mods == Qt::NoModifier && IsArrow(key->key()) && handleCursor(key->key()))
            return true;
    }
    return QTableView::eventFilter(watched, event);
}
