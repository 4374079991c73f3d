#pragma once

#include <QtQml/qqmlregistration.h>
#include <QDBusVariant>
#include <QObject>

namespace pelorin::studio {

// Whether the user asked the desktop to reduce motion. Qt has no such setting, so it is read from
// the desktop settings portal (GNOME's enable-animations) when a portal answers; the environment
// switch PELORIN_REDUCE_MOTION=1 overrides the portal, for tests and for desktops without one.
class MotionPreference : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Motion)
    QML_SINGLETON
    Q_PROPERTY(bool reduced READ reduced WRITE setReduced NOTIFY reducedChanged)

  public:
    explicit MotionPreference(QObject* parent = nullptr);

    bool reduced() const { return reduced_; }
    void setReduced(bool reduced);

  signals:
    void reducedChanged();

  private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

  private:
    void askPortal();

    bool reduced_ = false;
};

}  // namespace pelorin::studio
