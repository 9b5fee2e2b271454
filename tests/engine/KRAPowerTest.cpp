// Sleep inhibition and the actions after a batch, against fake logind and session-manager
// services on a bus of the test's own.

#include <gtest/gtest.h>

#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "common/TestDBus.h"
#include "common/TestFiles.h"
#include "engine/KRAPowerAction.h"
#include "engine/KRAPreventSleep.h"

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

struct Bus {
    TestTempDir dir;
    PrivateBus bus{dir.path()};
    QDBusConnection connection{QDBusConnection::connectToBus(QString::fromStdString(bus.address), name())};

    static QString name()
    {
        static int counter = 0;
        return QStringLiteral("power-test-%1").arg(++counter);
    }
    ~Bus() { QDBusConnection::disconnectFromBus(connection.name()); }
};

// True when the other end of the pipe was closed by everyone who held it.
bool SeesEnd(int readEnd)
{
    pollfd p{readEnd, POLLIN, 0};
    if (poll(&p, 1, 300000) != 1) // a hang guard, not a timing
        return false;
    char byte;
    return read(readEnd, &byte, 1) == 0;
}

} // namespace

TEST(KRAPreventSleep, HoldsTheLogindLockUntilCleared)
{
    Bus bus;
    if (bus.bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not available";
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    FakeDBusService logind(bus.bus.address, kLogind, kLogindPath, kManager, [&](const QDBusMessage& call) {
        return call.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(pipeEnds[1])));
    });
    ASSERT_TRUE(logind.registered());

    KRAPreventSleep sleep;
    ASSERT_TRUE(sleep.create(bus.connection)) << sleep.failure().toStdString();
    ASSERT_EQ(logind.calls().size(), 1u);
    const FakeDBusCall call = logind.calls().front();
    EXPECT_EQ(call.member, "Inhibit");
    EXPECT_EQ(call.arguments, QList<QVariant>({"idle", "Marvoni Video Converter", "Converting videos", "block"}));
    close(pipeEnds[1]); // ours and the fake's copies are gone: only the lock's remains
    pollfd p{pipeEnds[0], POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 100), 0); // still held
    sleep.clear();
    sleep.clear();
    EXPECT_TRUE(SeesEnd(pipeEnds[0]));
    close(pipeEnds[0]);

    // No logind on the bus: nothing held, no crash, a reason.
    KRAPreventSleep none;
    Bus empty;
    EXPECT_FALSE(none.create(empty.connection));
    EXPECT_FALSE(none.failure().isEmpty());
}

TEST(KRAPowerAction, SessionManagerFirstThenLogindAndRefusalsAsText)
{
    Bus session;
    Bus system;
    if (session.bus.address.empty() || system.bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not available";
    FakeDBusService logind(system.bus.address, kLogind, kLogindPath, kManager);
    ASSERT_TRUE(logind.registered());
    ASSERT_TRUE(session.connection.isConnected() && system.connection.isConnected());

    // Without a session manager every action goes to logind, interactive.
    KRAPowerAction::Result r = KRAPowerAction::request(KRAPowerAction::ShutDown, session.connection, system.connection);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    r = KRAPowerAction::request(KRAPowerAction::Restart, session.connection, system.connection);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(logind.calls().size(), 2u);
    EXPECT_EQ(logind.calls()[0].member, "PowerOff");
    EXPECT_EQ(logind.calls()[0].arguments, QList<QVariant>({true}));
    EXPECT_EQ(logind.calls()[1].member, "Reboot");

    {
        FakeDBusService gnome(session.bus.address, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                              "org.gnome.SessionManager");
        ASSERT_TRUE(gnome.registered());
        logind.clearCalls();
        EXPECT_TRUE(KRAPowerAction::request(KRAPowerAction::LogOut, session.connection, system.connection).ok);
        ASSERT_EQ(gnome.calls().size(), 1u);
        EXPECT_EQ(gnome.calls()[0].member, "Logout");
        EXPECT_TRUE(KRAPowerAction::request(KRAPowerAction::Sleep, session.connection, system.connection).ok);
        ASSERT_EQ(logind.calls().size(), 1u); // the session manager has no sleep
        EXPECT_EQ(logind.calls()[0].member, "Suspend");
    }

    FakeDBusService refusing(session.bus.address, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                             "org.gnome.SessionManager", [](const QDBusMessage& call) {
                                 return call.createErrorReply("org.gnome.SessionManager.NotInInitialization",
                                                              "Shutdown is not allowed now");
                             });
    ASSERT_TRUE(refusing.registered());
    r = KRAPowerAction::request(KRAPowerAction::ShutDown, session.connection, system.connection);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Shutdown is not allowed now");
}
