// A window controller that keeps itself alive while its window is open, so that a caller can
// make one, show it and forget it (the bug report window is one).
//
// Make it with std::make_shared (or a subclass's factory): once its window has loaded it
// holds itself through retainMe until the window closes, and lets go of itself on the next
// turn of the event loop after that, so it is never destroyed inside its own window's event.
// A window that is hidden for good counts as closed too (a dialog ended with done()).
#pragma once

#include "kit/QKWindowController.h"

#include <memory>
#include <mutex>

class KRARetainedWindowController : public QKWindowController,
                                    public std::enable_shared_from_this<KRARetainedWindowController> {
    Q_OBJECT
public:
    explicit KRARetainedWindowController(QObject* parent = nullptr);
    ~KRARetainedWindowController() override;

    std::shared_ptr<QObject> retainMe() const;
    void setRetainMe(std::shared_ptr<QObject> object);

protected:
    void windowDidLoad() override;
    // The window has closed: drops retainMe.
    virtual void onClosing();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void checkClosedLater();

    mutable std::mutex m_lock;
    std::shared_ptr<QObject> m_retainMe;
};
