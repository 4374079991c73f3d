#include <gtest/gtest.h>

#include "engine/reconstruction/replay/replay_backend.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_store.h"
#include "tests/support/capture_manifests.h"
#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
using engine::ReplayBackend;
using engine::ReplayScript;
using Kind = ReplayScript::Step::Kind;
using testing::waitUntil;

class RunnerTest : public ::testing::Test {
  protected:
    RunnerTest() : replay_(std::make_shared<ReplayBackend>(ReplayScript::successfulRun(0))) {}

    void makeStore() {
        store_ = std::make_unique<JobStore>(root_, replay_, [this](const std::string& reason) {
            reasons_.push_back(reason);
            ++activeActivities_;
            return std::shared_ptr<void>(nullptr, [this](void*) { --activeActivities_; });
        });
        store_->onStatusChange = [this](const link::JobStatus& status) {
            statuses_.push_back(status);
        };
    }

    // A ready job with ten photos, created at the given time.
    Uuid readyJob(const std::string& name, double createdAt) {
        StudioJob job;
        job.id = Uuid::random();
        job.name = name;
        job.createdAt = Date{createdAt};
        job.imageCount = 10;
        EXPECT_FALSE(writeJobFile(root_, job));
        for (int i = 0; i < 10; ++i) {
            pelorin::testing::writeFile(
                StudioJob::imagesFolder(root_, job.id) / ("IMG_" + std::to_string(i) + ".jpg"),
                "x");
        }
        return job.id;
    }

    void start(const Uuid& id) {
        store_->queue(id, std::nullopt, true);
        store_->startNextIfIdle();
    }
    const StudioJob& job(const Uuid& id) { return *store_->job(id); }
    bool idle() const { return !store_->runningJobID(); }
    bool phaseIs(const Uuid& id, JobPhase phase) {
        return store_->job(id) && store_->job(id)->phase == phase;
    }

    pelorin::testing::ScratchFolder scratch_;
    const fs::path root_ = scratch_.path();
    std::shared_ptr<ReplayBackend> replay_;
    std::unique_ptr<JobStore> store_;
    std::vector<link::JobStatus> statuses_;
    std::vector<std::string> reasons_;
    int activeActivities_ = 0;
};

TEST_F(RunnerTest, QueuedJobsRunOneAtATimeOldestFirst) {
    const Uuid a = readyJob("A", 1), b = readyJob("B", 2), c = readyJob("C", 3);
    makeStore();
    ASSERT_EQ(store_->jobs()[0].name, "C");
    for (const Uuid& id : {c, a, b}) start(id);
    // Only one runs; the others wait in the queue.
    EXPECT_EQ(store_->runningJobID(), c);
    ASSERT_TRUE(waitUntil([&] {
        return phaseIs(a, JobPhase::finished) && phaseIs(b, JobPhase::finished) &&
               phaseIs(c, JobPhase::finished) && idle();
    }));
    const auto folders = replay_->record()->folders;
    EXPECT_EQ(folders, (std::vector<fs::path>{StudioJob::imagesFolder(root_, c),
                                              StudioJob::imagesFolder(root_, a),
                                              StudioJob::imagesFolder(root_, b)}));
    EXPECT_EQ(reasons_, std::vector<std::string>(3, "Building a 3D model"));
    EXPECT_EQ(activeActivities_, 0);
}

