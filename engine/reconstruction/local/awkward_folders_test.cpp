// Folders as people drop them, made from the reduced statue: every photo is read upright at its
// own size whatever its format, and every folder builds with each of the object's sharp photos
// in the model, in the same process, which nothing ends.
#include <map>
#include <set>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/files/file_reader.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/local_backend.h"
#include "engine/reconstruction/photo_sample.h"
#include "engine/reconstruction/photogrammetry_engine.h"
#include "tests/support/awkward_photos.h"
#include "tests/support/scratch_folder.h"

using namespace pelorin;
using namespace pelorin::engine;
using pelorin::testing::Awkwardness;
namespace fs = std::filesystem;

namespace {

const fs::path reducedSet = fs::path(PELORIN_TEST_DATA) / "statue-reduced" / "photos";

cv::Mat grey(const cv::Mat& image) {
    cv::Mat out;
    cv::cvtColor(image, out, cv::COLOR_BGR2GRAY);
    return out;
}

// The source photos each registered photo came from, by the run's own records.
std::set<std::string> registeredSources(const fs::path& checkpoint) {
    const fs::path local = checkpoint / "local";
    std::set<std::string> sources;
    auto model = common::readFile(local / "model.txt", 4096);
    auto prepared = common::readFile(local / "prepared.json", 1 << 20);
    if (!model || !prepared) return sources;
    const std::string text(model->text());
    const std::string name = text.substr(0, text.find('\n'));
    auto names = local::readRegisteredNames(local / "sparse_text" / name);
    if (!names) return sources;
    std::map<std::string, std::string> sourceOf;
    const auto records = nlohmann::json::parse(prepared->text());
    for (const auto& image : records["images"])
        sourceOf[image["name"].get<std::string>()] = image["source"].get<std::string>();
    for (const auto& registered : *names) sources.insert(sourceOf[registered]);
    return sources;
}

// Builds `photos` at preview as a folder dropped on the window is built, inside `work`.
pelorin::Expected<EngineOutput, EngineError> buildDropped(const fs::path& photos,
                                                          const fs::path& work) {
    PhotogrammetryEngine::Inputs inputs;
    inputs.images = photos;
    inputs.options = link::folderImportOptions();
    inputs.options.detail = link::ProcessingDetail::preview;
    inputs.output = work / "Output";
    inputs.checkpoint = work / "Checkpoint";
    return PhotogrammetryEngine::run(std::make_shared<local::LocalBackend>(), inputs, {});
}

}  // namespace

// Every kind that changes a photo, two photos each, and the added files: each photo decodes
// upright, in colour, showing its part of the source; the damaged ones are refused or decode
// without ending anything.
TEST(AwkwardPhotos, EveryKindIsReadUprightInColourAtItsOwnSize) {
    pelorin::testing::ScratchFolder folder;
    std::vector<Awkwardness> kinds;
    for (const auto& entry : pelorin::testing::awkwardNames()) kinds.push_back(entry.kind);
    const auto made = pelorin::testing::makeAwkwardFolder(reducedSet, folder.path(), kinds);

    std::set<Awkwardness> checked;
    for (const auto& photo : made) {
        SCOPED_TRACE(photo.file);
        auto sample = loadPhotoSample(folder / photo.file);
        if (photo.kind == Awkwardness::damaged) {
            if (photo.file == "empty.jpg") {
                EXPECT_FALSE(sample);
            }
            continue;
        }
        ASSERT_TRUE(sample) << sample.error().description;
        ASSERT_EQ(sample->image.channels, 3);
        const cv::Mat read(sample->image.height, sample->image.width, CV_8UC3,
                           sample->image.data.data(), sample->image.bytesPerRow);
        if (!photo.source) continue;
        const cv::Mat source = cv::imread(photo.source->string(), cv::IMREAD_COLOR);
        const cv::Mat expected = grey(source(photo.region));
        // Upright: the decoded shape is the region's, up to the file's own scale.
        const double aspect = double(read.cols) / read.rows;
        EXPECT_NEAR(aspect, double(expected.cols) / expected.rows, 0.01);
        cv::Mat back;
        cv::resize(grey(read), back, expected.size(), 0, 0, cv::INTER_AREA);
        const double difference = cv::norm(back, expected, cv::NORM_L1) / expected.total();
        // Blur spreads the picture but keeps it in place; everything else stays close.
        EXPECT_LT(difference, photo.kind == Awkwardness::motionBlur ? 12.0 : 4.0);
        checked.insert(photo.kind);
    }
    EXPECT_EQ(checked.size(), kinds.size() - 2);  // all but the other object and the damaged
}

struct AwkwardFolderCase {
    const char* name;
    std::vector<Awkwardness> kinds;
};

class AwkwardFolderBuild : public ::testing::TestWithParam<AwkwardFolderCase> {};

// A folder dropped on the window builds, with each of the object's sharp photos in the model;
// copies, blurred photos, another object and damaged files may be left out.
TEST_P(AwkwardFolderBuild, BuildsWithEveryPhotoOfTheObject) {
    pelorin::testing::ScratchFolder folder;
    const fs::path photos = folder / "Dropped";
    const auto made = pelorin::testing::makeAwkwardFolder(reducedSet, photos, GetParam().kinds);

    auto result = buildDropped(photos, folder.path());
    ASSERT_TRUE(result) << result.error().description();
    EXPECT_TRUE(fs::is_regular_file(folder / "Output" / result->usdz));

    const auto registered = registeredSources(folder / "Checkpoint");
    ASSERT_FALSE(registered.empty()) << "the run's records of its model are missing";
    int sharp = 0;
    for (const auto& photo : made) {
        if (!photo.mustRegister) continue;
        ++sharp;
        EXPECT_TRUE(registered.count(photo.file)) << photo.file << " is not in the model";
    }
    EXPECT_EQ(sharp, 24);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, AwkwardFolderBuild,
    // Two builds hold every kind: how a photo is stored, and what else the folder holds.
    ::testing::Values(
        AwkwardFolderCase{"TurnedOddDeepAndTransparentBesideDamagedFiles",
                          {Awkwardness::turned3, Awkwardness::turned6, Awkwardness::turned8,
                           Awkwardness::portraitOdd, Awkwardness::greyscale, Awkwardness::png16,
                           Awkwardness::tiff16, Awkwardness::pngAlpha, Awkwardness::damaged}},
        AwkwardFolderCase{"LargeTwoLensesCopiesBlurAndAnotherObject",
                          {Awkwardness::twoLenses, Awkwardness::upscale12, Awkwardness::plain,
                           Awkwardness::upscale48, Awkwardness::duplicates, Awkwardness::motionBlur,
                           Awkwardness::otherObject}}),
    [](const auto& info) { return std::string(info.param.name); });

// The real captures kept beside the project, when they are there: each builds as a dropped
// folder, with most of its photos in the model.
TEST(RealCaptures, EachBuildsAsADroppedFolder) {
    const fs::path real = fs::path(PELORIN_SOURCE_DIR).parent_path() / "shared/testdata/real";
    if (!fs::is_directory(real)) GTEST_SKIP() << "no real photo sets in " << real;
    for (const auto& set : fs::directory_iterator(real)) {
        if (!set.is_directory()) continue;
        SCOPED_TRACE(set.path().filename().string());
        pelorin::testing::ScratchFolder folder;
        const auto result = buildDropped(set.path(), folder.path());
        ASSERT_TRUE(result) << result.error().description();
        const auto photos = PhotogrammetryEngine::photoURLs(set.path()).size();
        EXPECT_LE(std::size_t(result->skippedImages), photos / 5);
    }
}
