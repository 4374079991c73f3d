#include "engine/capture/capture_sample_sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <opencv2/imgcodecs.hpp>

#include "engine/reconstruction/replay/replay_backend.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

namespace fs = std::filesystem;

// Camera at the origin looking down -z, y up: the identity transform.
const std::vector<float> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
// fx = fy = 500, principal point (320, 240), for a 640 x 480 photo.
const std::vector<float> intrinsics = {500, 0, 0, 0, 500, 0, 320, 240, 1};

link::ObjectBounds bounds(float z, float radius, float height) {
    return {{0, 0, z}, radius, height};
}

TEST(MaskRegion, ProjectsTheCylinder) {
    auto region = maskRegion(bounds(-2, 0.5f, 1), identity, intrinsics, 640, 480);
    ASSERT_TRUE(region);
    // Sideways, the widest of the sixteen rim points sits 22.5 degrees towards the camera; up and
    // down, the rim's nearest point (1.5 m away) reaches furthest.
    const double a = std::numbers::pi / 8;
    const double halfWidth = 500 * 0.5 * std::cos(a) / (2 - 0.5 * std::sin(a));
    EXPECT_NEAR(region->x, (320 - halfWidth) / 640, 1e-6);
    EXPECT_NEAR(region->width, 2 * halfWidth / 640, 1e-6);
    EXPECT_NEAR(region->y, (240 - 500 * 0.5 / 1.5) / 480, 1e-6);
    EXPECT_NEAR(region->height, 2 * 500 * 0.5 / 1.5 / 480, 1e-6);
    const double area = region->width * region->height;
    EXPECT_GT(area, 0.01);
    EXPECT_LT(area, 0.95);
}

TEST(MaskRegion, GivesUpOnWhatCannotBeUsed) {
    // Filling more than 95% of the photo, or less than 1%.
    EXPECT_FALSE(maskRegion(bounds(-1.2f, 1, 2), identity, intrinsics, 640, 480));
    EXPECT_FALSE(maskRegion(bounds(-40, 0.1f, 0.2f), identity, intrinsics, 640, 480));
    // One point of the rim 5 mm in front of the camera.
    EXPECT_FALSE(maskRegion(bounds(-0.505f, 0.5f, 0.2f), identity, intrinsics, 640, 480));
    // Behind the camera.
    EXPECT_FALSE(maskRegion(bounds(2, 0.5f, 1), identity, intrinsics, 640, 480));
    // Wrong shapes.
    EXPECT_FALSE(maskRegion({{0, 0}, 0.5f, 1}, identity, intrinsics, 640, 480));
    EXPECT_FALSE(maskRegion(bounds(-2, 0.5f, 1), std::vector<float>(15, 0), intrinsics, 640, 480));
    EXPECT_FALSE(maskRegion(bounds(-2, 0.5f, 1), identity, std::vector<float>(8, 0), 640, 480));
    EXPECT_FALSE(maskRegion(bounds(-2, 0.5f, 1), identity, intrinsics, 0, 480));
}

// A segmenter that finds one instance covering the whole image, or none.
class FixedSegmenter : public ObjectSegmenter {
  public:
    explicit FixedSegmenter(bool finds) : finds_(finds) {}
    std::unique_ptr<Segmentation> segment(const PixelBuffer& image,
                                          const std::optional<NormalizedRegion>&) const override {
        if (!finds_) return nullptr;
        return std::make_unique<Whole>(image.width, image.height);
    }

  private:
    class Whole : public Segmentation {
      public:
        Whole(int width, int height) : width_(width), height_(height) {
            labels_ = {width, height, 1, static_cast<std::size_t>(width),
                       std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, 1)};
        }
        const PixelBuffer& labels() const override { return labels_; }
        int instanceCount() const override { return 1; }
        std::optional<PixelBuffer> scaledMask(int) const override { return labels_; }

      private:
        int width_, height_;
        PixelBuffer labels_;
    };
    bool finds_;
};

class SampleSequence : public ::testing::Test {
  protected:
    SampleSequence() {
        cv::Mat image(24, 32, CV_8UC3, cv::Scalar(10, 20, 30));
        for (int i = 0; i < 10; ++i) {
            const auto path = scratch_ / ("IMG_" + std::to_string(i) + ".jpg");
            if (i == 3) {
                testing::writeFile(path, "not a photo");
            } else {
                cv::imwrite(path.string(), image);
            }
            urls_.push_back(path);
        }
    }

    std::vector<PhotogrammetrySample> drain(const CaptureSampleSequence& sequence) {
        std::vector<PhotogrammetrySample> samples;
        auto next = sequence.makeIterator();
        while (auto sample = next()) samples.push_back(std::move(*sample));
        EXPECT_FALSE(next());
        return samples;
    }

    pelorin::testing::ScratchFolder scratch_;
    std::vector<fs::path> urls_;
    std::shared_ptr<ReplayBackend> service_ = std::make_shared<ReplayBackend>();
};

TEST_F(SampleSequence, SkipsUnreadablePhotosAndKeepsPositionsAsIds) {
    const std::map<std::string, link::Vector3> gravity = {{"IMG_1.jpg", {0, -1, 0}}};
    auto counter = std::make_shared<Counter>();
    CaptureSampleSequence sequence(urls_, gravity, false, counter, std::nullopt, {}, service_);
    const auto samples = drain(sequence);
    std::vector<std::int64_t> ids;
    for (const auto& sample : samples) ids.push_back(sample.id);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(samples[1].gravity, (std::array<double, 3>{0, -1, 0}));
    EXPECT_FALSE(samples[0].gravity);
    EXPECT_EQ(samples[0].image.width, 32);
    EXPECT_FALSE(samples[0].objectMask);
    EXPECT_EQ(counter->count(), 0);
    // Each iterator starts from the beginning.
    EXPECT_EQ(drain(sequence).size(), 9u);
}

TEST_F(SampleSequence, MasksAreCountedOnlyWhenMade) {
    auto counter = std::make_shared<Counter>();
    CaptureSampleSequence none(urls_, {}, true, counter, std::nullopt, {}, service_,
                               std::make_shared<FixedSegmenter>(false));
    for (const auto& sample : drain(none)) EXPECT_FALSE(sample.objectMask);
    EXPECT_EQ(counter->count(), 0);

    CaptureSampleSequence masked(urls_, {}, true, counter, std::nullopt, {}, service_,
                                 std::make_shared<FixedSegmenter>(true));
    for (const auto& sample : drain(masked)) {
        ASSERT_TRUE(sample.objectMask);
        EXPECT_EQ(sample.objectMask->width, sample.image.width);
    }
    EXPECT_EQ(counter->count(), 9);
}

}  // namespace
}  // namespace pelorin::engine
