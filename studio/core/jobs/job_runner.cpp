// The runner half of the job store: one job at a time, oldest queued first, built by the
// photogrammetry engine on a worker thread, with every report brought back to the main thread.
#include <QMetaObject>
#include <QPointer>

#include "engine/reconstruction/photogrammetry_engine.h"
#include "link/records/manifest_file.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_store.h"

namespace pelorin::studio {

namespace {

constexpr double progressSaveInterval = 2.0;

std::optional<std::int64_t> fileSize(const std::optional<std::filesystem::path>& file) {
    if (!file) return std::nullopt;
    std::error_code error;
    const auto size = std::filesystem::file_size(*file, error);
    if (error) return std::nullopt;
    return static_cast<std::int64_t>(size);
}

}  // namespace

bool JobStore::isCurrent(const Uuid& id, const Uuid& token) const {
    const auto attempt = attempts_.find(id);
    return attempt != attempts_.end() && attempt->second == token;
}

void JobStore::startNextIfIdle() {
    if (runningTask_) return;
    for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
        if (it->phase == JobPhase::queued) {
            runJob(*it);
            return;
        }
    }
}

void JobStore::runJob(const StudioJob& queued) {
    const Uuid id = queued.id;
    const Uuid token = Uuid::random();
    attempts_[id] = token;
    runningJobID_ = id;
    if (beginActivity_) busyActivity_ = beginActivity_("Building a 3D model");

    update(id, true, [](StudioJob& job) {
        job.phase = JobPhase::processing;
        job.startedAt = Date::now();
        job.finishedAt.reset();
        job.stage = "Starting";
    });

    engine::PhotogrammetryEngine::Inputs inputs;
    inputs.images = StudioJob::imagesFolder(jobsRoot_, id);
    inputs.manifest = link::readManifest(inputs.images);
    inputs.options = job(id) ? job(id)->options : queued.options;
    inputs.output = StudioJob::outputFolder(jobsRoot_, id);
    inputs.checkpoint = StudioJob::checkpointFolder(jobsRoot_, id);

    QPointer<JobStore> store(this);
    runThread_ = std::make_unique<std::jthread>(
        [store, id, token, inputs = std::move(inputs), service = service_](std::stop_token stop) {
            auto progress = [store, id, token](const engine::EngineProgress& report) {
                QMetaObject::invokeMethod(
                    store.data(),
                    [store, id, token, report] {
                        if (store) store->applyProgress(id, token, report);
                    },
                    Qt::QueuedConnection);
            };
            auto result = engine::PhotogrammetryEngine::run(service, inputs, progress, stop);
            QMetaObject::invokeMethod(
                store.data(),
                [store, id, token, result = std::move(result)] {
                    if (!store) return;
                    if (store->isCurrent(id, token)) {
                        if (result) {
                            store->completeJob(id, result.value());
                        } else if (result.error().kind == engine::EngineError::Kind::cancelled) {
                            store->endJob(id, JobPhase::cancelled, std::nullopt);
                        } else {
                            store->endJob(id, JobPhase::failed, result.error().description());
                        }
                    }
                    store->finishRun(id, token);
                },
                Qt::QueuedConnection);
        });
    std::jthread* thread = runThread_.get();
    runningTask_ = RunningTask{[thread] { thread->request_stop(); }};
}

void JobStore::applyProgress(const Uuid& id, const Uuid& token,
                             const engine::EngineProgress& progress) {
    if (!isCurrent(id, token)) return;
    const StudioJob* current = job(id);
    if (!current || current->phase != JobPhase::processing) return;
    const Date now = Date::now();
    const bool save = now.secondsSince(lastProgressSave_) > progressSaveInterval;
    if (save) lastProgressSave_ = now;
    update(id, save, [&](StudioJob& job) {
        job.fraction = progress.fraction;
        if (progress.stage) job.stage = progress.stage;
        job.secondsRemaining = progress.secondsRemaining;
        if (progress.note) job.addNote(*progress.note);
    });
}

void JobStore::completeJob(const Uuid& id, const engine::EngineOutput& output) {
    StudioJob::Outputs outputs;
    outputs.usdzBytes = fileSize(output.usdz).value_or(0);
    outputs.hasOBJ = output.objFolder.has_value();
    outputs.hasPointCloud = output.pointCloud.has_value();
    outputs.pointCount = output.pointCount;
    outputs.skippedImages = output.skippedImages;
    outputs.usedMotionData = output.usedMotionData;
    outputs.maskedImages = output.maskedImages;
    outputs.glbBytes = fileSize(output.glb);
    update(id, true, [&](StudioJob& job) {
        job.phase = JobPhase::finished;
        job.fraction = 1;
        job.stage.reset();
        job.secondsRemaining.reset();
        job.finishedAt = Date::now();
        job.outputs = outputs;
    });
    discardFolder(id, StudioJob::checkpointFolder(jobsRoot_, id));
}

void JobStore::endJob(const Uuid& id, JobPhase phase, std::optional<std::string> message) {
    update(id, true, [&](StudioJob& job) {
        job.phase = phase;
        job.stage.reset();
        job.secondsRemaining.reset();
        job.finishedAt = Date::now();
        job.message = std::move(message);
    });
}

void JobStore::finishRun(const Uuid& id, const Uuid& token) {
    if (isCurrent(id, token)) attempts_.erase(id);
    if (auto pending = deleteWhenStopped_.find(id); pending != deleteWhenStopped_.end()) {
        discardFolder(id, pending->second);
        deleteWhenStopped_.erase(pending);
        // The engine may have made its folders again at the old place while winding down; the
        // job is gone, so they go too (unless the same capture has come back meanwhile).
        if (!job(id)) discardFolder(id, StudioJob::folder(jobsRoot_, id));
    }
    busyActivity_.reset();
    runningTask_.reset();
    runningJobID_.reset();
    // The worker has posted its last report and is returning; this joins it at once.
    runThread_.reset();
    startNextIfIdle();
}

}  // namespace pelorin::studio
