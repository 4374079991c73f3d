#include "studio/platform/sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace pelorin::studio {

namespace {

// logind's lock lasts while a descriptor of it is open; the handle keeps our duplicate.
struct InhibitorLock {
    int fd = -1;
    ~InhibitorLock() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::shared_ptr<void> inhibitIdleSleep(const std::string& reason) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return nullptr;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("idle:sleep") << QString("Pelorin Studio") << QString::fromStdString(reason)
         << QString("block");
    // Asked without waiting: a run starts on the main thread, which must not wait on the bus.
    // The lock arrives with the reply; a handle released before then lets the reply's own
    // descriptor close, which ends the lock at once.
    auto lock = std::make_shared<InhibitorLock>();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [weak = std::weak_ptr<InhibitorLock>(lock)](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *done;
                         auto held = weak.lock();
                         if (!held || reply.isError() || !reply.value().isValid()) return;
                         held->fd = ::dup(reply.value().fileDescriptor());
                     });
    return lock;
}

}  // namespace pelorin::studio
