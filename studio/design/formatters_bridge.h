#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QVariant>

namespace pelorin::studio {

// The shared formatters for QML: none comes back as undefined, so a binding can fall back with ??.
class FormattersBridge : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Formatters)
    QML_SINGLETON

  public:
    using QObject::QObject;

    Q_INVOKABLE QVariant duration(const QVariant& seconds) const;
    Q_INVOKABLE QVariant bytes(const QVariant& count) const;
    Q_INVOKABLE QString percent(double fraction) const;
};

}  // namespace pelorin::studio
