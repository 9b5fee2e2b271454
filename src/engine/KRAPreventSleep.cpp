#include "engine/KRAPreventSleep.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

bool KRAPreventSleep::create()
{
    return create(QDBusConnection::systemBus());
}

bool KRAPreventSleep::create(const QDBusConnection& bus)
{
    clear();
    m_failure.clear();
    if (!bus.isConnected()) {
        m_failure = QStringLiteral("no system bus");
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("idle") << QStringLiteral("Marvoni Video Converter")
             << QStringLiteral("Converting videos") << QStringLiteral("block");
        const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            m_failure = reply.errorMessage().isEmpty() ? QStringLiteral("no answer from logind") : reply.errorMessage();
        } else {
            const auto lock = reply.arguments().first().value<QDBusUnixFileDescriptor>();
            // The lock lasts as long as a descriptor of it is open: keep our own copy.
            m_fd = lock.isValid() ? fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
            if (m_fd < 0)
                m_failure = QStringLiteral("logind gave no lock");
        }
    }
    if (!m_failure.isEmpty())
        qInfo("Marvoni Video Converter: the computer may sleep during the conversion (%s)", qPrintable(m_failure));
    return held();
}

void KRAPreventSleep::clear()
{
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}
