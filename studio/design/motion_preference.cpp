#include "studio/design/motion_preference.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pelorin::studio {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString interfaceGroup = QStringLiteral("org.gnome.desktop.interface");
const QString animationsKey = QStringLiteral("enable-animations");

// The portal wraps the value in one or two variants depending on its version.
QVariant unwrap(QVariant value) {
    for (int depth = 0; depth < 3; ++depth) {
        if (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
            value = value.value<QDBusVariant>().variant();
        } else if (value.userType() == qMetaTypeId<QDBusArgument>()) {
            QDBusVariant inner;
            value.value<QDBusArgument>() >> inner;
            value = inner.variant();
        } else {
            break;
        }
    }
    return value;
}

}  // namespace

MotionPreference::MotionPreference(QObject* parent) : QObject(parent) {
    if (qEnvironmentVariableIsSet("PELORIN_REDUCE_MOTION")) {
        reduced_ = qEnvironmentVariable("PELORIN_REDUCE_MOTION") == QLatin1String("1");
        return;
    }
    askPortal();
}

void MotionPreference::setReduced(bool reduced) {
    if (reduced_ == reduced) return;
    reduced_ = reduced;
    emit reducedChanged();
}

void MotionPreference::askPortal() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    auto call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                               QStringLiteral("Read"));
    call << interfaceGroup << animationsKey;
    // Asked without waiting: the window must not stall on a bus that answers slowly or never.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QDBusVariant> reply = *w;
        w->deleteLater();
        if (reply.isError()) return;
        const QVariant value = unwrap(QVariant::fromValue(reply.value()));
        if (value.typeId() == QMetaType::Bool) setReduced(!value.toBool());
    });
}

void MotionPreference::settingChanged(const QString& group, const QString& key,
                                      const QDBusVariant& value) {
    if (group != interfaceGroup || key != animationsKey) return;
    const QVariant inner = unwrap(QVariant::fromValue(value));
    if (inner.typeId() == QMetaType::Bool) setReduced(!inner.toBool());
}

}  // namespace pelorin::studio
