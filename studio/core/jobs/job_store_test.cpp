#include "studio/core/jobs/job_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "engine/reconstruction/replay/replay_backend.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_file_writer.h"
#include "tests/support/capture_manifests.h"
#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {

namespace {

using link::CaptureManifest;
using link::ImageRecord;

class JobStoreTest : public ::testing::Test {
  protected:
    std::unique_ptr<JobStore> makeStore(JobFileWriter::Write write = nullptr) {
        auto store = std::make_unique<JobStore>(root_, replay_, nullptr, std::move(write));
        store->onStatusChange = [this](const link::JobStatus& status) {
            statuses_.push_back(status);
        };
        return store;
    }

    StudioJob storedJob(const std::string& name, JobPhase phase, double createdAt) {
        StudioJob job;
        job.id = Uuid::random();
        job.name = name;
        job.createdAt = Date{createdAt};
        job.phase = phase;
        EXPECT_FALSE(writeJobFile(root_, job));
        return job;
    }

    CaptureManifest manifest(int photos) {
        CaptureManifest m = testing::captureManifest(photos, {.bytes = 3});
        m.createdAt = Date{5000};
        m.appVersion = "1.0";
        return m;
    }

    // Makes `id`'s job the running one, in a run that lasts until it is stopped.
    void startLongRun(JobStore& store, const Uuid& id) {
        for (int i = 0; i < 10; ++i) {
            pelorin::testing::writeFile(
                StudioJob::imagesFolder(root_, id) / ("IMG_" + std::to_string(i) + ".jpg"), "abc");
        }
        store.queue(id, std::nullopt, true);
        store.startNextIfIdle();
        ASSERT_EQ(store.runningJobID(), id);
    }
    std::size_t cancels() {
        std::lock_guard lock(replay_->record()->lock);
        return replay_->record()->cancels;
    }

