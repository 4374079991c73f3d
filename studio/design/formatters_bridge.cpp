#include "studio/design/formatters_bridge.h"

#include "common/formatters.h"

namespace pelorin::studio {

namespace {

QVariant text(const std::optional<std::string>& value) {
    return value ? QVariant(QString::fromStdString(*value)) : QVariant();
}

}  // namespace

QVariant FormattersBridge::duration(const QVariant& seconds) const {
    bool ok = false;
    const double value = seconds.toDouble(&ok);
    return text(common::Formatters::duration(ok ? std::optional(value) : std::nullopt));
}

QVariant FormattersBridge::bytes(const QVariant& count) const {
    bool ok = false;
    const qlonglong value = count.toLongLong(&ok);
    return text(common::Formatters::bytes(ok ? std::optional<std::int64_t>(value) : std::nullopt));
}

QString FormattersBridge::percent(double fraction) const {
    return QString::fromStdString(common::Formatters::percent(fraction));
}

}  // namespace pelorin::studio
