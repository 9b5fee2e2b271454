// A plain row widget of a table that carries a weak reference to the row's text field for the
// table code that configures it, and the greyed look of text fields.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class KRATableRowPlain : public QWidget {
public:
    using QWidget::QWidget;

    QWidget* textField() const { return m_textField; }
    void setTextField(QWidget* field) { m_textField = field; }

private:
    QPointer<QWidget> m_textField;
};

// Shows the field's text in the disabled text colour (true) or the normal text colour (false),
// without disabling the field.
void setGrayed(QWidget* field, bool grayed);
// Whether the field's text colour is the disabled text colour.
bool grayed(const QWidget* field);
