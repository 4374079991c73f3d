#include "engine/reconstruction/photogrammetry_engine.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <thread>

#include "engine/formats/usdz_check.h"
#include "engine/reconstruction/replay/replay_backend.h"
#include "tests/support/capture_manifests.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

namespace fs = std::filesystem;
using Kind = ReplayScript::Step::Kind;
using PhotogrammetryEngine::Inputs;

// A script whose every attempt fails as the service would with the given error.
ReplayScript failing(PhotogrammetryError error) {
    ReplayScript script;
    script.failProcess = error;
    return script;
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : replay_(std::make_shared<ReplayBackend>(ReplayScript::successfulRun(0))) {
        inputs_.images = scratch_ / "Images";
        inputs_.output = scratch_ / "Output";
        inputs_.checkpoint = scratch_ / "Checkpoint";
        fs::create_directories(inputs_.images);
    }

    // Photos whose bytes the service never decodes (sessions that read the folder).
    void placeholderPhotos(int count) {
        for (int i = 0; i < count; ++i) {
            testing::writeFile(inputs_.images / ("IMG_" + std::to_string(i) + ".jpg"), "x");
        }
    }
    // Small real photos, for sessions that are fed decoded samples.
    void realPhotos(int count) {
        cv::Mat image(48, 64, CV_8UC3, cv::Scalar(40, 120, 200));
        for (int i = 0; i < count; ++i) {
            cv::imwrite((inputs_.images / ("IMG_" + std::to_string(i) + ".jpg")).string(), image);
        }
    }
    link::CaptureManifest manifest(const std::string& device, int photos, bool gravity) {
        return pelorin::testing::captureManifest(
            photos, {.deviceModel = device,
                     .gravity = gravity ? std::optional(link::Vector3{0, -9.8, 0}) : std::nullopt});
    }

    pelorin::Expected<EngineOutput, EngineError> run() {
        return PhotogrammetryEngine::run(
            replay_, inputs_, [this](const EngineProgress& p) { progress_.push_back(p); });
    }
    std::vector<std::string> notes() const {
        std::vector<std::string> found;
        for (const auto& p : progress_) {
            if (p.note) found.push_back(*p.note);
        }
        return found;
    }
    std::vector<std::vector<PhotogrammetryRequest>> requests() const {
        std::lock_guard guard(replay_->record()->lock);
        return replay_->record()->requests;
    }

    pelorin::testing::ScratchFolder scratch_;
    std::shared_ptr<ReplayBackend> replay_;
    Inputs inputs_;
    std::vector<EngineProgress> progress_;
};

TEST_F(EngineTest, TooFewPhotosFailBeforeAnythingIsCreated) {
    placeholderPhotos(9);
    auto result = run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), EngineError::notEnoughImages(9, 10));
    EXPECT_EQ(result.error().description(), "Found 9 usable photos. At least 10 are needed.");
    EXPECT_FALSE(fs::exists(inputs_.output));
    EXPECT_FALSE(fs::exists(inputs_.checkpoint));
    EXPECT_TRUE(requests().empty());
}

