// A text field that acts like a link: a click with the left button sends clicked(), and the
// pointer turns into a pointing hand over it, both only while it is enabled. It is also
// reached with Tab, and Space or Return then work like a click.
#pragma once

#include <QLabel>

class KRAClickableTextField : public QLabel {
    Q_OBJECT
public:
    explicit KRAClickableTextField(QWidget* parent = nullptr);
    explicit KRAClickableTextField(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Follows the enabled state, the parent's included, with the cursor.
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshCursor();
};
