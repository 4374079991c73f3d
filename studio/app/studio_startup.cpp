#include "studio/app/studio_startup.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "engine/reconstruction/service_factory.h"
#include "studio/app/sample_folder.h"
#include "studio/app/startup_report.h"
#include "studio/platform/sleep_inhibitor.h"

namespace pelorin::studio {

namespace {

std::atomic<bool> interrupted = false;

}  // namespace

StudioServices::StudioServices(std::unique_ptr<SingleInstance> instance)
    : instance_(std::move(instance)),
      store_(StudioJob::jobsRoot(), engine::defaultPhotogrammetryService(), inhibitIdleSleep),
      link_(store_, runtime_, preferences_) {
    store_.setSampleFolder(findSampleFolder());
}

std::variant<std::unique_ptr<StudioServices>, int> StudioServices::start(bool hasWindow) {
    auto instance =
        std::make_unique<SingleInstance>(StudioJob::jobsRoot().parent_path(), hasWindow);
    if (instance->outcome() == SingleInstance::Outcome::raisedOther) return 0;
    if (instance->outcome() != SingleInstance::Outcome::first) {
        std::fprintf(stderr, "pelorin-studio: %s\n", instance->message().c_str());
        return 1;
    }
    std::unique_ptr<StudioServices> services(new StudioServices(std::move(instance)));
    printStartup(services->store(), services->link());
    reportListening(services->link());
    return services;
}

void nameApplication() {
    QCoreApplication::setOrganizationName("Pelorin");
    QCoreApplication::setApplicationName("Pelorin Studio");
    QCoreApplication::setApplicationVersion(PELORIN_VERSION);
}

void quitOnSignals(QCoreApplication& app) {
    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    // Only an atomic store is safe inside a handler; the event loop looks at it.
    auto* watch = new QTimer(&app);
    QObject::connect(watch, &QTimer::timeout, &app, [] {
        if (interrupted) QCoreApplication::quit();
    });
    watch->start(200);
}

bool hasUnknownArguments() {
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("--no-window")) {
            std::fprintf(stderr, "usage: pelorin-studio [--no-window]\n");
            return true;
        }
    }
    return false;
}

}  // namespace pelorin::studio
