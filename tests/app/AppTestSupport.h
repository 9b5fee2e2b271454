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

#include "common/QtWait.h"
