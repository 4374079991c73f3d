#include "studio/app/window_mode.h"

#include <QtQml/qqmlextensionplugin.h>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "engine/reconstruction/photogrammetry_service.h"
#include "link/transport/link_runtime.h"
#include "studio/app/sample_folder.h"
#include "studio/app/startup_report.h"
#include "studio/app/studio_shell.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/single_instance.h"
#include "studio/platform/sleep_inhibitor.h"

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

namespace pelorin::studio {

namespace {

std::atomic<bool> interrupted = false;

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
    QCoreApplication::setOrganizationName("Pelorin");
    QCoreApplication::setApplicationName("Pelorin Studio");
    QGuiApplication::setApplicationDisplayName("Pelorin Studio");
    QCoreApplication::setApplicationVersion(PELORIN_VERSION);
    // Qt has taken its own options out of argv by now; anything left is not ours either.
    if (QCoreApplication::arguments().size() > 1) {
        std::fprintf(stderr, "usage: pelorin-studio [--no-window]\n");
        return 2;
    }
    // Our design kit styles every control; the Basic style is the one that lets it.
    QQuickStyle::setStyle("Basic");

    // The store first (it loads and repairs every job), then the link service over it, then the
    // window; the window's content starts the service once it is shown.
    const auto& root = StudioJob::jobsRoot();
    // A second studio on the same folder brings the first one's window forward instead.
    SingleInstance instance(root.parent_path(), true);
    if (instance.outcome() == SingleInstance::Outcome::raisedOther) return 0;
    if (instance.outcome() != SingleInstance::Outcome::first) {
        std::fprintf(stderr, "pelorin-studio: %s\n", instance.message().c_str());
        return 1;
    }
    JobStore store(root, engine::defaultPhotogrammetryService(), inhibitIdleSleep);
    store.setSampleFolder(findSampleFolder());
    link::LinkRuntime runtime;
    QSettings preferences;
    StudioLink service(store, runtime, preferences);
    printStartup(store, service);
    reportListening(service);
    StudioShell shell(store, service, &preferences);

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

    // Ctrl-C or a polite kill ends the studio as Quit does: a running job is stopped and
    // waited for, and every object goes in order.
    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (interrupted) QCoreApplication::quit();
    });
    watch.start(200);
    return app.exec();
}

}  // namespace pelorin::studio
