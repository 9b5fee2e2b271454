#include "platform/XQtMainThreadPoster.h"

#include "xclass/XMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

int XInstallQtMainThreadPoster()
{
    return XSetMainThreadPoster([](std::function<void()> block) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || !block)
            return;
        // Queued events to one receiver are delivered in the order they were posted.
        QMetaObject::invokeMethod(
            app, [run = std::move(block)] { run(); }, Qt::QueuedConnection);
    });
}

XQtMainThreadPosterScope::XQtMainThreadPosterScope() : m_token(XInstallQtMainThreadPoster()) {}

XQtMainThreadPosterScope::~XQtMainThreadPosterScope()
{
    XResetMainThreadPoster(m_token);
}