    // Writes the manifest and the first `photos` of its images as the phone would.
    void receive(const CaptureManifest& m, int photos) {
        const auto images = StudioJob::imagesFolder(root_, m.id);
        std::filesystem::create_directories(images);
        std::ofstream(images / "capture.json") << link::makeRecordEncoder().encode(m);
        for (int i = 0; i < photos; ++i) std::ofstream(images / m.images[i].fileName) << "abc";
    }

    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path root_ = scratch_.path();
    // Runs last ten minutes: only a stop ends them within a test.
    std::shared_ptr<engine::ReplayBackend> replay_ =
        std::make_shared<engine::ReplayBackend>(engine::ReplayScript::successfulRun(600));
    std::vector<link::JobStatus> statuses_;
};

TEST_F(JobStoreTest, LoadSkipsBrokenFoldersAndRemovesDeletionLeftovers) {
    const auto good = storedJob("Good", JobPhase::finished, 10);
    std::filesystem::create_directories(root_ / ".deleted-ABC" / "Images");
    const auto writeRaw = [&](const std::string& folder, const std::string& text) {
        std::filesystem::create_directories(root_ / folder);
        std::ofstream(root_ / folder / "job.json") << text;
    };
    std::filesystem::create_directories(root_ / "no-job-file");
    std::string valid = link::makeRecordEncoder().encode(good);
    writeRaw("truncated", valid.substr(0, valid.size() / 2));
    writeRaw("not-json", "hello");
    writeRaw("wrong-type", std::string(valid).replace(valid.find("\"Good\""), 6, "42"));
    writeRaw("unknown-phase",
             std::string(valid).replace(valid.find("\"finished\""), 10, "\"done\""));
    writeRaw("two-key-source",
             std::string(valid).replace(valid.find(R"({"folder":{}})"), 13,
                                        R"({"folder":{},"phone":{"deviceName":"x"}})"));
    std::ofstream(root_ / "stray-file") << "x";

    auto store = makeStore();
    ASSERT_EQ(store->jobs().size(), 1u);
    EXPECT_EQ(store->jobs()[0], good);
    EXPECT_FALSE(std::filesystem::exists(root_ / ".deleted-ABC"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "not-json"));
    EXPECT_TRUE(store->photogrammetrySupported());
}

TEST_F(JobStoreTest, LoadRepairsInterruptedJobsWithoutRewritingThem) {
    StudioJob processing = storedJob("Processing", JobPhase::processing, 30);
    processing.fraction = 0.4;
    processing.stage = "Building mesh";
    processing.notes = {"kept"};
    ASSERT_FALSE(writeJobFile(root_, processing));
    const auto queued = storedJob("Queued", JobPhase::queued, 20);
    const auto receiving = storedJob("Receiving", JobPhase::receiving, 40);
    const auto failed = storedJob("Failed", JobPhase::failed, 10);

    auto store = makeStore();
    const auto& jobs = store->jobs();
    ASSERT_EQ(jobs.size(), 4u);
    // Newest first.
    EXPECT_EQ(jobs[0].name, "Receiving");
    EXPECT_EQ(jobs[1].name, "Processing");
    EXPECT_EQ(jobs[2].name, "Queued");
    EXPECT_EQ(jobs[3], failed);

    EXPECT_EQ(jobs[1].phase, JobPhase::ready);
    EXPECT_EQ(jobs[1].fraction, 0);
    EXPECT_EQ(jobs[1].message, "Processing was interrupted. Press Start to continue.");
    EXPECT_EQ(jobs[1].stage, "Building mesh");
    EXPECT_EQ(jobs[1].notes, std::vector<std::string>{"kept"});
    EXPECT_EQ(jobs[2].phase, JobPhase::ready);
    EXPECT_EQ(jobs[0].phase, JobPhase::receiving);
    EXPECT_EQ(jobs[0].message, "Waiting for the phone to reconnect. The upload will continue.");

    EXPECT_EQ(readJobFile(StudioJob::folder(root_, processing.id))->phase, JobPhase::processing);
    EXPECT_TRUE(statuses_.empty());
}

TEST_F(JobStoreTest, FailedSaveKeepsTheChangeInMemoryAndTellsTheUser) {
    const auto job = storedJob("Vase", JobPhase::ready, 1);
    // Run the store in a child under a tiny file-size limit, so that every save fails even as
    // root; the child reports what it saw through its exit code.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8, 8};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto store = makeStore();
        store->rename(job.id, "Blue vase");
        // The writer reports its failure to the main thread.
        store->waitForWrites();
        QCoreApplication::processEvents();
        const auto& notice = store->notice();
        const bool ok = store->jobs()[0].name == "Blue vase" && notice &&
                        notice->title == "Could not save this job" &&
                        notice->message.starts_with("Blue vase: ") && notice->message.size() > 11;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, job.id))->name, "Vase");
}

// A disk that holds writes until it is let go (or three seconds have passed, so that a store that
// waits for it shows up as a late timer rather than a hang), and remembers the names it wrote.
class HeldDisk {
  public:
    JobFileWriter::Write write() {
        return [this](const std::filesystem::path& root, const StudioJob& job) {
            std::unique_lock lock(mutex_);
            names_.push_back(job.name);
            entered_.notify_all();
            released_.wait_for(lock, std::chrono::seconds(3), [this] { return released; });
            return writeJobFile(root, job);
        };
    }
    void waitForFirstWrite() {
        std::unique_lock lock(mutex_);
        entered_.wait(lock, [this] { return !names_.empty(); });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released = true;
        released_.notify_all();
    }
    std::vector<std::string> names() {
        std::lock_guard lock(mutex_);
        return names_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable entered_, released_;
    bool released = false;
    std::vector<std::string> names_;
};

TEST_F(JobStoreTest, ASlowDiskNeverHoldsUpTheMainThreadAndTheNewestStateEndsOnDisk) {
    const auto job = storedJob("Vase", JobPhase::ready, 1);
    HeldDisk disk;
    auto store = makeStore(disk.write());
    store->rename(job.id, "First");
    disk.waitForFirstWrite();

    // While "First" is stuck on the disk, the main thread saves twice more and must still
    // serve a timer on time.
    constexpr int interval = 20;
    QElapsedTimer clock;
    clock.start();
    qint64 firedAt = -1;
    QEventLoop loop;
    QTimer::singleShot(interval, &loop, [&] {
        firedAt = clock.elapsed();
        loop.quit();
    });
    store->rename(job.id, "Second");
    store->rename(job.id, "Third");
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    disk.release();
    store->waitForWrites();

    ASSERT_GE(firedAt, 0);
    // Generous against a loaded machine, far below the held write.
    EXPECT_LT(firedAt - interval, 1000);
    // "Second" was replaced before its turn came: no stale state is written after a newer one.
    EXPECT_EQ(disk.names(), (std::vector<std::string>{"First", "Third"}));
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, job.id))->name, "Third");
}

