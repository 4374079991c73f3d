#include "studio/design/symbol_icon.h"

#include <QImageReader>
#include <QPainter>
#include <QQuickWindow>

#include "studio/design/symbols.h"

namespace pelorin::studio {

SymbolIcon::SymbolIcon(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setImplicitSize(16, 16);
    setAntialiasing(true);
}

void SymbolIcon::setSymbol(const QString& symbol) {
    if (symbol_ == symbol) return;
    symbol_ = symbol;
    emit symbolChanged();
    update();
}

void SymbolIcon::setColor(const QColor& color) {
    if (color_ == color) return;
    color_ = color;
    emit colorChanged();
    update();
}

bool SymbolIcon::valid() const {
    return !symbolFile(symbol_).isEmpty();
}

void SymbolIcon::paint(QPainter* painter) {
    const QString file = symbolFile(symbol_);
    if (file.isEmpty() || width() <= 0 || height() <= 0) return;
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QSize pixels = (size() * ratio).toSize();
    const QString key = file + QLatin1Char('|') + QString::number(pixels.width()) +
                        QLatin1Char('x') + QString::number(pixels.height()) + QLatin1Char('|') +
                        color_.name(QColor::HexArgb);
    if (key != cachedKey_) {
        // The drawings are small and compiled in: rasterising them here costs no disk access.
        QImageReader reader(file);
        reader.setScaledSize(pixels);
        const QImage drawing = reader.read().convertToFormat(QImage::Format_ARGB32);
        // Black is ink and white is a cut-out, so filled symbols keep their inner marks.
        QImage shape(drawing.size(), QImage::Format_ARGB32);
        for (int y = 0; y < drawing.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(drawing.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(shape.scanLine(y));
            for (int x = 0; x < drawing.width(); ++x) {
                const int ink = qAlpha(in[x]) * (255 - qGray(in[x])) / 255;
                out[x] =
                    qRgba(color_.red(), color_.green(), color_.blue(), ink * color_.alpha() / 255);
            }
        }
        cached_ = shape;
        cachedKey_ = key;
    }
    painter->drawImage(QRectF(QPointF(0, 0), size()), cached_);
}

}  // namespace pelorin::studio
