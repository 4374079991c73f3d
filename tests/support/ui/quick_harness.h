#pragma once

#include <QByteArray>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <functional>
#include <memory>

class QQmlEngine;

namespace pelorin::studio::testing {

// One engine for every window test, with the application's QML modules importable.
QQmlEngine& qmlEngine();

// A window showing the QML `source` (a component whose root is an Item), exposed on the display.
struct ShownItem {
    std::unique_ptr<QQuickWindow> window;
    QQuickItem* root = nullptr;  // owned by the window's content item
};
ShownItem showQml(const QByteArray& source, QSize size);

// Spins the event loop until `done` or the timeout.
bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000);

// A freshly rendered picture of the window, in logical pixels.
QImage grab(QQuickWindow& window);

// Keeps a picture under the build folder's "screenshots" for a person to look at.
void saveScreenshot(const QImage& image, const QString& name);

// True when the colour is within `tolerance` of `expected` on each channel.
bool near(QRgb actual, const QColor& expected, int tolerance);

// The text of the QR code in the picture, read by an independent reader (zbarimg); empty when
// it finds none. The picture is put on a white margin first, as a printed code would have.
QString readQRCode(const QImage& image);

}  // namespace pelorin::studio::testing