TEST_F(JobStoreTest, NoticesChangeOnlyWhenTheyDiffer) {
    auto store = makeStore();
    int changes = 0;
    QObject::connect(store.get(), &JobStore::noticeChanged, [&] { ++changes; });
    store->showNotice("A", "b");
    store->showNotice("A", "b");
    store->showNotice("A", "c");
    store->clearNotice();
    store->clearNotice();
    EXPECT_EQ(changes, 3);
}

TEST_F(JobStoreTest, BeginUploadCreatesTheReceivingJob) {
    auto store = makeStore();
    auto m = manifest(40);
    m.captureMode = link::CaptureMode::classic;
    m.options.detail = link::ProcessingDetail::full;
    store->beginUpload(m, "Ana's phone", 5);

    ASSERT_EQ(store->jobs().size(), 1u);
    const StudioJob& job = store->jobs()[0];
    EXPECT_EQ(job.id, m.id);
    EXPECT_EQ(job.phase, JobPhase::receiving);
    EXPECT_EQ(job.fraction, 0.125);
    EXPECT_EQ(job.message, "Resuming: 5 of 40 photos were already here.");
    EXPECT_EQ(job.expectedImageCount, 40);
    EXPECT_EQ(job.imageCount, 5);
    EXPECT_EQ(job.source, StudioJob::Source::phone("Ana's phone"));
    EXPECT_EQ(job.options.detail, link::ProcessingDetail::full);
    EXPECT_EQ(job.captureMode, link::CaptureMode::classic);
    store->waitForWrites();
    EXPECT_EQ(*readJobFile(StudioJob::folder(root_, m.id)), job);
    ASSERT_EQ(statuses_.size(), 1u);
    EXPECT_EQ(statuses_[0], job.status());

    // The same capture again replaces the job instead of adding one.
    store->beginUpload(m, "Ana's phone", 0);
    ASSERT_EQ(store->jobs().size(), 1u);
    EXPECT_FALSE(store->jobs()[0].message);
    EXPECT_EQ(store->jobs()[0].fraction, 0);
}

TEST_F(JobStoreTest, BeginUploadCancelsTheRunOfTheSameCapture) {
    auto store = makeStore();
    const auto m = manifest(30);
    store->beginUpload(m, "phone", 0);
    startLongRun(*store, m.id);
    store->beginUpload(m, "phone", 30);
    EXPECT_EQ(store->jobs()[0].phase, JobPhase::receiving);
    // The stopped run's last reports belong to the old attempt and leave the new upload alone.
    ASSERT_TRUE(testing::waitUntil([&] { return !store->runningJobID(); }));
    EXPECT_EQ(cancels(), 1u);
    EXPECT_EQ(store->jobs()[0].phase, JobPhase::receiving);
    EXPECT_EQ(store->jobs()[0].imageCount, 30);
}

TEST_F(JobStoreTest, FileWrittenCountsInMemoryOnly) {
    auto store = makeStore();
    const auto m = manifest(4);
    store->beginUpload(m, "phone", 0);
    statuses_.clear();
    store->fileWritten(m.id);
    EXPECT_EQ(store->jobs()[0].imageCount, 1);
    EXPECT_EQ(store->jobs()[0].fraction, 0.25);
    EXPECT_EQ(statuses_.size(), 1u);
    store->waitForWrites();
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, m.id))->imageCount, 0);
}

