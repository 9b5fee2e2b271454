// D-Bus for tests: a message bus of the test's own, and fake services on it that answer
// method calls and remember them.
//
// A fake service answers on a thread of its own, so code under test may call it with a
// blocking call from the main thread. Qt keeps one session-bus connection per process, made
// on first use from DBUS_SESSION_BUS_ADDRESS: point that variable at the private bus before
// anything in the process asks for the session bus, and check with SessionBusIs().
#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/TestFiles.h"

// The first executable of that name on PATH; empty when there is none.
inline std::string FindTestProgram(const char* name)
{
    const char* path = getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

// A message bus of the test's own on a socket in the folder, running until the object goes
// (or the test process ends). address is empty when no bus could be started (no
// dbus-daemon): skip the test then. No service can be started on demand on it: a name that
// nobody has taken gets an error at once.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& folder)
    {
        const std::string socket = folder + "/bus";
        const std::string config = folder + "/bus.conf";
        WriteTestFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>unix:path=" +
                                  socket +
                                  "</listen>\n"
                                  "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/>"
                                  "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy>"
                                  "</busconfig>\n");
        const std::string program = FindTestProgram("dbus-daemon");
        if (program.empty())
            return;
        const std::string configArg = "--config-file=" + config;
        // The bus prints its address once it listens; its socket file appears a moment before
        // that, and a client that connects in between is refused.
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        const std::string printArg = "--print-address=" + std::to_string(ready[1]);
        const char* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile", printArg.c_str(), nullptr};
        m_pid = fork();
        if (m_pid == 0) {
            // The bus ends with the thread that started it, also when the test is killed:
            // make it on the main thread.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            fcntl(ready[1], F_SETFD, 0);
            execv(program.c_str(), const_cast<char**>(argv));
            _exit(127);
        }
        close(ready[1]);
        if (m_pid < 0) {
            close(ready[0]);
            return;
        }
        std::string printed;
        char buffer[256];
        for (;;) {
            pollfd p{ready[0], POLLIN, 0};
            if (poll(&p, 1, 300000) != 1) // a hang guard: minutes, whatever the load
                break;
            const ssize_t n = read(ready[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            printed.append(buffer, static_cast<size_t>(n));
            if (printed.find('\n') != std::string::npos)
                break;
        }
        close(ready[0]);
        if (printed.find('\n') != std::string::npos)
            address = "unix:path=" + socket;
    }
    ~PrivateBus()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    std::string address;

private:
    pid_t m_pid = -1;
};

// The bus's own id, asked over a connection; empty when it does not answer.
inline QString TestBusId(const QDBusConnection& connection)
{
    const QDBusMessage reply = connection.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
        QDBus::Block, 300000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().first().toString()
               : QString();
}

// Whether the process's session-bus connection is the bus at address (it is not when the
// session bus was first used before the test pointed DBUS_SESSION_BUS_ADDRESS at its own).
inline bool SessionBusIs(const std::string& address)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("test-bus-probe-%1").arg(++counter);
    QString own;
    {
        QDBusConnection probe = QDBusConnection::connectToBus(QString::fromStdString(address), name);
        own = TestBusId(probe);
    }
    QDBusConnection::disconnectFromBus(name);
    return !own.isEmpty() && TestBusId(QDBusConnection::sessionBus()) == own;
}

// One method call a fake service received.
struct FakeDBusCall {
    QString member;
    QList<QVariant> arguments;
};

// A service on a bus: owns a well-known name, and answers the method calls of one interface
// at one object path, on its own thread; calls to other interfaces get D-Bus's "unknown
// method" error. Every call of the interface is recorded, answered or not. The answer is an
// empty reply unless answer gives another (a reply with arguments, or an error made with
// call.createErrorReply()). Needs a QCoreApplication while it lives.
class FakeDBusService {
public:
    using Answer = std::function<QDBusMessage(const QDBusMessage& call)>;

    FakeDBusService(const std::string& busAddress, const QString& service, const QString& path,
                    const QString& interface, Answer answer = Answer())
        : m_service(service), m_path(path), m_connectionName(QStringLiteral("fake-dbus-service-%1").arg(nextId()))
    {
        m_object = new Object(this, interface, std::move(answer));
        m_thread.start();
        m_object->moveToThread(&m_thread);
        QDBusConnection connection =
            QDBusConnection::connectToBus(QString::fromStdString(busAddress), m_connectionName);
        m_registered = connection.isConnected() && connection.registerVirtualObject(path, m_object) &&
                       connection.registerService(service);
    }
    ~FakeDBusService()
    {
        {
            QDBusConnection connection(m_connectionName);
            connection.unregisterService(m_service);
            connection.unregisterObject(m_path);
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_thread.quit();
        m_thread.wait();
        delete m_object;
    }
    FakeDBusService(const FakeDBusService&) = delete;
    FakeDBusService& operator=(const FakeDBusService&) = delete;

    // Whether the service holds its name and object path on the bus.
    bool registered() const { return m_registered; }

    std::vector<FakeDBusCall> calls() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls;
    }
    void clearCalls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.clear();
    }
    // Waits until at least count calls were recorded; false when the time ran out first.
    bool waitForCalls(size_t count, int timeoutMs = 300000) const
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_calls.size() >= count; });
    }

private:
    class Object : public QDBusVirtualObject {
    public:
        Object(FakeDBusService* owner, QString interface, Answer answer)
            : m_owner(owner), m_interface(std::move(interface)), m_answer(std::move(answer))
        {
        }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            if (message.type() != QDBusMessage::MethodCallMessage || message.interface() != m_interface)
                return false;
            {
                std::lock_guard<std::mutex> lock(m_owner->m_lock);
                m_owner->m_calls.push_back({message.member(), message.arguments()});
            }
            m_owner->m_changed.notify_all();
            connection.send(m_answer ? m_answer(message) : message.createReply());
            return true;
        }
        QString introspect(const QString&) const override { return QString(); }

    private:
        FakeDBusService* m_owner;
        QString m_interface;
        Answer m_answer;
    };

    static int nextId()
    {
        static std::atomic<int> id{0};
        return ++id;
    }

    QString m_service;
    QString m_path;
    QString m_connectionName;
    QThread m_thread;
    Object* m_object = nullptr;
    bool m_registered = false;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<FakeDBusCall> m_calls;
};

// The desktop's file manager (org.freedesktop.FileManager1): remembers the items each
// ShowItems call asked it to show.
class FakeFileManager : public FakeDBusService {
public:
    explicit FakeFileManager(const std::string& busAddress)
        : FakeDBusService(busAddress, QStringLiteral("org.freedesktop.FileManager1"),
                          QStringLiteral("/org/freedesktop/FileManager1"),
                          QStringLiteral("org.freedesktop.FileManager1"))
    {
    }

    // The URIs of every ShowItems call, in order.
    std::vector<QStringList> shownItems() const
    {
        std::vector<QStringList> shown;
        for (const FakeDBusCall& call : calls()) {
            if (call.member == QLatin1String("ShowItems") && !call.arguments.isEmpty())
                shown.push_back(call.arguments.first().toStringList());
        }
        return shown;
    }
};
