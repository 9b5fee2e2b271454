// Shared pieces of the application-shell tests.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"

// Runs the blocks and events queued so far (those they queue in turn included).
inline void ProcessPendingEvents()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

#include <QElapsedTimer>
#include <QThread>

#include <functional>

// Runs events until done() holds or ms have passed (a hang guard, not a timing).
inline bool WaitFor(const std::function<bool()>& done, int ms = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}
