// Keeps the computer from idle sleep while a batch runs: a logind inhibitor lock ("idle",
// "block") held as an open file descriptor. Where there is no system bus or no logind, nothing
// is held and one line says so; the batch runs all the same.
#pragma once

#include <QDBusConnection>
#include <QString>

class KRAPreventSleep {
public:
    KRAPreventSleep() = default;
    ~KRAPreventSleep() { clear(); }
    KRAPreventSleep(const KRAPreventSleep&) = delete;
    KRAPreventSleep& operator=(const KRAPreventSleep&) = delete;

    // Takes the lock on the system bus (or the given bus); true when it is held. Waits at most
    // two seconds for logind.
    bool create();
    bool create(const QDBusConnection& bus);
    // Lets the lock go; once, however often it is called.
    void clear();
    bool held() const { return m_fd >= 0; }
    // Why the last create() holds nothing; empty when it holds the lock.
    const QString& failure() const { return m_failure; }

private:
    int m_fd = -1;
    QString m_failure;
};
