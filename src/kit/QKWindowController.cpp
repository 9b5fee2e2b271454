#include "kit/QKWindowController.h"

#include <QApplication>
#include <QDialog>
#include <QFocusEvent>

QKWindowController::QKWindowController(QObject* parent) : QObject(parent) {}

QKWindowController::~QKWindowController()
{
    delete m_window.data();
}

QWidget* QKWindowController::window()
{
    if (!m_window && !m_loading) {
        m_loading = true;
        QWidget* made = loadWindow();
        m_window = made ? made : new QWidget(nullptr, Qt::Window);
        m_loading = false;
        windowDidLoad();
    }
    return m_window;
}

QWidget* QKWindowController::loadWindow()
{
    return new QWidget(nullptr, Qt::Window);
}

QWidget* QKWindowController::takeWindow()
{
    QWidget* window = m_window;
    m_window = nullptr;
    return window;
}

void QKWindowController::showWindow()
{
    QWidget* w = window();
    if (!w)
        return;
    if (!w->isVisible()) {
        w->show(); // a window that appears comes up in front
        return;
    }
    w->raise();
    w->activateWindow();
}

void QKWindowController::close()
{
    if (m_window)
        m_window->close();
}

bool QKWindowController::beginDialogIn(QWidget* parent, SheetFallback::CompletionHandler handler)
{
    return SheetFallback::beginSheet(qobject_cast<QDialog*>(window()), parent, std::move(handler));
}

void QKWindowController::endDialog(int64_t code)
{
    auto* dialog = qobject_cast<QDialog*>(m_window.data());
    if (!dialog || !dialog->isVisible())
        return;
    if (code == QDialog::Accepted)
        flushEdits();
    dialog->done(static_cast<int>(code));
}

void QKWindowController::flushEdits()
{
    QKFlushEdits(m_window);
}

void QKFlushEdits(QWidget* window)
{
    if (!window)
        return;
    QWidget* editor = window->focusWidget();
    if (!editor)
        return;
    if (editor->hasFocus()) {
        // Taking the focus away is what ends an edit: the widget hears FocusOut.
        editor->clearFocus();
        return;
    }
    // The window is not active, so its focus child holds no real focus; it still ends its
    // edit on FocusOut. Item delegates commit only when the application's focus widget is
    // not the editor, which holds here.
    QFocusEvent focusOut(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(editor, &focusOut);
}
