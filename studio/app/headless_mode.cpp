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
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/single_instance.h"
#include "studio/platform/sleep_inhibitor.h"

namespace {

std::atomic<bool> interrupted = false;

void printJob(const pelorin::studio::StudioJob& job) {
    std::printf("job %s  %-10s %3.0f%%  %d photo%s  %s", job.id.string().c_str(),
                std::string(pelorin::link::title(job.phase)).c_str(), 100 * job.fraction,
                job.imageCount, job.imageCount == 1 ? "" : "s", job.name.c_str());
    if (job.stage) std::printf("  [%s]", job.stage->c_str());
    if (job.message) std::printf("  %s", job.message->c_str());
    std::printf("\n");
    std::fflush(stdout);
}

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

    std::printf("Pelorin Studio\n");
    std::printf("jobs folder: %s\n", root.c_str());
    std::printf("reconstruction: %s\n",
                store.photogrammetrySupported() ? "available" : "not available on this computer");
    std::printf("studio name: %s\n", service.studioName().c_str());
    std::printf("pairing code: %s\n", service.pairingCode().c_str());
    if (auto fingerprint = service.fingerprint()) {
        std::printf("fingerprint: %s\n",
                    link::SecureLink::displayFingerprint(*fingerprint).c_str());
    }
    std::printf("%zu job%s loaded\n", store.jobs().size(), store.jobs().size() == 1 ? "" : "s");
    std::map<Uuid, studio::StudioJob> shown;
    for (const auto& job : store.jobs()) {
        printJob(job);
        shown[job.id] = job;
    }
    std::fflush(stdout);

    QObject::connect(&service, &studio::StudioLink::portChanged, [&] {
        std::printf("listening on port %u\npairing link: %s\n",
                    unsigned(service.port().value_or(0)), service.pairingLink().url().c_str());
        std::fflush(stdout);
    });
    QObject::connect(&service, &studio::StudioLink::serverStateChanged, [&] {
        const auto& state = service.serverState();
        if (state.kind == studio::StudioLink::ServerState::Kind::failed) {
            std::printf("server: %s\n", state.text.c_str());
            std::fflush(stdout);
        }
    });
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
            printJob(job);
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
