#include "tests/support/ui/quick_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <stdexcept>

namespace pelorin::studio::testing {

QQmlEngine& qmlEngine() {
    static QQmlEngine* engine = [] {
        auto* made = new QQmlEngine;
        made->addImportPath(QStringLiteral("qrc:/qt/qml"));
        return made;
    }();
    return *engine;
}

ShownItem showQml(const QByteArray& source, QSize size) {
    QQmlComponent component(&qmlEngine());
    component.setData(source, QUrl(QStringLiteral("qrc:/window-test/Shown.qml")));
    std::unique_ptr<QObject> object(component.create());
    auto* item = qobject_cast<QQuickItem*>(object.get());
    if (!item) throw std::runtime_error(component.errorString().toStdString());
    ShownItem shown;
    shown.window = std::make_unique<QQuickWindow>();
    shown.window->resize(size);
    shown.window->setColor(Qt::black);
    item->setParentItem(shown.window->contentItem());
    item->setParent(shown.window->contentItem());
    object.release();
    item->setSize(size);
    shown.root = item;
    shown.window->show();
    if (!QTest::qWaitForWindowExposed(shown.window.get()))
        throw std::runtime_error("the test window was never exposed");
    return shown;
}

bool waitUntil(const std::function<bool()>& done, int milliseconds) {
    return QTest::qWaitFor(done, milliseconds);
}

QImage grab(QQuickWindow& window) {
    QImage image = window.grabWindow();
    image.setDevicePixelRatio(1);
    if (image.width() != window.width())
        image = image.scaled(window.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_RGB32);
}

void saveScreenshot(const QImage& image, const QString& name) {
    const QString folder = QStringLiteral(PELORIN_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

bool near(QRgb actual, const QColor& expected, int tolerance) {
    return std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

QString readQRCode(const QImage& image) {
    QTemporaryDir folder;
    QImage framed(image.width() + 80, image.height() + 80, QImage::Format_RGB32);
    framed.fill(Qt::white);
    QPainter(&framed).drawImage(40, 40, image);
    const QString file = folder.filePath("code.png");
    framed.save(file);
    QProcess reader;
    reader.start("zbarimg", {"--raw", "-q", file});
    if (!reader.waitForFinished(20000)) return {};
    return QString::fromUtf8(reader.readAllStandardOutput()).trimmed();
}

}  // namespace pelorin::studio::testing
