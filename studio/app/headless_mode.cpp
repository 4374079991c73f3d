#include "studio/app/headless_mode.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/reconstruction/photogrammetry_service.h"
#include "link/transport/link_runtime.h"
#include "studio/app/sample_folder.h"
#include "studio/app/startup_report.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/single_instance.h"
#include "studio/platform/sleep_inhibitor.h"

namespace {

std::atomic<bool> interrupted = false;

}  // namespace

namespace pelorin::studio {

int runHeadless(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Pelorin");
    QCoreApplication::setApplicationName("Pelorin Studio");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-window") != 0) {
            std::fprintf(stderr, "usage: pelorin-studio [--no-window]\n");
            return 2;
        }
    }

    using namespace pelorin;
    const auto& root = studio::StudioJob::jobsRoot();
    studio::SingleInstance instance(root.parent_path(), false);
    if (instance.outcome() == studio::SingleInstance::Outcome::raisedOther) return 0;
    if (instance.outcome() != studio::SingleInstance::Outcome::first) {
        std::fprintf(stderr, "pelorin-studio: %s\n", instance.message().c_str());
        return 1;
    }
    studio::JobStore store(root, engine::defaultPhotogrammetryService(), studio::inhibitIdleSleep);
    store.setSampleFolder(studio::findSampleFolder());
    link::LinkRuntime runtime;
    QSettings preferences;
    studio::StudioLink service(store, runtime, preferences);

    studio::printStartup(store, service);
    std::map<Uuid, studio::StudioJob> shown;
    for (const auto& job : store.jobs()) shown[job.id] = job;
    studio::reportListening(service);
    QObject::connect(&service, &studio::StudioLink::devicesChanged, [&] {
        std::printf("paired phones:");
        for (const auto& device : service.devices())
            std::printf(" %s (%s)", device.name.c_str(), device.address.c_str());
        std::printf(service.devices().empty() ? " none\n" : "\n");
        std::fflush(stdout);
    });
    QObject::connect(&store, &studio::JobStore::jobsChanged, [&] {
        for (const auto& job : store.jobs()) {
            auto previous = shown.find(job.id);
            if (previous != shown.end() && previous->second.status() == job.status() &&
                previous->second.imageCount == job.imageCount) {
                continue;
            }
            studio::printJob(job);
            shown[job.id] = job;
        }
    });

    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted) app.quit();
    });
    watch.start(200);

    service.start();
    return app.exec();
}

}  // namespace pelorin::studio
