#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/files/file_reader.h"
#include "engine/photos/photo_exif.h"
#include "engine/reconstruction/local/local_backend.h"
#include "engine/reconstruction/local/reconstruction_pipeline.h"
#include "engine/reconstruction/photo_sample.h"
#include "engine/reconstruction/photogrammetry_engine.h"
#include "tests/support/phone_photos.h"
#include "tests/support/scratch_folder.h"

using namespace pelorin;
using namespace pelorin::engine;
namespace fs = std::filesystem;

namespace {

const fs::path reducedSet = fs::path(PELORIN_TEST_DATA) / "statue-reduced" / "photos";

PhotogrammetryEngine::Inputs inputsFor(const fs::path& photos, const fs::path& work) {
    PhotogrammetryEngine::Inputs inputs;
    inputs.images = photos;
    inputs.options.detail = link::ProcessingDetail::preview;
    inputs.output = work / "Output";
    inputs.checkpoint = work / "Checkpoint";
    return inputs;
}

void copyFolder(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(from))
        fs::copy_file(entry.path(), to / entry.path().filename());
}

}  // namespace

TEST(LocalBackendInputsTest, UnrelatedPhotosFailWithTheUnreadablePhotosText) {
    pelorin::testing::ScratchFolder folder;
    const fs::path photos = folder / "Unrelated";
    fs::create_directories(photos);
    // Twenty scenes that share nothing: each its own random shapes on its own noise.
    for (int i = 0; i < 20; ++i) {
        cv::RNG random(1000 + i);
        cv::Mat image(480, 640, CV_8UC3);
        random.fill(image, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(image, image, {0, 0}, 2);
        for (int s = 0; s < 30; ++s) {
            cv::circle(image, {random.uniform(0, 640), random.uniform(0, 480)},
                       random.uniform(5, 60),
                       {double(random.uniform(0, 255)), double(random.uniform(0, 255)),
                        double(random.uniform(0, 255))},
                       -1);
        }
        char name[32];
        std::snprintf(name, sizeof name, "photo_%02d.jpg", i);
        cv::imwrite((photos / name).string(), image);
    }
    auto service = std::make_shared<local::LocalBackend>();
    auto result = PhotogrammetryEngine::run(service, inputsFor(photos, folder.path()), {});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, EngineError::Kind::failed);
    EXPECT_EQ(result.error().text,
              "Studio could not read these photos. Use sharp HEIC, JPEG, PNG or TIFF "
              "photos of one object.");
}

TEST(LocalBackendInputsTest, ACorruptPhotoIsSkippedWithItsNoteAndTheModelStillComes) {
    pelorin::testing::ScratchFolder folder;
    const fs::path photos = folder / "Statue";
    copyFolder(reducedSet, photos);
    // The sixth photo in name order is no image at all.
    pelorin::testing::writeFile(photos / "IMG_0030.jpg", "this is not a photo");
    auto inputs = inputsFor(photos, folder.path());
    // Without motion data the backend reads the folder itself and names what it skipped.
    inputs.options.useMotionData = false;
    std::vector<std::string> notes;
    auto service = std::make_shared<local::LocalBackend>();
    auto result = PhotogrammetryEngine::run(service, inputs, [&](const EngineProgress& p) {
        if (p.note) notes.push_back(*p.note);
    });
    ASSERT_TRUE(result) << result.error().description();
    EXPECT_NE(std::find(notes.begin(), notes.end(), "Photo 6 could not be used and was skipped."),
              notes.end());
    EXPECT_GE(result->skippedImages, 1);
    EXPECT_TRUE(fs::is_regular_file(inputs.output / result->usdz));
}

