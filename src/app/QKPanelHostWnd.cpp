#include "app/QKPanelHostWnd.h"

#include "app/KRAPanelHostBase.h"
#include "kit/KitKeyEvents.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

QKPanelHostWnd::QKPanelHostWnd(KRAPanelHostBase* controller) : m_controller(controller)
{
    setDelegate(controller);
    // Key presses are delivered to the focus widget; the host must see them first, which
    // only an application-wide filter allows. It looks at this window's widgets only.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

QKPanelHostWnd::~QKPanelHostWnd() = default;

void QKPanelHostWnd::closeByHost()
{
    m_closingByHost = true;
    close();
    m_closingByHost = false;
}

void QKPanelHostWnd::detachController()
{
    m_controller = nullptr;
    setDelegate(nullptr);
}

bool QKPanelHostWnd::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::ShortcutOverride || type == QEvent::KeyPress) && m_controller) {
        auto* widget = qobject_cast<QWidget*>(watched);
        // Only the first receiver: Qt passes an unused key on to the parents, and each of
        // those deliveries comes through this filter again.
        if (widget && widget->window() == this && watched == QGuiApplication::focusObject()) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (type == QEvent::ShortcutOverride) {
                m_swallowNextPress = false;
                if (m_controller->panelHostPerformKeyEquivalent(key)) {
                    key->accept();
                    m_swallowNextPress = true;
                    m_swallowKey = key->key();
                    m_swallowModifiers = key->modifiers();
                    return true;
                }
            } else if (m_swallowNextPress) {
                m_swallowNextPress = false;
                if (key->key() == m_swallowKey && key->modifiers() == m_swallowModifiers)
                    return true;
            }
        }
    }
    return QKWindowCancellable::eventFilter(watched, event);
}

void QKPanelHostWnd::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // The focused button or tile first: Return on Back must never press Convert.
        if (KitPressFocusedButton(this)) {
            event->accept();
            return;
        }
        for (QPushButton* button : findChildren<QPushButton*>()) {
            if (button->isDefault() && button->isVisible() && button->isEnabled()) {
                button->animateClick();
                event->accept();
                return;
            }
        }
    }
    QKWindowCancellable::keyPressEvent(event);
}

void QKPanelHostWnd::closeEvent(QCloseEvent* event)
{
    // The user's close button over a panel opened from another one leads back to that one,
    // as its Cancel does; the host's own closing always closes.
    if (!m_closingByHost && m_controller && m_controller->closeGoesBack()) {
        event->ignore();
        return;
    }
    QKWindowCancellable::closeEvent(event);
    if (event->isAccepted() && m_controller)
        m_controller->windowWillClose();
}

void QKPanelHostWnd::changeEvent(QEvent* event)
{
    QKWindowCancellable::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && m_controller)
        m_controller->windowDidResignKey();
}
