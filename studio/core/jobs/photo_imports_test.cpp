#include <gtest/gtest.h>

#include "engine/reconstruction/replay/replay_backend.h"
#include "link/records/manifest_file.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_store.h"
#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
using pelorin::testing::writeFile;
using testing::waitUntil;

class ImportTest : public ::testing::Test {
  protected:
    ImportTest() {
        auto script = engine::ReplayScript::successfulRun(0);
        store_ = std::make_unique<JobStore>(root_, std::make_shared<engine::ReplayBackend>(script));
    }

    fs::path photos(const std::string& folder, int count, const std::string& stem = "IMG_") {
        const auto path = chosen_ / folder;
        fs::create_directories(path);
        for (int i = 0; i < count; ++i)
            writeFile(path / (stem + std::to_string(i) + ".jpg"), "jpeg " + std::to_string(i));
        return path;
    }

    // Runs an import to its end.
    void finish(const std::function<void(JobStore::Done)>& start) {
        bool done = false;
        start([&] { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }));
    }

    std::string noticeTitle() const { return store_->notice() ? store_->notice()->title : ""; }
    std::string noticeMessage() const { return store_->notice() ? store_->notice()->message : ""; }
    std::vector<std::string> imageNames(const Uuid& id) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(StudioJob::imagesFolder(root_, id))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    pelorin::testing::ScratchFolder scratch_;
    const fs::path root_ = scratch_ / "Jobs";
    const fs::path chosen_ = scratch_ / "Chosen";
    std::unique_ptr<JobStore> store_;
};

TEST_F(ImportTest, AFolderAmongDroppedItemsWinsAndIsImportedAlone) {
    const auto folder = photos("Mug", 12);
    const auto loose = photos("Loose", 3, "X_");
    bool importingSeen = false;
    QObject::connect(store_.get(), &JobStore::isImportingChanged,
                     [&] { importingSeen |= store_->isImporting(); });
    finish([&](auto done) {
        store_->importItems({loose / "X_0.jpg", folder, loose / "X_1.jpg", loose / "X_2.jpg"},
                            done);
    });
    EXPECT_TRUE(importingSeen);
    EXPECT_FALSE(store_->isImporting());
    ASSERT_EQ(store_->jobs().size(), 1u);
    const StudioJob& job = store_->jobs()[0];
    EXPECT_EQ(job.name, "Mug");
    EXPECT_EQ(job.imageCount, 12);
    EXPECT_EQ(job.phase, JobPhase::ready);
    EXPECT_EQ(job.source, StudioJob::Source::folder());
    EXPECT_FALSE(job.message);
    EXPECT_FALSE(job.expectedImageCount);
    EXPECT_FALSE(job.options.sequentialOrdering);
    EXPECT_FALSE(job.options.useMotionData);
    EXPECT_TRUE(job.options.objectMasking);
    EXPECT_EQ(imageNames(job.id).size(), 12u);
    store_->waitForWrites();
    EXPECT_EQ(*readJobFile(StudioJob::folder(root_, job.id)), job);

    // A path ending in a separator still names the folder.
    finish([&](auto done) { store_->importItems({folder.string() + "/"}, done); });
    ASSERT_EQ(store_->jobs().size(), 2u);
    EXPECT_EQ(store_->jobs()[0].name, "Mug");
}

TEST_F(ImportTest, ZipsAndOtherFilesBecomeNotices) {
    writeFile(chosen_ / "Capture.ZIP", "zip");
    writeFile(chosen_ / "notes.txt", "text");
    finish([&](auto done) { store_->importItems({chosen_ / "Capture.ZIP"}, done); });
    EXPECT_EQ(noticeTitle(), "These photos are still zipped");
    EXPECT_EQ(noticeMessage(),
              "Extract Capture.ZIP in your file manager, then import the folder it makes.");
    finish([&](auto done) { store_->importItems({chosen_ / "notes.txt"}, done); });
    EXPECT_EQ(noticeTitle(), "This is not a photo");
    EXPECT_EQ(noticeMessage(),
              "notes.txt cannot be used. Choose a folder of HEIC, JPEG, PNG or TIFF photos.");
    EXPECT_TRUE(store_->jobs().empty());
}

TEST_F(ImportTest, FolderOutcomesWithoutPhotos) {
    fs::create_directories(chosen_ / "Empty");
    finish([&](auto done) { store_->importFolder(chosen_ / "Empty", done); });
    EXPECT_EQ(noticeTitle(), "No photos in this folder");
    EXPECT_EQ(noticeMessage(),
              "Nothing in Empty or the folders inside it can be used. Choose the folder that holds "
              "your HEIC, JPEG, PNG or TIFF photos.");
    writeFile(chosen_ / "Zipped" / "inner" / "photos.zip", "zip");
    finish([&](auto done) { store_->importFolder(chosen_ / "Zipped", done); });
    EXPECT_EQ(noticeTitle(), "These photos are still zipped");
    finish([&](auto done) { store_->importFolder(chosen_ / "Missing", done); });
    EXPECT_EQ(noticeTitle(), "Studio cannot open this folder");
    EXPECT_EQ(noticeMessage(),
              "The system did not allow Studio to read Missing. Click Import Photos and choose the "
              "folder there.");
    EXPECT_TRUE(store_->jobs().empty());
}

