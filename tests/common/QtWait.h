// Waiting in widget tests: runs Qt's events until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

// Runs events until done() holds or ms have passed (a hang guard, not a timing).
inline bool WaitFor(const std::function<bool()>& done, int ms = 300000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}
