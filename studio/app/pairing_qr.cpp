#include "studio/app/pairing_qr.h"

#include <QPainter>

#include <qrencode.h>

#include <memory>
#include <string>

namespace pelorin::studio {

QImage qrModules(std::string_view text) {
    if (text.empty()) return {};
    const std::string bytes(text);
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || code->width <= 0) return {};
    const int width = code->width;
    QImage image(width, width, QImage::Format_Grayscale8);
    for (int y = 0; y < width; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) line[x] = (code->data[y * width + x] & 1) ? 0 : 255;
    }
    return image;
}

PairingQRCode::PairingQRCode(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(false);
}

void PairingQRCode::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    modules_ = qrModules(text.toStdString());
    emit textChanged();
    update();
}

void PairingQRCode::paint(QPainter* painter) {
    if (modules_.isNull()) return;
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawImage(boundingRect(), modules_);
}

}  // namespace pelorin::studio
