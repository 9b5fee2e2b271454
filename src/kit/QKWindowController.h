// A window controller: an object that owns one window, made when it is first asked for,
// plus the dialog helpers every dialog controller uses (begin its window as a sheet, end it,
// commit the edit in progress).
//
// The window has no Qt parent; the controller deletes it when the controller goes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>

#include "kit/SheetFallback.h"

class QKWindowController : public QObject {
    Q_OBJECT
public:
    explicit QKWindowController(QObject* parent = nullptr);
    ~QKWindowController() override;

    // The window, built on first use.
    QWidget* window();
    bool isWindowLoaded() const { return !m_window.isNull(); }

    // Shows the window, brings it to the front and activates it.
    void showWindow();
    // Closes the window (as its close button would).
    void close();

    // Begins the window, which must be a QDialog, as a sheet on parent's window.
    bool beginDialogIn(QWidget* parent, SheetFallback::CompletionHandler handler);
    // Ends the sheet with the code; for 1 (OK) it first commits the edit in progress. The
    // dialog leaves the screen but is not closed.
    void endDialog(int64_t code);
    // Ends any edit in progress in the window so that its text reaches its control (a line
    // edit reports editingFinished, a spin box takes its typed value, a table cell editor
    // commits to its model).
    void flushEdits();

protected:
    // Builds the window; the default makes an empty one.
    virtual QWidget* loadWindow();
    virtual void windowDidLoad() {}
    // Lets a subclass take the window out before the base deletes it.
    QWidget* takeWindow();

private:
    QPointer<QWidget> m_window;
    bool m_loading = false;
};

// The edit-committing part of QKWindowController, for any window.
void QKFlushEdits(QWidget* window);
