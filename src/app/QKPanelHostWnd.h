// The window of a window host. Key presses are offered to the host (and through it to the
// current panel) before the window or any of its widgets handles them; Escape goes to the
// host as cancelOperation; closing and losing the focus are reported to the host.
#pragma once

#include "kit/QKWindowCancellable.h"

class KRAPanelHostBase;

class QKPanelHostWnd : public QKWindowCancellable {
    Q_OBJECT
public:
    explicit QKPanelHostWnd(KRAPanelHostBase* controller);
    ~QKPanelHostWnd() override;

    KRAPanelHostBase* controller() const { return m_controller; }
    // The host is going: the window reports nothing more to it.
    void detachController();
    // Closes the window for the host: never turned into a way back as the user's close is.
    void closeByHost();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Return or Enter that no control used presses the panel's default button, as in a dialog.
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    KRAPanelHostBase* m_controller;
    // A key press that the host took as its own at the shortcut stage: its KeyPress, which Qt
    // still delivers, must not reach the focus widget.
    bool m_swallowNextPress = false;
    bool m_closingByHost = false;
    int m_swallowKey = 0;
    Qt::KeyboardModifiers m_swallowModifiers;
};
