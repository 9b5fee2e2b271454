#include "kit/QKWindowCancellable.h"

#include <QKeyEvent>

QKCancelOperation::~QKCancelOperation() = default;

bool QKIsCancelKey(const QKeyEvent* event)
{
    if (!event || event->key() != Qt::Key_Escape)
        return false;
    // The keypad flag comes with some keyboards; any real modifier makes it another command.
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    return mods == Qt::NoModifier;
}

QKWindowCancellable::QKWindowCancellable(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {}

void QKWindowCancellable::keyPressEvent(QKeyEvent* event)
{
    if (QKIsCancelKey(event)) {
        auto* target = dynamic_cast<QKCancelOperation*>(m_delegate.data());
        if (target && target->respondsToCancelOperation()) {
            event->accept();
            target->cancelOperation(this);
            return;
        }
    }
    QWidget::keyPressEvent(event);
}
