// A view that fills itself with a colour over what QWidget draws (its background, when it
// fills one). Without a tint it draws only that.
#pragma once

#include <QColor>
#include <QWidget>

class JQTintView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // An invalid colour: no tint.
    QColor tint() const { return m_tint; }
    void setTint(const QColor& tint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_tint;
};