TEST_F(RunnerTest, AFinishedRunRecordsItsOutputs) {
    const Uuid id = readyJob("Statue", 1);
    makeStore();
    pelorin::testing::writeFile(StudioJob::checkpointFolder(root_, id) / "state", "x");
    start(id);
    EXPECT_EQ(job(id).stage, "Starting");
    EXPECT_EQ(job(id).phase, JobPhase::processing);
    ASSERT_TRUE(waitUntil([&] { return phaseIs(id, JobPhase::finished) && idle(); }));
    const StudioJob& done = job(id);
    EXPECT_EQ(done.fraction, 1);
    EXPECT_FALSE(done.stage);
    EXPECT_FALSE(done.secondsRemaining);
    ASSERT_TRUE(done.startedAt && done.finishedAt);
    ASSERT_TRUE(done.outputs);
    const auto output = StudioJob::outputFolder(root_, id);
    EXPECT_EQ(done.outputs->usdzBytes,
              static_cast<std::int64_t>(fs::file_size(output / "model.usdz")));
    EXPECT_EQ(done.outputs->glbBytes,
              static_cast<std::int64_t>(fs::file_size(output / "model.glb")));
    EXPECT_TRUE(done.outputs->hasOBJ);
    EXPECT_TRUE(done.outputs->hasPointCloud);
    EXPECT_EQ(done.outputs->pointCount, 500);
    EXPECT_EQ(done.outputs->maskedImages, 0);
    store_->waitForWrites();
    EXPECT_FALSE(fs::exists(StudioJob::checkpointFolder(root_, id)));
    EXPECT_EQ(*readJobFile(StudioJob::folder(root_, id)), done);
    EXPECT_EQ(statuses_.back(), done.status());
    EXPECT_EQ(statuses_.back().modelBytes, done.outputs->usdzBytes);
}

TEST_F(RunnerTest, WithoutAGlbCopyNoGlbSizeIsRecorded) {
    const Uuid id = readyJob("Phone", 1);
    auto manifest = pelorin::testing::captureManifest(0, {.deviceModel = "iPhone 15"});
    manifest.id = id;
    pelorin::testing::writeFile(StudioJob::imagesFolder(root_, id) / "capture.json",
                                link::makeRecordEncoder().encode(manifest));
    makeStore();
    link::ProcessingOptions options;
    options.exportOBJ = false;
    store_->queue(id, options, true);
    store_->startNextIfIdle();
    ASSERT_TRUE(waitUntil([&] { return phaseIs(id, JobPhase::finished) && idle(); }));
    EXPECT_FALSE(job(id).outputs->glbBytes);
    EXPECT_FALSE(job(id).outputs->hasOBJ);
}

TEST_F(RunnerTest, FailureKeepsTheCheckpointAndShowsTheReason) {
    const Uuid id = readyJob("Blurry", 1);
    ReplayScript script;
    script.failProcess = engine::PhotogrammetryError{
        engine::PhotogrammetryError::Kind::insufficientStorage, 3'000'000'000, ""};
    replay_->setScript(script);
    makeStore();
    start(id);
    ASSERT_TRUE(waitUntil([&] { return phaseIs(id, JobPhase::failed) && idle(); }));
    EXPECT_EQ(
        job(id).message,
        "This computer needs 3 GB more free disk space to build this model. Free up some space and "
        "press Try Again.");
    EXPECT_TRUE(fs::exists(StudioJob::checkpointFolder(root_, id)));
    EXPECT_FALSE(job(id).outputs);
    EXPECT_EQ(activeActivities_, 0);
}

// A run that reports progress and then waits, so that tests can look at it mid-way.
ReplayScript slowRun(int reports) {
    ReplayScript script;
    script.steps.push_back({.kind = Kind::requestProgressInfo,
                            .request = 0,
                            .stage = engine::ProcessingStage::imageAlignment});
    for (int i = 1; i <= reports; ++i) {
        script.steps.push_back(
            {.kind = Kind::requestProgress, .after = 0.05, .request = 0, .fraction = 0.1 * i});
        script.steps.push_back({.kind = Kind::invalidSample, .sampleId = 3});
    }
    script.steps.push_back({.kind = Kind::processingComplete, .after = 60});
    return script;
}

TEST_F(RunnerTest, EveryReportIsShownButTheFileIsSavedAtMostEveryTwoSeconds) {
    const Uuid id = readyJob("Slow", 1);
    replay_->setScript(slowRun(6));
    makeStore();
    start(id);
    // Each progress report and each skipped-photo report is shown: twelve in all.
    auto reported = [&] {
        std::size_t count = 0;
        for (const auto& status : statuses_) {
            count += status.phase == JobPhase::processing && status.fraction > 0;
        }
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return reported() == 12; }));
    // Four requests (model, OBJ, point cloud, GLB copy); only the first reports, up to 0.6.
    EXPECT_DOUBLE_EQ(job(id).fraction, 0.15);
    // Only the first report was written: the rest came within two seconds of it.
    store_->waitForWrites();
    const auto onDisk = readJobFile(StudioJob::folder(root_, id));
    EXPECT_EQ(onDisk->fraction, 0);
    EXPECT_EQ(onDisk->stage, "Aligning photos");
    // The note of the skipped photo is there once; a report without a stage kept the stage.
    EXPECT_EQ(job(id).notes,
              std::vector<std::string>{"Photo 4 could not be used and was skipped."});
    EXPECT_EQ(job(id).stage, "Aligning photos");

    store_->stop(id);
    // Cancelling is asked for, not done, until the engine has wound down.
    EXPECT_EQ(job(id).phase, JobPhase::processing);
    ASSERT_TRUE(waitUntil([&] { return phaseIs(id, JobPhase::cancelled) && idle(); }));
    EXPECT_FALSE(job(id).message);
    EXPECT_DOUBLE_EQ(job(id).fraction, 0.15);
}