TEST_F(JobStoreTest, EndUploadReportsWhatIsMissing) {
    auto store = makeStore();
    EXPECT_EQ(store->endUpload(Uuid::random()), std::vector<std::string>{"capture.json"});

    const auto m = manifest(25);
    store->beginUpload(m, "phone", 0);
    receive(m, 23);
    EXPECT_EQ(store->endUpload(m.id), (std::vector<std::string>{"IMG_23.jpg", "IMG_24.jpg"}));
    EXPECT_EQ(store->jobs()[0].message, "Waiting for 2 more photos from the phone.");
    EXPECT_EQ(store->jobs()[0].phase, JobPhase::receiving);

    std::ofstream(StudioJob::imagesFolder(root_, m.id) / "IMG_23.jpg") << "abc";
    EXPECT_EQ(store->endUpload(m.id), std::vector<std::string>{"IMG_24.jpg"});
    EXPECT_EQ(store->jobs()[0].message, "Waiting for 1 more photo from the phone.");
    store->waitForWrites();
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, m.id))->message,
              "Waiting for 1 more photo from the phone.");
}

TEST_F(JobStoreTest, EndUploadWithoutManifestAsksForTheCaptureAgain) {
    auto store = makeStore();
    const auto m = manifest(3);
    store->beginUpload(m, "phone", 0);
    receive(m, 3);
    std::filesystem::remove(StudioJob::imagesFolder(root_, m.id) / "capture.json");
    EXPECT_EQ(store->endUpload(m.id), std::vector<std::string>{"capture.json"});
    EXPECT_EQ(store->jobs()[0].message, "Waiting for the phone to send the capture again.");
}

TEST_F(JobStoreTest, CompleteUploadIsQueuedWithAPhotoCountNote) {
    auto store = makeStore();
    const auto small = manifest(12);
    store->beginUpload(small, "phone", 0);
    receive(small, 12);
    EXPECT_TRUE(store->endUpload(small.id).empty());
    const StudioJob* job = store->job(small.id);
    // Queued, and taken up at once by the idle runner.
    EXPECT_EQ(job->phase, JobPhase::processing);
    EXPECT_EQ(store->runningJobID(), small.id);
    EXPECT_EQ(job->imageCount, 12);
    EXPECT_EQ(job->fraction, 0);
    EXPECT_FALSE(job->message);
    EXPECT_EQ(job->notes, std::vector<std::string>{
                              "Only 12 photos. Models need at least 20; 40 to 100 work best."});
    store->waitForWrites();
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, small.id))->notes, job->notes);

    // No longer receiving: nothing more to do, nothing changes.
    statuses_.clear();
    EXPECT_TRUE(store->endUpload(small.id).empty());
    EXPECT_TRUE(statuses_.empty());

    const auto enough = manifest(20);
    store->beginUpload(enough, "phone", 0);
    receive(enough, 20);
    EXPECT_TRUE(store->endUpload(enough.id).empty());
    EXPECT_TRUE(store->job(enough.id)->notes.empty());
    // It waits for the running job.
    EXPECT_EQ(store->job(enough.id)->phase, JobPhase::queued);
}

TEST_F(JobStoreTest, RenameTrimsAndIgnoresBlankNames) {
    const auto job = storedJob("Old", JobPhase::ready, 1);
    auto store = makeStore();
    store->rename(job.id, "   \n ");
    EXPECT_EQ(store->jobs()[0].name, "Old");
    EXPECT_TRUE(statuses_.empty());
    store->rename(job.id, "\u00A0\u00A0\u2028");  // no-break spaces and a line separator
    EXPECT_EQ(store->jobs()[0].name, "Old");
    store->rename(job.id, "\u00A0 New name\n\u3000");
    EXPECT_EQ(store->jobs()[0].name, "New name");
    store->waitForWrites();
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, job.id))->name, "New name");
}

