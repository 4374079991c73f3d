#include "studio/app/startup_report.h"

#include <cstdio>

#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"

namespace pelorin::studio {

void printJob(const StudioJob& job) {
    std::printf("job %s  %-10s %3.0f%%  %d photo%s  %s", job.id.string().c_str(),
                std::string(link::title(job.phase)).c_str(), 100 * job.fraction, job.imageCount,
                job.imageCount == 1 ? "" : "s", job.name.c_str());
    if (job.stage) std::printf("  [%s]", job.stage->c_str());
    if (job.message) std::printf("  %s", job.message->c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void printStartup(const JobStore& store, const StudioLink& service) {
    std::printf("Pelorin Studio\n");
    std::printf("jobs folder: %s\n", store.jobsRoot().c_str());
    std::printf("reconstruction: %s\n",
                store.photogrammetrySupported() ? "available" : "not available on this computer");
    std::printf("studio name: %s\n", service.studioName().c_str());
    std::printf("pairing code: %s\n", service.pairingCode().c_str());
    if (auto fingerprint = service.fingerprint()) {
        std::printf("fingerprint: %s\n",
                    link::SecureLink::displayFingerprint(*fingerprint).c_str());
    }
    std::printf("%zu job%s loaded\n", store.jobs().size(), store.jobs().size() == 1 ? "" : "s");
    for (const auto& job : store.jobs()) printJob(job);
    std::fflush(stdout);
}

void reportListening(StudioLink& service) {
    auto print = [&service] {
        if (!service.port()) return;
        std::printf("listening on port %u\npairing link: %s\n", unsigned(*service.port()),
                    service.pairingLink().url().c_str());
        std::fflush(stdout);
    };
    QObject::connect(&service, &StudioLink::portChanged, &service, print);
    QObject::connect(&service, &StudioLink::pairingCodeChanged, &service, print);
    QObject::connect(&service, &StudioLink::serverStateChanged, &service, [&service] {
        const auto& state = service.serverState();
        if (state.kind == StudioLink::ServerState::Kind::failed) {
            std::printf("server: %s\n", state.text.c_str());
            std::fflush(stdout);
        }
    });
}

}  // namespace pelorin::studio
