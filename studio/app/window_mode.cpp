#include "studio/app/window_mode.h"

#include <QtQml/qqmlextensionplugin.h>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QUrl>

#include <cstdio>

#include "engine/reconstruction/photogrammetry_service.h"
#include "link/transport/link_runtime.h"
#include "studio/app/sample_folder.h"
#include "studio/app/studio_shell.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/sleep_inhibitor.h"

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

namespace pelorin::studio {

int runWindow(int argc, char* argv[]) {
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

    const auto& root = StudioJob::jobsRoot();
    JobStore store(root, engine::defaultPhotogrammetryService(), inhibitIdleSleep);
    store.setSampleFolder(findSampleFolder());
    link::LinkRuntime runtime;
    QSettings preferences;
    StudioLink service(store, runtime, preferences);
    StudioShell shell(store, service);

    QQmlApplicationEngine engine;
    // Qt 6.4 has no loadFromModule and does not look under its own module prefix by itself.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Pelorin/Studio/qml/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;

    service.start();
    return app.exec();
}

}  // namespace pelorin::studio