TEST_F(EngineTest, SuccessfulRunPublishesEveryOutput) {
    placeholderPhotos(12);
    testing::writeFile(inputs_.output / "old.txt", "the previous model");
    auto result = run();
    ASSERT_TRUE(result) << result.error().description();
    EXPECT_EQ(result->usdz, inputs_.output / "model.usdz");
    EXPECT_EQ(result->glb, inputs_.output / "model.glb");
    EXPECT_EQ(result->objFolder, inputs_.output / "OBJ");
    EXPECT_EQ(result->pointCloud, inputs_.output / "pointcloud.ply");
    EXPECT_EQ(result->pointCount, 500);
    EXPECT_FALSE(result->usedMotionData);
    EXPECT_EQ(result->maskedImages, 0);
    EXPECT_TRUE(engine::isUsdzPackage(testing::readBytes(result->usdz)));
    EXPECT_TRUE(fs::is_regular_file(*result->glb));
    EXPECT_TRUE(fs::is_regular_file(*result->objFolder / "model.obj"));
    // The old Output folder was replaced whole; no staging folder is left.
    EXPECT_FALSE(fs::exists(inputs_.output / "old.txt"));
    EXPECT_FALSE(fs::exists(scratch_ / "Output.building"));

    // Four requests: model, OBJ folder, point cloud, GLB copy, in that order.
    const auto made = requests();
    ASSERT_EQ(made.size(), 1u);
    ASSERT_EQ(made[0].size(), 4u);
    EXPECT_EQ(made[0][0].url, scratch_ / "Output.building" / "model.usdz");
    EXPECT_EQ(made[0][1].url, scratch_ / "Output.building" / "OBJ");
    EXPECT_EQ(made[0][2].kind, PhotogrammetryRequest::Kind::pointCloud);
    EXPECT_EQ(made[0][3].url, scratch_ / "Output.building" / "model.glb");

    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.front().stage, "Reading photos");
    EXPECT_EQ(progress_.back().fraction, 1.0);
    bool sawStage = false;
    for (const auto& p : progress_) sawStage |= p.stage == "Painting textures";
    EXPECT_TRUE(sawStage);
    EXPECT_TRUE(notes().empty());
    const auto configuration = replay_->record()->configurations.at(0);
    EXPECT_EQ(configuration.checkpointDirectory, inputs_.checkpoint);
    EXPECT_EQ(configuration.sampleOrdering, SampleOrdering::sequential);
    EXPECT_TRUE(configuration.isObjectMaskingEnabled);
}

TEST_F(EngineTest, FractionIsTheMeanOverRequests) {
    placeholderPhotos(10);
    inputs_.options.exportOBJ = false;  // two requests: model and point cloud
    inputs_.manifest = manifest("iPhone 15", 0, false);
    ReplayScript script;
    script.steps = {{.kind = Kind::requestProgress, .request = 0, .fraction = 0.5},
                    {.kind = Kind::requestProgressInfo,
                     .request = 0,
                     .stage = ProcessingStage::meshGeneration,
                     .secondsRemaining = 30},
                    {.kind = Kind::requestProgress, .request = 1, .fraction = 0.5},
                    {.kind = Kind::processingComplete}};
    replay_->setScript(script);
    auto result =
        PhotogrammetryEngine::attempt(replay_, inputs_, inputs_.options, false,
                                      [this](const EngineProgress& p) { progress_.push_back(p); });
    ASSERT_EQ(progress_.size(), 3u);
    EXPECT_EQ(progress_[0].fraction, 0.25);
    EXPECT_EQ(progress_[1].stage, "Building mesh");
    EXPECT_EQ(progress_[1].secondsRemaining, 30);
    EXPECT_EQ(progress_[2].fraction, 0.5);
    EXPECT_EQ(progress_[2].stage, "Building mesh");
    // Complete without the main model.
    ASSERT_FALSE(result);
    EXPECT_EQ(PhotogrammetryEngine::mapError(result.error()).description(),
              "Processing finished but no model was produced.");
}

TEST_F(EngineTest, LadderGoesFromIsolateToNormalToSimple) {
    realPhotos(10);
    inputs_.options.isolateSubject = true;
    testing::writeFile(inputs_.checkpoint / "state", "old");
    replay_->setScript(failing(PhotogrammetryError::other("alignment failed")));
    auto result = run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, EngineError::Kind::failed);
    EXPECT_EQ(notes(),
              (std::vector<std::string>{
                  "Building only the centre object failed, so Studio tried again without it.",
                  "The first try did not work, so Studio tried again with simpler settings: "
                  "the background is kept and only USDZ is exported."}));
    const auto made = requests();
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(made[0].size(), 4u);
    EXPECT_EQ(made[1].size(), 4u);
    ASSERT_EQ(made[2].size(), 1u);
    EXPECT_EQ(made[2][0].url.filename(), "model.usdz");
    // The first attempt was fed masked samples; the later ones read the folder.
    EXPECT_EQ(replay_->record()->folders.size(), 2u);
    EXPECT_FALSE(replay_->record()->configurations[2].isObjectMaskingEnabled);
    EXPECT_FALSE(fs::exists(inputs_.checkpoint / "state"));
}

