#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/date.h"
#include "common/uuid.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::engine {
class PhotogrammetryService;
struct EngineProgress;
struct EngineOutput;
}  // namespace pelorin::engine

namespace pelorin::studio {

class JobStore;

// Builds the store's queued jobs one at a time, oldest first, with the photogrammetry engine on a
// worker thread of its own, and brings every report back to the main thread. An attempt is named
// by a token, so that what a stopped or replaced run still reports is recognised and ignored.
class JobRunner {
  public:
    // Keeps the computer from idle sleep while a job runs: called with the reason when a run
    // starts; the run holds what it returns until it ends.
    using ActivityStarter = std::function<std::shared_ptr<void>(const std::string& reason)>;

    JobRunner(JobStore& store, std::shared_ptr<engine::PhotogrammetryService> service,
              ActivityStarter beginActivity);
    // Stops and waits for a run still going, so that it never reports to a store that is gone.
    ~JobRunner();

    std::optional<Uuid> runningJobID() const;
    // Starts the oldest queued job when nothing runs.
    void startNextIfIdle();
    // Asks the run of `id` to wind down; its job is marked cancelled once it has. False when
    // `id` is not the running job.
    bool cancel(const Uuid& id);
    // From now on nothing an earlier attempt of `id` reports changes the job.
    void forget(const Uuid& id);
    // The running job's folder, moved out of sight as `aside`, goes once its run has wound down.
    void removeWhenStopped(const Uuid& id, std::filesystem::path aside);

  private:
    struct Run {
        Uuid id;
        // The engine's worker; joined when its run has been wound up on the main thread.
        std::unique_ptr<std::jthread> thread;
        std::shared_ptr<void> activity;
    };

    void start(const StudioJob& queued);
    void applyProgress(const Uuid& id, const Uuid& token, const engine::EngineProgress& progress);
    void complete(const Uuid& id, const engine::EngineOutput& output);
    void end(const Uuid& id, JobPhase phase, std::optional<std::string> message);
    void finish(const Uuid& id, const Uuid& token);
    bool isCurrent(const Uuid& id, const Uuid& token) const;

    JobStore& store_;
    std::shared_ptr<engine::PhotogrammetryService> service_;
    ActivityStarter beginActivity_;
    std::optional<Run> running_;
    std::map<Uuid, Uuid> attempts_;
    std::map<Uuid, std::filesystem::path> removeWhenStopped_;
    Date lastProgressSave_ = Date::distantPast();
};

}  // namespace pelorin::studio
