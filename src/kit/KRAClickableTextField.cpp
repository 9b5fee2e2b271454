#include "kit/KRAClickableTextField.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

KRAClickableTextField::KRAClickableTextField(QWidget* parent) : KRAClickableTextField(QString(), parent) {}

KRAClickableTextField::KRAClickableTextField(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setFocusPolicy(Qt::TabFocus);
    refreshCursor();
}

void KRAClickableTextField::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    // Letting go outside the field is how a user takes a press back.
    if (isEnabled() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit clicked();
    }
}

void KRAClickableTextField::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool activates = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
    if (activates && event->modifiers() == Qt::NoModifier && isEnabled()) {
        event->accept();
        // A held key repeats; one press is one click.
        if (!event->isAutoRepeat())
            emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void KRAClickableTextField::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        refreshCursor();
}

void KRAClickableTextField::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    // A label draws no focus of its own; a keyboard user must see where Space would go.
    if (hasFocus()) {
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}

void KRAClickableTextField::refreshCursor()
{
    if (isEnabled())
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}