TEST_F(JobStoreTest, QueueAndStop) {
    auto finished = storedJob("Finished", JobPhase::finished, 1);
    finished.message = "Done";
    finished.notes = {"a note"};
    finished.stage = "Optimising";
    finished.secondsRemaining = 4;
    finished.fraction = 1;
    finished.outputs = StudioJob::Outputs{.usdzBytes = 99};
    finished.finishedAt = Date{9};
    ASSERT_FALSE(writeJobFile(root_, finished));
    const auto ready = storedJob("Ready", JobPhase::ready, 2);
    auto store = makeStore();

    link::ProcessingOptions options;
    options.detail = link::ProcessingDetail::preview;
    store->queue(finished.id, options, true);
    const StudioJob* job = store->job(finished.id);
    EXPECT_EQ(job->phase, JobPhase::queued);
    EXPECT_EQ(job->fraction, 0);
    EXPECT_FALSE(job->message || job->stage || job->secondsRemaining);
    EXPECT_TRUE(job->notes.empty());
    EXPECT_EQ(job->outputs, finished.outputs);
    EXPECT_EQ(job->finishedAt, finished.finishedAt);
    EXPECT_EQ(job->options.detail, link::ProcessingDetail::preview);

    store->stop(finished.id);
    EXPECT_EQ(store->job(finished.id)->phase, JobPhase::cancelled);
    store->waitForWrites();
    EXPECT_EQ(readJobFile(StudioJob::folder(root_, finished.id))->phase, JobPhase::cancelled);

    statuses_.clear();
    store->stop(ready.id);
    EXPECT_EQ(store->job(ready.id)->phase, JobPhase::ready);
    EXPECT_TRUE(statuses_.empty());

    startLongRun(*store, ready.id);
    store->stop(ready.id);
    // The runner marks it cancelled once the run has wound down, not the store.
    EXPECT_EQ(store->job(ready.id)->phase, JobPhase::processing);
    ASSERT_TRUE(testing::waitUntil([&] { return !store->runningJobID(); }));
    EXPECT_EQ(cancels(), 1u);
    EXPECT_EQ(store->job(ready.id)->phase, JobPhase::cancelled);
}

TEST_F(JobStoreTest, DeletingAnIdleJobRemovesItsFolder) {
    const auto job = storedJob("Gone", JobPhase::failed, 1);
    auto store = makeStore();
    store->deleteJob(job.id);
    EXPECT_TRUE(store->jobs().empty());
    store->waitForWrites();
    EXPECT_FALSE(std::filesystem::exists(StudioJob::folder(root_, job.id)));
}

TEST_F(JobStoreTest, DeletingTheRunningJobMovesItsFolderAside) {
    const auto deletedFolders = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(root_)) {
            if (entry.path().filename().string().starts_with(".deleted-"))
                found.push_back(entry.path());
        }
        return found;
    };
    for (const bool restartBeforeTheRunEnds : {false, true}) {
        SCOPED_TRACE(restartBeforeTheRunEnds ? "restarted" : "wound down");
        const auto job = storedJob("Running", JobPhase::ready, 1);
        auto store = makeStore();
        startLongRun(*store, job.id);
        store->deleteJob(job.id);
        EXPECT_TRUE(store->jobs().empty());
        store->waitForWrites();
        // Out of sight at once. The run may still write at the old place while it winds down
        // (its folders come back there, which its end removes), but never the job's record.
        EXPECT_FALSE(std::filesystem::exists(StudioJob::folder(root_, job.id) / "job.json"));
        const auto aside = deletedFolders();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_TRUE(std::filesystem::exists(aside[0] / "job.json"));

        if (restartBeforeTheRunEnds) {
            // A later start cleans up what a stopped run left behind.
            store.reset();
            auto again = makeStore();
            EXPECT_TRUE(deletedFolders().empty());
            EXPECT_TRUE(again->jobs().empty());
        } else {
            ASSERT_TRUE(testing::waitUntil([&] { return !store->runningJobID(); }));
            store->waitForWrites();
            EXPECT_TRUE(deletedFolders().empty());
            EXPECT_FALSE(std::filesystem::exists(StudioJob::folder(root_, job.id)));
        }
    }
}

}  // namespace
}  // namespace pelorin::studio