TEST_F(EngineTest, NoSpaceAndTooFewPhotosAreNotRetried) {
    placeholderPhotos(10);
    replay_->setScript(
        failing({PhotogrammetryError::Kind::insufficientStorage, 1'234'000'000, ""}));
    auto result = run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, EngineError::Kind::noSpace);
    EXPECT_EQ(
        result.error().description(),
        "This computer needs 1.2 GB more free disk space to build this model. Free up some space "
        "and press Try Again.");
    EXPECT_EQ(requests().size(), 1u);
    EXPECT_TRUE(notes().empty());
}

// Simpler settings may need less memory, so the ladder goes on; the last word names memory.
TEST_F(EngineTest, RunningOutOfMemoryEndsWithTheMemorySentenceAfterTheLadder) {
    placeholderPhotos(10);
    replay_->setScript(failing({PhotogrammetryError::Kind::insufficientMemory, 0, "bad alloc"}));
    auto result = run();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, EngineError::Kind::failed);
    EXPECT_EQ(result.error().description(),
              "This computer ran out of memory while building this model. Close other "
              "applications or choose a lower detail level, and press Try Again.");
    EXPECT_EQ(requests().size(), 2u);
}

TEST_F(EngineTest, ObjRuleForPhoneMakes) {
    placeholderPhotos(10);
    inputs_.options.exportOBJ = false;
    inputs_.manifest = manifest("Pixel 8", 10, false);
    auto other = run();
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->glb);
    EXPECT_FALSE(other->objFolder);
    EXPECT_FALSE(fs::exists(inputs_.output / "OBJ"));

    inputs_.manifest = manifest("iPhone 15 Pro", 10, false);
    auto askedOnly = run();
    ASSERT_TRUE(askedOnly);
    EXPECT_FALSE(askedOnly->glb);
    EXPECT_FALSE(askedOnly->objFolder);
    EXPECT_EQ(requests().back().size(), 2u);  // model and point cloud only
}

TEST_F(EngineTest, MotionDataGoesInSamplesUpToThreeHundredPhotos) {
    realPhotos(12);
    inputs_.manifest = manifest("Pixel 8", 12, true);
    auto result = run();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->usedMotionData);
    EXPECT_EQ(replay_->record()->sampleIds.size(), 12u);
    EXPECT_TRUE(replay_->record()->sampleGravity[0].has_value());
    EXPECT_TRUE(replay_->record()->folders.empty());
}

TEST_F(EngineTest, OverThreeHundredPhotosAreReadFromTheFolder) {
    placeholderPhotos(301);
    inputs_.manifest = manifest("Pixel 8", 301, true);
    auto result = run();
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->usedMotionData);
    EXPECT_EQ(notes(), std::vector<std::string>{"Over 300 photos: the phone's motion data and the "
                                                "stricter object option were not used, so Studio "
                                                "could read the photos straight from disk."});
    EXPECT_EQ(replay_->record()->folders.size(), 1u);
}

TEST_F(EngineTest, PointCloudThatCannotBeSavedIsANoteNotAFailure) {
    placeholderPhotos(10);
    // Once the attempt has made its staging folder, a folder stands where the cloud goes.
    auto result = PhotogrammetryEngine::run(replay_, inputs_, [this](const EngineProgress& p) {
        progress_.push_back(p);
        fs::create_directories(scratch_ / "Output.building" / "pointcloud.ply" / "in-the-way");
    });
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->pointCloud);
    EXPECT_EQ(result->pointCount, 500);
    ASSERT_EQ(notes().size(), 1u);
    EXPECT_TRUE(notes()[0].starts_with("Point cloud could not be saved: ")) << notes()[0];
}

