#include "studio/app/headless_mode.h"

#include <QCoreApplication>

#include <cstdio>
#include <map>

#include "studio/app/startup_report.h"
#include "studio/app/studio_startup.h"

namespace pelorin::studio {

int runHeadless(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    nameApplication();
    if (hasUnknownArguments()) return 2;
    auto started = StudioServices::start(false);
    if (auto* status = std::get_if<int>(&started)) return *status;
    auto& services = *std::get<std::unique_ptr<StudioServices>>(started);
    JobStore& store = services.store();
    StudioLink& service = services.link();

    std::map<Uuid, StudioJob> shown;
    for (const auto& job : store.jobs()) shown[job.id] = job;
    QObject::connect(&service, &StudioLink::devicesChanged, [&] {
        std::printf("paired phones:");
        for (const auto& device : service.devices())
            std::printf(" %s (%s)", device.name.c_str(), device.address.c_str());
        std::printf(service.devices().empty() ? " none\n" : "\n");
        std::fflush(stdout);
    });
    QObject::connect(&store, &JobStore::jobsChanged, [&] {
        for (const auto& job : store.jobs()) {
            auto previous = shown.find(job.id);
            if (previous != shown.end() && previous->second.status() == job.status() &&
                previous->second.imageCount == job.imageCount) {
                continue;
            }
            printJob(job);
            shown[job.id] = job;
        }
    });

    quitOnSignals(app);
    service.start();
    return app.exec();
}

}  // namespace pelorin::studio
