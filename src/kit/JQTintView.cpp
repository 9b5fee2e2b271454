#include "kit/JQTintView.h"

#include <QPaintEvent>
#include <QPainter>

void JQTintView::setTint(const QColor& tint)
{
    m_tint = tint;
    update();
}

void JQTintView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!m_tint.isValid())
        return;
    QPainter painter(this);
    painter.fillRect(event->rect(), m_tint);
}
