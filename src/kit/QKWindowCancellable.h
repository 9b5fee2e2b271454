// Escape as a command: a window that turns the Escape key into cancelOperation() sent to its
// delegate, the way a panel or dialog learns that the user wants out.
#pragma once

#include <QPointer>
#include <QWidget>

// Implemented by whatever can be cancelled with Escape (a window host, a panel, a dialog).
class QKCancelOperation {
public:
    virtual ~QKCancelOperation();
    // Whether cancelOperation means anything now; false lets the window handle the key.
    virtual bool respondsToCancelOperation() { return true; }
    virtual void cancelOperation(QObject* sender) = 0;
};

class QKWindowCancellable : public QWidget {
    Q_OBJECT
public:
    explicit QKWindowCancellable(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Window);

    // The object that receives cancelOperation; it takes part when it implements
    // QKCancelOperation. Not owned.
    void setDelegate(QObject* delegate) { m_delegate = delegate; }
    QObject* delegate() const { return m_delegate; }

protected:
    // Escape (pressed here or in a child that does not use it) goes to the delegate when it
    // responds; otherwise the key takes its ordinary course.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QObject> m_delegate;
};

// True for the keys that mean "cancel" (Escape without modifiers).
bool QKIsCancelKey(const QKeyEvent* event);