// Photos straight from phones in a folder: portrait and landscape, turned by their Exif, HEIC
// beside JPEG, no capture.json. Each is read upright, starts at its lens's focal length, and
// the model comes with every photo in it.
TEST(LocalBackendInputsTest, PhonePhotosInAFolderAreReadUprightWithTheirLensAndAllBuildTheModel) {
    pelorin::testing::ScratchFolder folder;
    const fs::path photos = folder / "Phone";
    const auto made = pelorin::testing::makePhonePhotos(reducedSet, photos);
    ASSERT_FALSE(made.sideways.empty() || made.portrait.empty() || made.heic.empty());

    const auto upright = [](const fs::path& file) {
        auto sample = loadPhotoSample(file);
        EXPECT_TRUE(sample) << file;
        return sample ? cv::Mat(sample->image.height, sample->image.width, CV_8UC3,
                                sample->image.data.data())
                            .clone()
                      : cv::Mat();
    };
    const fs::path turned = made.sideways.front();
    const cv::Mat original = cv::imread((reducedSet / turned).string());
    const cv::Mat read = upright(photos / turned);
    ASSERT_EQ(read.size(), original.size());
    EXPECT_LT(cv::norm(read, original, cv::NORM_L1) / read.total() / 3, 4.0);
    const cv::Mat heic = upright(photos / made.heic.front());
    EXPECT_EQ(heic.size(), original.size());
    const auto heicExif = engine::readExif(photos / made.heic.front());
    ASSERT_TRUE(heicExif);
    EXPECT_EQ(heicExif->focalLength35mm, engine::readExif(reducedSet / turned)->focalLength35mm);

    auto inputs = inputsFor(photos, folder.path());
    inputs.options = link::folderImportOptions();
    inputs.options.detail = link::ProcessingDetail::preview;
    auto result = PhotogrammetryEngine::run(std::make_shared<local::LocalBackend>(), inputs, {});
    ASSERT_TRUE(result) << result.error().description();
    EXPECT_EQ(result->skippedImages, 0);
    EXPECT_TRUE(local::matchingUsed(inputs.checkpoint)->starts_with("likely pairs: "));
    // Every photo started from its Exif lens, the portrait ones at the same focal length in
    // pixels as the rest (all working images are the same scale of their photos here).
    auto prepared = common::readFile(inputs.checkpoint / "local" / "prepared.json", 1 << 20);
    ASSERT_TRUE(prepared);
    const auto images = nlohmann::json::parse(prepared->text())["images"];
    ASSERT_EQ(images.size(), 24u);
    const double focal = images[0]["focalPixels"].get<double>();
    for (const auto& image : images) {
        ASSERT_TRUE(image.contains("focalPixels")) << image.dump();
        EXPECT_NEAR(image["focalPixels"].get<double>(), focal, 0.02 * focal) << image.dump();
    }
}

TEST(LocalBackendInputsTest, AFullDiskGivesTheNoSpaceText) {
    pelorin::testing::ScratchFolder folder;
    const fs::path disk = folder / "Disk";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=3m") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root: " << std::strerror(errno);
    auto service = std::make_shared<local::LocalBackend>();
    auto result = PhotogrammetryEngine::run(service, inputsFor(reducedSet, disk), {});
    umount2(disk.c_str(), MNT_DETACH);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, EngineError::Kind::noSpace);
    EXPECT_TRUE(result.error().text.starts_with("This computer needs ")) << result.error().text;
    EXPECT_TRUE(result.error().text.ends_with(
        " more free disk space to build this model. Free up some space and press Try Again."))
        << result.error().text;
}

// OpenCV, JSON and file-system code in a step may throw on the session's thread: the run must
// end as a failed request, not end the program with every phone connection.
TEST(LocalBackendInputsTest, AnExceptionInAStepFailsTheRunInsteadOfTheProgram) {
    pelorin::testing::ScratchFolder folder;
    local::LocalBackend backend;
    ASSERT_TRUE(backend.isSupported());
    PhotogrammetryConfiguration configuration;
    configuration.checkpointDirectory = folder / "Checkpoint";
    SampleSource throwing = []() -> std::optional<PhotogrammetrySample> {
        throw std::runtime_error("the decoder gave up");
    };
    auto session = backend.makeSession(throwing, configuration);
    ASSERT_TRUE(session);
    const auto request =
        PhotogrammetryRequest::modelFile(folder / "model.usdz", RequestDetail::preview);
    ASSERT_FALSE((*session)->process({request}));
    std::vector<PhotogrammetryEvent> seen;
    while (auto event = (*session)->nextEvent()) {
        if (!event.value()) break;
        seen.push_back(std::move(*event.value()));
    }
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<events::ProcessingComplete>(seen.back()));
    const auto* failed = std::get_if<events::RequestError>(&seen[seen.size() - 2]);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->error.description, "the decoder gave up");
}
