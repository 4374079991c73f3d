#include <QCoreApplication>

#include <cstdio>

#include "engine/reconstruction/photogrammetry_service.h"
#include "studio/app/sample_folder.h"
#include "studio/core/job_store.h"
#include "studio/platform/sleep_inhibitor.h"

// Until the window exists, the studio starts its core services, loads the job store and reports
// what it found.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Pelorin");
    QCoreApplication::setApplicationName("Pelorin Studio");

    using namespace pelorin;
    const auto& root = studio::StudioJob::jobsRoot();
    studio::JobStore store(root, engine::defaultPhotogrammetryService(), studio::inhibitIdleSleep);
    store.setSampleFolder(studio::findSampleFolder());

    std::printf("Pelorin Studio\n");
    std::printf("jobs folder: %s\n", root.c_str());
    std::printf("reconstruction: %s\n",
                store.photogrammetrySupported() ? "available" : "not available on this computer");
    std::printf("%zu job%s loaded\n", store.jobs().size(), store.jobs().size() == 1 ? "" : "s");
    for (const auto& job : store.jobs()) {
        std::printf("  %s  %-10s  %d photo%s  %s\n", job.id.string().c_str(),
                    std::string(link::title(job.phase)).c_str(), job.imageCount,
                    job.imageCount == 1 ? "" : "s", job.name.c_str());
        if (job.message) std::printf("      %s\n", job.message->c_str());
    }
    return 0;
}
