#include "studio/design/symbols.h"

#include <QHash>

namespace pelorin::studio {

namespace {

// Filled variants share a drawing where the outline reads the same at icon sizes.
const QHash<QString, QString>& files() {
    static const QHash<QString, QString> table = {
        {"arkit", "ar-cube"},
        {"arrow.down.circle", "arrow-down-circle"},
        {"arrow.down.circle.fill", "arrow-down-circle-fill"},
        {"camera.aperture", "camera-aperture"},
        {"checkmark.seal.fill", "checkmark-seal-fill"},
        {"checkmark", "checkmark"},
        {"chevron.right", "chevron-right"},
        {"circle.dashed", "circle-dashed"},
        {"circle.grid.3x3.fill", "circle-grid"},
        {"cube.fill", "cube-fill"},
        {"cube.transparent", "cube-transparent"},
        {"envelope", "envelope"},
        {"exclamationmark.triangle", "exclamation-triangle"},
        {"exclamationmark.triangle.fill", "exclamation-triangle-fill"},
        {"folder", "folder"},
        {"folder.badge.plus", "folder-plus"},
        {"gearshape.2.fill", "gears"},
        {"globe", "globe"},
        {"hand.raised", "hand-raised"},
        {"info.circle", "info-circle"},
        {"info.circle.fill", "info-circle-fill"},
        {"iphone", "phone"},
        {"iphone.radiowaves.left.and.right", "phone-waves"},
        {"iphone.slash", "phone-slash"},
        {"photo.on.rectangle", "photo-on-rectangle"},
        {"photo.stack", "photo-stack"},
        {"photo.stack.fill", "photo-stack"},
        {"play.fill", "play-fill"},
        {"qrcode", "qrcode"},
        {"questionmark.circle", "question-circle"},
        {"stop.circle", "stop-circle"},
        {"stop.circle.fill", "stop-circle-fill"},
        {"stop.fill", "stop-fill"},
        {"wifi", "wifi"},
        {"xmark", "xmark"},
    };
    return table;
}

}  // namespace

QStringList symbolNames() {
    return files().keys();
}

QString symbolFile(const QString& name) {
    const auto found = files().constFind(name);
    if (found == files().constEnd()) return {};
    return QStringLiteral(":/qt/qml/Pelorin/Design/icons/") + *found + QStringLiteral(".svg");
}

}  // namespace pelorin::studio
