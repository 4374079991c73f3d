#include "studio/core/jobs/job_runner.h"

#include <QMetaObject>
#include <QPointer>

#include "engine/reconstruction/photogrammetry_engine.h"
#include "link/records/manifest_file.h"
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

JobRunner::JobRunner(JobStore& store, std::shared_ptr<engine::PhotogrammetryService> service,
                     ActivityStarter beginActivity)
    : store_(store), service_(std::move(service)), beginActivity_(std::move(beginActivity)) {}

JobRunner::~JobRunner() {
    if (running_) running_->thread.reset();
}

std::optional<Uuid> JobRunner::runningJobID() const {
    if (!running_) return std::nullopt;
    return running_->id;
}

bool JobRunner::isCurrent(const Uuid& id, const Uuid& token) const {
    const auto attempt = attempts_.find(id);
    return attempt != attempts_.end() && attempt->second == token;
}

void JobRunner::startNextIfIdle() {
    if (running_) return;
    const auto& jobs = store_.jobs();
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        if (it->phase == JobPhase::queued) {
            start(*it);
            return;
        }
    }
}

bool JobRunner::cancel(const Uuid& id) {
    if (!running_ || running_->id != id) return false;
    running_->thread->request_stop();
    return true;
}

void JobRunner::forget(const Uuid& id) {
    attempts_.erase(id);
}

void JobRunner::removeWhenStopped(const Uuid& id, std::filesystem::path aside) {
    removeWhenStopped_[id] = std::move(aside);
}

void JobRunner::start(const StudioJob& queued) {
    const Uuid id = queued.id;
    const Uuid token = Uuid::random();
    attempts_[id] = token;
    running_ = Run{id, nullptr, nullptr};
    if (beginActivity_) running_->activity = beginActivity_("Building a 3D model");

    store_.update(id, true, [](StudioJob& job) {
        job.phase = JobPhase::processing;
        job.startedAt = Date::now();
        job.finishedAt.reset();
        job.stage = "Starting";
    });

    const auto& root = store_.jobsRoot();
    engine::PhotogrammetryEngine::Inputs inputs;
    inputs.images = StudioJob::imagesFolder(root, id);
    inputs.manifest = link::readManifest(inputs.images);
    inputs.options = store_.job(id) ? store_.job(id)->options : queued.options;
    inputs.output = StudioJob::outputFolder(root, id);
    inputs.checkpoint = StudioJob::checkpointFolder(root, id);

    // The store owns this runner: while the store is there, so is the runner.
    QPointer<JobStore> store(&store_);
    JobRunner* runner = this;
    running_->thread =
        std::make_unique<std::jthread>([store, runner, id, token, inputs = std::move(inputs),
                                        service = service_](std::stop_token stop) {
            auto progress = [store, runner, id, token](const engine::EngineProgress& report) {
                QMetaObject::invokeMethod(
                    store.data(),
                    [store, runner, id, token, report] {
                        if (store) runner->applyProgress(id, token, report);
                    },
                    Qt::QueuedConnection);
            };
            auto result = engine::PhotogrammetryEngine::run(service, inputs, progress, stop);
            QMetaObject::invokeMethod(
                store.data(),
                [store, runner, id, token, result = std::move(result)] {
                    if (!store) return;
                    if (runner->isCurrent(id, token)) {
                        if (result) {
                            runner->complete(id, result.value());
                        } else if (result.error().kind == engine::EngineError::Kind::cancelled) {
                            runner->end(id, JobPhase::cancelled, std::nullopt);
                        } else {
                            runner->end(id, JobPhase::failed, result.error().description());
                        }
                    }
                    runner->finish(id, token);
                },
                Qt::QueuedConnection);
        });
}

void JobRunner::applyProgress(const Uuid& id, const Uuid& token,
                              const engine::EngineProgress& progress) {
    if (!isCurrent(id, token)) return;
    const StudioJob* current = store_.job(id);
    if (!current || current->phase != JobPhase::processing) return;
    const Date now = Date::now();
    const bool save = now.secondsSince(lastProgressSave_) > progressSaveInterval;
    if (save) lastProgressSave_ = now;
    store_.update(id, save, [&](StudioJob& job) {
        job.fraction = progress.fraction;
        if (progress.stage) job.stage = progress.stage;
        job.secondsRemaining = progress.secondsRemaining;
        if (progress.note) job.addNote(*progress.note);
    });
}

void JobRunner::complete(const Uuid& id, const engine::EngineOutput& output) {
    StudioJob::Outputs outputs;
    outputs.usdzBytes = fileSize(output.usdz).value_or(0);
    outputs.hasOBJ = output.objFolder.has_value();
    outputs.hasPointCloud = output.pointCloud.has_value();
    outputs.pointCount = output.pointCount;
    outputs.skippedImages = output.skippedImages;
    outputs.usedMotionData = output.usedMotionData;
    outputs.maskedImages = output.maskedImages;
    outputs.glbBytes = fileSize(output.glb);
    store_.update(id, true, [&](StudioJob& job) {
        job.phase = JobPhase::finished;
        job.fraction = 1;
        job.stage.reset();
        job.secondsRemaining.reset();
        job.finishedAt = Date::now();
        job.outputs = outputs;
    });
    store_.discardFolder(id, StudioJob::checkpointFolder(store_.jobsRoot(), id));
}

void JobRunner::end(const Uuid& id, JobPhase phase, std::optional<std::string> message) {
    store_.update(id, true, [&](StudioJob& job) {
        job.phase = phase;
        job.stage.reset();
        job.secondsRemaining.reset();
        job.finishedAt = Date::now();
        job.message = std::move(message);
    });
}

void JobRunner::finish(const Uuid& id, const Uuid& token) {
    if (isCurrent(id, token)) attempts_.erase(id);
    if (auto pending = removeWhenStopped_.find(id); pending != removeWhenStopped_.end()) {
        store_.discardFolder(id, pending->second);
        removeWhenStopped_.erase(pending);
        // The engine may have made its folders again at the old place while winding down; the
        // job is gone, so they go too (unless the same capture has come back meanwhile).
        if (!store_.job(id)) store_.discardFolder(id, StudioJob::folder(store_.jobsRoot(), id));
    }
    // The worker has posted its last report and is returning; resetting joins it at once.
    running_.reset();
    startNextIfIdle();
}

}  // namespace pelorin::studio
