// A pop-up button whose items show styled text (coloured runs): the output-location picker
// and the profile picker colour their rows. Each item keeps its styled text as HTML under
// KRARichTextRole; an item without it shows its plain text. The closed button shows the
// current item the same way.
#pragma once

#include <QComboBox>
#include <QStyledItemDelegate>

#include "kit/KRAItemRoles.h"
#include "kit/QKAttributedText.h"

class KRARichComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit KRARichComboBox(QWidget* parent = nullptr);

    // Adds an item: its plain text (for the keyboard search and accessibility) and its style.
    void addRichItem(const QKAttributedText& text, const QVariant& data = QVariant());
    void setRichText(int index, const QKAttributedText& text);

    // The runs as HTML: each run's text escaped, coloured runs in a span of their colour.
    static QString htmlOf(const QKAttributedText& text);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Draws an item's KRARichTextRole HTML inside the usual item background.
class KRARichTextItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