TEST_F(EngineTest, ExtraExportErrorIsANote) {
    placeholderPhotos(10);
    ReplayScript script;
    script.steps = {
        {.kind = Kind::requestError, .request = 1, .error = PhotogrammetryError::other("disk")},
        {.kind = Kind::requestComplete, .request = 0},
        {.kind = Kind::requestComplete, .request = 2},
        {.kind = Kind::requestError, .request = 3, .error = PhotogrammetryError::other("full")},
        {.kind = Kind::processingComplete}};
    replay_->setScript(script);
    auto result = run();
    ASSERT_TRUE(result) << result.error().description();
    EXPECT_FALSE(result->glb);
    EXPECT_FALSE(result->objFolder);
    EXPECT_EQ(notes(),
              (std::vector<std::string>{"One of the extra exports could not be made.",
                                        "The GLB copy for Android could not be made: full"}));
}

TEST_F(EngineTest, MainModelErrorAndEndsWithoutCompletion) {
    placeholderPhotos(10);
    ReplayScript script;
    script.steps = {{.kind = Kind::requestError,
                     .request = 0,
                     .error = {PhotogrammetryError::Kind::invalidImages, 0, "bad"}},
                    {.kind = Kind::processingComplete}};
    replay_->setScript(script);
    auto bad = PhotogrammetryEngine::attempt(replay_, inputs_, inputs_.options, false, nullptr);
    ASSERT_FALSE(bad);
    EXPECT_EQ(PhotogrammetryEngine::mapError(bad.error()).description(),
              "Studio could not read these photos. Use sharp HEIC, JPEG, PNG or TIFF "
              "photos of one object.");

    script.steps = {{.kind = Kind::inputComplete}};
    replay_->setScript(script);
    auto stopped = PhotogrammetryEngine::attempt(replay_, inputs_, inputs_.options, false, nullptr);
    ASSERT_FALSE(stopped);
    EXPECT_EQ(PhotogrammetryEngine::mapError(stopped.error()),
              EngineError::failed("Processing stopped unexpectedly."));
}

TEST_F(EngineTest, CancellationLeavesThePreviousOutputAlone) {
    placeholderPhotos(10);
    testing::writeFile(inputs_.output / "model.usdz", "the previous model");
    replay_->setScript(ReplayScript::successfulRun(2));
    std::stop_source stop;
    std::atomic<bool> started = false;
    std::jthread canceller([&] {
        while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop.request_stop();
    });
    auto result = PhotogrammetryEngine::run(
        replay_, inputs_, [&](const EngineProgress&) { started = true; }, stop.get_token());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), EngineError::cancelled());
    EXPECT_EQ(requests().size(), 1u);
    EXPECT_EQ(testing::readText(inputs_.output / "model.usdz"), "the previous model");
}

// A file-system failure is the generic failure, whatever the system said.
TEST(EngineErrors, AFileSystemFailureIsTheGenericFailure) {
    EXPECT_EQ(
        PhotogrammetryEngine::mapError(AttemptError(FileSystemFailure{"Permission denied"})),
        EngineError::failed("These photos could not be turned into a 3D model. Studio "
                            "needs 20 or more overlapping photos of one object, taken all the "
                            "way around it. Separate photos of different things cannot be "
                            "joined."));
}

TEST(EngineSupport, UnsupportedServiceFailsAtOnce) {
    pelorin::testing::ScratchFolder scratch;
    ReplayScript script = ReplayScript::successfulRun(0);
    script.supported = false;
    auto service = std::make_shared<ReplayBackend>(script);
    Inputs inputs{scratch / "Images", std::nullopt, {}, scratch / "Output", scratch / "Checkpoint"};
    auto result = PhotogrammetryEngine::run(service, inputs, nullptr);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), EngineError::notSupported());
    EXPECT_FALSE(PhotogrammetryEngine::isSupported(*service));
}

}  // namespace
}  // namespace pelorin::engine
