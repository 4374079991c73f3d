#include "studio/platform/sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace pelorin::studio {

std::shared_ptr<void> inhibitIdleSleep(const std::string& reason) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return nullptr;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("idle:sleep") << QString("Pelorin Studio") << QString::fromStdString(reason)
         << QString("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return nullptr;
    const auto descriptor = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) return nullptr;
    // The lock lasts while our duplicate of the descriptor is open.
    const int fd = ::dup(descriptor.fileDescriptor());
    if (fd < 0) return nullptr;
    return std::shared_ptr<void>(new int(fd), [](void* held) {
        auto* fd = static_cast<int*>(held);
        ::close(*fd);
        delete fd;
    });
}

}  // namespace pelorin::studio
