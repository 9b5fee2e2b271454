// What the computer does after a batch when the user asked for it: shut down, sleep, log out
// or restart. The desktop's session manager is asked first where one answers (so other
// programs can save their work), else logind. Nothing here waits forever; a refusal comes back
// as a text for the log.
#pragma once

#include <QDBusConnection>
#include <QString>

class KRAPowerAction {
public:
    enum Action { None = 0, ShutDown = 1, Sleep = 2, LogOut = 3, Restart = 4 };

    struct Result {
        bool ok = false;
        QString error; // why it did not happen; empty when it did
    };

    static Result request(int action);
    static Result request(int action, const QDBusConnection& session, const QDBusConnection& system);
};
