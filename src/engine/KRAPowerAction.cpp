#include "engine/KRAPowerAction.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <unistd.h>

namespace {

constexpr int kTimeoutMs = 5000;

QDBusMessage Call(const QDBusConnection& bus, const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QList<QVariant>& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    if (!bus.isConnected())
        return QDBusMessage::createError(QDBusError::Disconnected, QStringLiteral("no bus"));
    return bus.call(call, QDBus::Block, kTimeoutMs);
}

bool NobodyAnswers(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") || name.isEmpty();
}

KRAPowerAction::Result ResultOf(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {true, QString()};
    return {false, reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage()};
}

QDBusMessage Logind(const QDBusConnection& system, const QString& method, const QList<QVariant>& arguments)
{
    return Call(system, QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), method, arguments);
}

} // namespace

KRAPowerAction::Result KRAPowerAction::request(int action)
{
    return request(action, QDBusConnection::sessionBus(), QDBusConnection::systemBus());
}

KRAPowerAction::Result KRAPowerAction::request(int action, const QDBusConnection& session,
                                               const QDBusConnection& system)
{
    if (action < ShutDown || action > Restart)
        return {true, QString()};

    // GNOME's session manager lets other programs save first; it has no sleep.
    if (action != Sleep) {
        QString method;
        QList<QVariant> arguments;
        if (action == ShutDown)
            method = QStringLiteral("Shutdown");
        else if (action == Restart)
            method = QStringLiteral("Reboot");
        else {
            method = QStringLiteral("Logout");
            arguments = {QVariant::fromValue(uint(0))};
        }
        const QDBusMessage reply =
            Call(session, QStringLiteral("org.gnome.SessionManager"), QStringLiteral("/org/gnome/SessionManager"),
                 QStringLiteral("org.gnome.SessionManager"), method, arguments);
        if (!NobodyAnswers(reply) || reply.type() == QDBusMessage::ReplyMessage)
            return ResultOf(reply);
    }

    QDBusMessage reply;
    switch (action) {
    case ShutDown:
        reply = Logind(system, QStringLiteral("PowerOff"), {true});
        break;
    case Sleep:
        reply = Logind(system, QStringLiteral("Suspend"), {true});
        break;
    case Restart:
        reply = Logind(system, QStringLiteral("Reboot"), {true});
        break;
    case LogOut: {
        const QByteArray id = qgetenv("XDG_SESSION_ID");
        if (!id.isEmpty()) {
            reply = Logind(system, QStringLiteral("TerminateSession"), {QString::fromLocal8Bit(id)});
        } else {
            const QDBusMessage session =
                Logind(system, QStringLiteral("GetSessionByPID"), {QVariant::fromValue(uint(getpid()))});
            if (session.type() != QDBusMessage::ReplyMessage || session.arguments().isEmpty())
                return ResultOf(session);
            const QString path = session.arguments().first().value<QDBusObjectPath>().path();
            reply = Call(system, QStringLiteral("org.freedesktop.login1"), path,
                         QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Terminate"));
        }
        break;
    }
    default:
        break;
    }
    return ResultOf(reply);
}
