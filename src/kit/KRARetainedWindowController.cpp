#include "kit/KRARetainedWindowController.h"

#include <QCoreApplication>
#include <QEvent>

KRARetainedWindowController::KRARetainedWindowController(QObject* parent) : QKWindowController(parent) {}

KRARetainedWindowController::~KRARetainedWindowController() = default;

std::shared_ptr<QObject> KRARetainedWindowController::retainMe() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_retainMe;
}

void KRARetainedWindowController::setRetainMe(std::shared_ptr<QObject> object)
{
    std::shared_ptr<QObject> old;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        old = std::move(m_retainMe);
        m_retainMe = std::move(object);
    }
    // old goes here, outside the lock: it may be this very object.
}

void KRARetainedWindowController::windowDidLoad()
{
    QKWindowController::windowDidLoad();
    if (auto self = weak_from_this().lock())
        setRetainMe(std::static_pointer_cast<QObject>(self));
    if (QWidget* w = window())
        w->installEventFilter(this);
}

bool KRARetainedWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window()) {
        // A refused close leaves the window up; only a window that is really gone counts, so
        // look once the event has been handled.
        if (event->type() == QEvent::Close || (event->type() == QEvent::Hide && !event->spontaneous()))
            checkClosedLater();
    }
    return QKWindowController::eventFilter(watched, event);
}

void KRARetainedWindowController::checkClosedLater()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    std::weak_ptr<KRARetainedWindowController> weak = weak_from_this();
    QPointer<KRARetainedWindowController> guard(this);
    QMetaObject::invokeMethod(
        app,
        [weak, guard] {
            if (!guard)
                return;
            // Held for the length of the check, so the controller goes when this returns.
            std::shared_ptr<KRARetainedWindowController> keep = weak.lock();
            KRARetainedWindowController* self = guard.data();
            QWidget* w = self->isWindowLoaded() ? self->window() : nullptr;
            if (!w || !w->isVisible())
                self->onClosing();
        },
        Qt::QueuedConnection);
}

void KRARetainedWindowController::onClosing()
{
    setRetainMe(nullptr);
}