TEST_F(ImportTest, PhotosInASubfolderAreNamedInTheMessage) {
    photos("Trip/DCIM", 15);
    finish([&](auto done) { store_->importFolder(chosen_ / "Trip", done); });
    ASSERT_EQ(store_->jobs().size(), 1u);
    EXPECT_EQ(store_->jobs()[0].name, "DCIM");
    EXPECT_EQ(store_->jobs()[0].message, "Used the photos in DCIM, inside Trip.");
}

TEST_F(ImportTest, AManifestBesideThePhotosNamesAndConfiguresTheJob) {
    const auto folder = photos("Export", 10);
    link::CaptureManifest manifest;
    manifest.id = Uuid::random();
    manifest.name = "Garden gnome";
    manifest.options.detail = link::ProcessingDetail::full;
    manifest.captureMode = link::CaptureMode::arGuided;
    const std::string text = link::makeRecordEncoder().encode(manifest);
    writeFile(folder / "capture.json", text);
    finish([&](auto done) { store_->importFolder(folder, done); });
    ASSERT_EQ(store_->jobs().size(), 1u);
    const StudioJob& job = store_->jobs()[0];
    EXPECT_EQ(job.name, "Garden gnome");
    EXPECT_EQ(job.options, manifest.options);
    EXPECT_EQ(job.captureMode, link::CaptureMode::arGuided);
    EXPECT_NE(job.id, manifest.id);
    const auto copy =
        pelorin::testing::readBytes(StudioJob::imagesFolder(root_, job.id) / "capture.json");
    EXPECT_EQ(std::string(copy.begin(), copy.end()), text);

    // A manifest that does not decode is ignored, and copied as it is.
    writeFile(folder / "capture.json", "{broken");
    finish([&](auto done) { store_->importFolder(folder, done); });
    EXPECT_EQ(store_->jobs()[0].name, "Export");
    EXPECT_FALSE(store_->jobs()[0].captureMode);
}

TEST_F(ImportTest, LoosePhotosKeepTheirNamesWithCollisionsRenamed) {
    writeFile(chosen_ / "a" / "a.jpg", "1");
    writeFile(chosen_ / "b" / "A.JPG", "2");
    writeFile(chosen_ / "c" / "a-2.jpg", "3");
    finish([&](auto done) {
        store_->importItems(
            {chosen_ / "a" / "a.jpg", chosen_ / "b" / "A.JPG", chosen_ / "c" / "a-2.jpg"}, done);
    });
    ASSERT_EQ(store_->jobs().size(), 1u);
    EXPECT_EQ(store_->jobs()[0].name, "a");
    EXPECT_EQ(imageNames(store_->jobs()[0].id),
              (std::vector<std::string>{"A-2.JPG", "a-2-2.jpg", "a.jpg"}));
}

TEST_F(ImportTest, AFailedCopyLeavesNothingBehind) {
    // Loose photos in the root folder are named "Imported photos"; this one cannot be read.
    finish([&](auto done) { store_->importPhotos({"/pelorin-no-such-photo.jpg"}, done); });
    EXPECT_EQ(noticeTitle(), "Could not import Imported photos");
    EXPECT_FALSE(noticeMessage().empty());
    EXPECT_TRUE(store_->jobs().empty());
    // What was copied goes off the main thread.
    store_->waitForWrites();
    EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(ImportTest, TheSampleSetIsQueuedAtOnce) {
    finish([&](auto done) { store_->trySample(done); });
    EXPECT_EQ(noticeTitle(), "The sample photos are missing");
    EXPECT_EQ(noticeMessage(), "Install Pelorin Studio again, then try once more.");

    store_->setSampleFolder(photos("Sample Photos Statue", 12));
    finish([&](auto done) { store_->trySample(done); });
    ASSERT_EQ(store_->jobs().size(), 1u);
    const Uuid id = store_->jobs()[0].id;
    EXPECT_NE(store_->jobs()[0].phase, JobPhase::ready);
    ASSERT_TRUE(waitUntil([&] { return store_->job(id)->phase == JobPhase::finished; }));
}

TEST_F(ImportTest, TheShippedSampleSetIsTheStatueInArGuidedMode) {
    const fs::path shipped = fs::path(PELORIN_SOURCE_RESOURCES) / "Sample Photos Statue";
    auto manifest = link::readManifest(shipped);
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->validationMessage(), std::nullopt);
    EXPECT_TRUE(manifest->missingFiles(shipped).empty());
    EXPECT_EQ(manifest->images.size(), 72u);
    EXPECT_EQ(manifest->deviceModel, "Pixel 8");
    EXPECT_TRUE(manifest->objectBounds);

    finish([&](auto done) { store_->importFolder(shipped, done); });
    ASSERT_EQ(store_->jobs().size(), 1u);
    const StudioJob& job = store_->jobs()[0];
    EXPECT_EQ(job.name, "Statue");
    EXPECT_EQ(job.imageCount, 72);
    EXPECT_EQ(job.captureMode, link::CaptureMode::arGuided);
    EXPECT_EQ(job.options, link::ProcessingOptions{});
    const auto names = imageNames(job.id);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.ends_with(".jpg"); }),
              72);
}

}  // namespace
}  // namespace pelorin::studio
