// The window tests run on a real display server (Xvfb) with Mesa's software renderer.
#include <QtQml/qqmlextensionplugin.h>
#include <QGuiApplication>
#include <QQuickStyle>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

int main(int argc, char** argv) {
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    QGuiApplication application(argc, argv);
    QQuickStyle::setStyle("Basic");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
