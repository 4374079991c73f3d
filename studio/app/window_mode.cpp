#include "studio/app/window_mode.h"

#include <QtQml/qqmlextensionplugin.h>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include "studio/app/studio_shell.h"
#include "studio/app/studio_startup.h"

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

namespace pelorin::studio {

namespace {

// For the start-up benchmark: PELORIN_FIRST_FRAME_EXIT=1 prints when the main window's first
// frame is on screen and quits.
void reportFirstFrame(QQuickWindow* window, const QElapsedTimer& clock) {
    const char* setting = std::getenv("PELORIN_FIRST_FRAME_EXIT");
    if (!window || !setting || std::string_view(setting) != "1") return;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&clock] {
            std::printf("first frame: %lld ms\n", static_cast<long long>(clock.elapsed()));
            std::fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}

}  // namespace

int runWindow(int argc, char* argv[]) {
    QElapsedTimer clock;
    clock.start();
    QGuiApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setApplicationDisplayName("Pelorin Studio");
    // Qt has taken its own options out of argv by now.
    if (hasUnknownArguments()) return 2;
    // Our design kit styles every control; the Basic style is the one that lets it.
    QQuickStyle::setStyle("Basic");

    // The services first; the window's content starts the link service once it is shown. A
    // second studio on the same folder brings the first one's window forward instead.
    auto started = StudioServices::start(true);
    if (auto* status = std::get_if<int>(&started)) return *status;
    auto& services = *std::get<std::unique_ptr<StudioServices>>(started);
    SingleInstance& instance = services.instance();
    StudioShell shell(services.store(), services.link(), &services.preferences());

    QQmlApplicationEngine engine;
    // Qt 6.4 has no loadFromModule and does not look under its own module prefix by itself.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Pelorin/Studio/qml/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    reportFirstFrame(window, clock);
    QObject::connect(&instance, &SingleInstance::raiseRequested, window, [window] {
        window->showNormal();
        window->raise();
        window->requestActivate();
        std::printf("raised by a second start\n");
        std::fflush(stdout);
    });

    quitOnSignals(app);
    return app.exec();
}

}  // namespace pelorin::studio
