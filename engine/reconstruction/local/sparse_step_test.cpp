#include "engine/reconstruction/local/sparse_step.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "engine/reconstruction/local/colmap/colmap_database.h"
#include "tests/support/noise_images.h"
#include "tests/support/step_folder.h"

namespace pelorin::engine::local {
namespace {

namespace fs = std::filesystem;

// Working images of one blurred-noise scene seen a few pixels apart, each with the right half
// masked out when `masked`.
PreparedImages workingImages(const fs::path& checkpoint, const std::vector<bool>& masked) {
    fs::create_directories(checkpoint / "images");
    fs::create_directories(checkpoint / "masks");
    const cv::Mat scene = pelorin::testing::blurredNoise({400, 300}, 11);
    PreparedImages prepared;
    for (std::size_t i = 0; i < masked.size(); ++i) {
        const std::string name = "photo" + std::to_string(i) + ".jpg";
        const cv::Mat photo = scene(cv::Rect(int(i) * 8, int(i) * 5, 320, 240));
        EXPECT_TRUE(cv::imwrite((checkpoint / "images" / name).string(), photo));
        if (masked[i]) {
            cv::Mat mask = cv::Mat::zeros(photo.size(), CV_8U);
            mask(cv::Rect(0, 0, 160, 240)).setTo(255);
            EXPECT_TRUE(cv::imwrite((checkpoint / "masks" / (name + ".png")).string(), mask));
        }
        prepared.images.push_back({.id = std::int64_t(i),
                                   .name = name,
                                   .width = 320,
                                   .height = 240,
                                   .focalPixels = 300.0,
                                   .masked = masked[i]});
    }
    return prepared;
}

// The features step runs before matching and mapping, whatever becomes of them: these photos of
// a flat scene need not make a model.
void runUntilTheModel(const StepContext& context, const PreparedImages& prepared) {
    try {
        runSparseSteps(context, {}, prepared, {});
    } catch (const StepFailure&) {
    }
}

TEST(SparseStep, FeaturesComeFromInsideEachPhotosMaskAndReachCOLMAPsDatabase) {
    pelorin::testing::StepFolder folder;
    const auto prepared = workingImages(folder.checkpoint.folder(), {true, false, true});
    runUntilTheModel(folder.context, prepared);
    ASSERT_TRUE(folder.context.done(Step::features));
    auto photos = readFeatures(folder.checkpoint / "database.db");
    ASSERT_TRUE(photos) << photos.error();
    ASSERT_EQ(photos->size(), 3u);
    for (std::size_t i = 0; i < photos->size(); ++i) {
        const auto& photo = (*photos)[i];
        EXPECT_EQ(photo.name, prepared.images[i].name);
        ASSERT_GT(photo.points.size(), 50u) << photo.name;
        float right = 0;
        for (const auto& point : photo.points) right = std::max(right, point.x);
        if (prepared.images[i].masked)
            EXPECT_LT(right, 161) << photo.name;
        else
            EXPECT_GT(right, 250) << photo.name;
    }
    // COLMAP's importer read only empty files, which are gone.
    EXPECT_FALSE(fs::exists(folder.checkpoint / "features"));
}

TEST(SparseStep, AMissingWorkingPhotoFailsTheFeaturesWithItsName) {
    pelorin::testing::StepFolder folder;
    const auto prepared = workingImages(folder.checkpoint.folder(), {false, false});
    fs::remove(folder.checkpoint / "images" / "photo1.jpg");
    try {
        runSparseSteps(folder.context, {}, prepared, {});
        ADD_FAILURE() << "the step went on without a photo";
    } catch (const StepFailure& failure) {
        EXPECT_EQ(failure.error.description, "a working photo is missing or resized: photo1.jpg");
    }
    EXPECT_FALSE(folder.context.done(Step::features));
}

}  // namespace
}  // namespace pelorin::engine::local
