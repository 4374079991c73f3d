#pragma once

#include <QtQml/qqmlregistration.h>
#include <QImage>
#include <QQuickPaintedItem>

#include <string_view>

namespace pelorin::studio {

// The QR symbol of `text` (its UTF-8 bytes, 8-bit mode, error correction level M) as one pixel
// per module, black on white, without a quiet zone. Null when no symbol can be made.
QImage qrModules(std::string_view text);

// The pairing link's QR symbol, scaled to the item's size with nearest-neighbour sampling so that
// the modules stay sharp. Draws nothing when the text gives no symbol (`valid` false).
class PairingQRCode : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(bool valid READ valid NOTIFY textChanged)

  public:
    explicit PairingQRCode(QQuickItem* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    bool valid() const { return !modules_.isNull(); }

    void paint(QPainter* painter) override;

  signals:
    void textChanged();

  private:
    QString text_;
    QImage modules_;
};

}  // namespace pelorin::studio
