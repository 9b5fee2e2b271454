// Value formatters for line edits and table cells: each turns a value (a numeric QVariant)
// into display text and, where editing is allowed, typed text back into a value.
//
// A formatter is a QValidator, so it can sit on a QLineEdit (setValidator): text it parses is
// Acceptable, other text Intermediate, and fixup() rewrites parsable text in the formatter's
// own form. KRAFormatterDelegate puts one on the cells of a table or tree column.
#pragma once

#include <QPointer>
#include <QStyledItemDelegate>
#include <QValidator>
#include <QVariant>

class KRAFormatter : public QValidator {
public:
    using QValidator::QValidator;

    virtual QString stringForObjectValue(const QVariant& value) const = 0;
    // The text an editor starts with; by default the display text.
    virtual QString editingStringForObjectValue(const QVariant& value) const { return stringForObjectValue(value); }
    // Parses typed text. The error text is emptied first and set on failure.
    virtual bool getObjectValue(QVariant* value, const QString& text, QString* errorDescription) const = 0;
    // False for display-only formatters: their cells get no editor.
    virtual bool isEditable() const { return true; }

    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
};

// Shows a column's values through a formatter and edits them in a QLineEdit that the formatter
// validates. The delegate does not own the formatter.
class KRAFormatterDelegate : public QStyledItemDelegate {
public:
    explicit KRAFormatterDelegate(KRAFormatter* formatter, QObject* parent = nullptr);

    KRAFormatter* formatter() const { return m_formatter; }

    QString displayText(const QVariant& value, const QLocale& locale) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    // Writes the parsed value into the model; text that does not parse leaves the model as it was.
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    QPointer<KRAFormatter> m_formatter;
};