TEST_F(RunnerTest, StoppingTheRunningJobStartsTheNextOneAfterWindingDown) {
    const Uuid first = readyJob("First", 1), second = readyJob("Second", 2);
    replay_->setScript(slowRun(1));
    makeStore();
    start(first);
    start(second);
    EXPECT_EQ(job(second).phase, JobPhase::queued);
    replay_->setScript(ReplayScript::successfulRun(0));
    store_->stop(first);
    ASSERT_TRUE(waitUntil([&] { return phaseIs(second, JobPhase::finished) && idle(); }));
    EXPECT_EQ(job(first).phase, JobPhase::cancelled);
}

TEST_F(RunnerTest, DeletingTheRunningJobDropsItsReportsAndItsFolder) {
    const Uuid doomed = readyJob("Doomed", 1), next = readyJob("Next", 2);
    replay_->setScript(slowRun(1));
    makeStore();
    start(doomed);
    store_->queue(next, std::nullopt, true);
    replay_->setScript(ReplayScript::successfulRun(0));
    store_->deleteJob(doomed);
    EXPECT_FALSE(store_->job(doomed));
    ASSERT_TRUE(waitUntil([&] { return phaseIs(next, JobPhase::finished) && idle(); }));
    EXPECT_FALSE(store_->job(doomed));
    store_->waitForWrites();
    EXPECT_FALSE(fs::exists(StudioJob::folder(root_, doomed)));
    // The folder set aside goes on the worker pool, off the main thread.
    EXPECT_TRUE(waitUntil([&] {
        for (const auto& entry : fs::directory_iterator(root_))
            if (entry.path().filename().string().starts_with(".deleted-")) return false;
        return true;
    }));
}

TEST_F(RunnerTest, ANewUploadOfTheRunningCaptureRestartsIt) {
    const Uuid id = readyJob("Vase", 1);
    replay_->setScript(slowRun(1));
    makeStore();
    start(id);
    auto manifest = pelorin::testing::captureManifest(10, {.name = "Vase again"});
    manifest.id = id;
    store_->beginUpload(manifest, "phone", 0);
    ASSERT_TRUE(waitUntil([&] { return idle(); }));
    // The old run's end did not touch the new job.
    EXPECT_EQ(job(id).phase, JobPhase::receiving);
    EXPECT_EQ(job(id).name, "Vase again");
    EXPECT_FALSE(job(id).finishedAt);
}

TEST_F(RunnerTest, DestroyingTheStoreStopsItsRun) {
    const Uuid id = readyJob("Long", 1);
    replay_->setScript(slowRun(1));
    makeStore();
    start(id);
    store_.reset();
    EXPECT_GE(replay_->record()->cancels, 1u);
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace pelorin::studio
