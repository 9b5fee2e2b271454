#include "kit/KRARichComboBox.h"

#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextDocument>

namespace {

void DrawHtml(QPainter* painter, const QString& html, const QRect& rect, const QFont& font, const QColor& textColor)
{
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setDefaultStyleSheet(QStringLiteral("body { color: %1; }").arg(textColor.name()));
    doc.setHtml(QStringLiteral("<body>%1</body>").arg(html));
    painter->save();
    const int top = rect.top() + (rect.height() - static_cast<int>(doc.size().height())) / 2;
    painter->translate(rect.left(), top);
    painter->setClipRect(QRect(0, rect.top() - top, rect.width(), rect.height()));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, textColor);
    doc.documentLayout()->draw(painter, context);
    painter->restore();
}

} // namespace

KRARichComboBox::KRARichComboBox(QWidget* parent) : QComboBox(parent)
{
    setItemDelegate(new KRARichTextItemDelegate(this));
}

void KRARichComboBox::addRichItem(const QKAttributedText& text, const QVariant& data)
{
    addItem(text.plainText(), data);
    setItemData(count() - 1, htmlOf(text), KRARichTextRole);
}

void KRARichComboBox::setRichText(int index, const QKAttributedText& text)
{
    setItemText(index, text.plainText());
    setItemData(index, htmlOf(text), KRARichTextRole);
}

QString KRARichComboBox::htmlOf(const QKAttributedText& text)
{
    QString html;
    for (const QKAttributedText::Run& run : text.runs()) {
        if (run.text.isEmpty())
            continue;
        const QString escaped = run.text.toHtmlEscaped();
        if (run.color.isValid())
            html += QStringLiteral("<span style=\"color:%1\">%2</span>").arg(run.color.name(), escaped);
        else
            html += escaped;
    }
    return html;
}

void KRARichComboBox::paintEvent(QPaintEvent* event)
{
    const QString html = currentIndex() >= 0 ? itemData(currentIndex(), KRARichTextRole).toString() : QString();
    if (html.isEmpty()) {
        QComboBox::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull())
        field.adjust(option.iconSize.width() + 4, 0, 0, 0);
    field.adjust(2, 0, -2, 0);
    const QColor color = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    DrawHtml(&painter, html, field, font(), color);
}

void KRARichTextItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    const QString html = index.data(KRARichTextRole).toString();
    if (html.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QRect area = textRect.adjusted(2, 0, -2, 0);
    // On the highlight the runs' own colours would not read: the selected row is drawn in the
    // highlighted-text colour alone.
    if (opt.state & QStyle::State_Selected) {
        QTextDocument plain;
        plain.setHtml(html);
        DrawHtml(painter, plain.toPlainText().toHtmlEscaped(), area, opt.font,
                 opt.palette.color(QPalette::HighlightedText));
        return;
    }
    DrawHtml(painter, html, area, opt.font, opt.palette.color(QPalette::Text));
}

QSize KRARichTextItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString html = index.data(KRARichTextRole).toString();
    if (!html.isEmpty()) {
        QTextDocument doc;
        doc.setDefaultFont(option.font);
        doc.setDocumentMargin(0);
        doc.setHtml(html);
        size.setWidth(std::max(size.width(), static_cast<int>(doc.idealWidth()) + 12));
    }
    return size;
}
