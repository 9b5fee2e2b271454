#include "kit/KRAFormatter.h"

#include <QLineEdit>

QValidator::State KRAFormatter::validate(QString& input, int&) const
{
    QVariant value;
    return getObjectValue(&value, input, nullptr) ? Acceptable : Intermediate;
}

void KRAFormatter::fixup(QString& input) const
{
    QVariant value;
    if (getObjectValue(&value, input, nullptr))
        input = editingStringForObjectValue(value);
}

KRAFormatterDelegate::KRAFormatterDelegate(KRAFormatter* formatter, QObject* parent)
    : QStyledItemDelegate(parent), m_formatter(formatter)
{
}

QString KRAFormatterDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    if (!m_formatter)
        return QStyledItemDelegate::displayText(value, locale);
    return m_formatter->stringForObjectValue(value);
}

QWidget* KRAFormatterDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    if (!m_formatter || !m_formatter->isEditable())
        return nullptr;
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setValidator(m_formatter);
    return editor;
}

void KRAFormatterDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line || !m_formatter) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    line->setText(m_formatter->editingStringForObjectValue(index.data(Qt::EditRole)));
}

void KRAFormatterDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line || !m_formatter) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    QVariant value;
    if (m_formatter->getObjectValue(&value, line->text(), nullptr))
        model->setData(index, value, Qt::EditRole);
}
