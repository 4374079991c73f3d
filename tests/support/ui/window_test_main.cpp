// The window tests run on a real display server (Xvfb) with Mesa's software renderer, and with
// the accessibility bridge switched on, as a screen reader would have it: a private session bus
// carries the accessibility bus, so the desktop's own buses are never touched.
#include <QtQml/qqmlextensionplugin.h>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickStyle>

#include <gtest/gtest.h>

namespace {

// Folders and files the window shows or opens go nowhere: the tests never start the machine's
// file manager, browser or viewer.
class NoDesktop : public QObject {
    Q_OBJECT

  public slots:
    void open(const QUrl&) {}
};

}  // namespace

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

int main(int argc, char** argv) {
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (bus.waitForReadyRead(10000)) qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    QProcess accessibility;
    accessibility.start("/usr/libexec/at-spi-bus-launcher", {});
    accessibility.waitForStarted(5000);
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // No DNS-SD daemon, whatever the machine runs: the window is seen as on a desktop without
    // one. Set once, before anything connects, as the bus library reads it once a process.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pelorin-window-tests-bus");
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        QQuickStyle::setStyle("Basic");
        NoDesktop desktop;
        QDesktopServices::setUrlHandler("file", &desktop, "open");
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
        QDesktopServices::unsetUrlHandler("file");
    }
    accessibility.terminate();
    accessibility.waitForFinished(5000);
    bus.terminate();
    bus.waitForFinished(5000);
    return status;
}

#include "window_test_main.moc"
