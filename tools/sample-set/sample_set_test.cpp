#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "link/records/record_coding.h"
#include "tools/sample-set/sample_capture.h"

using namespace pelorin;

namespace {

// A camera on a ring around the origin looking at it, column by column.
evaluation::TruthView ringView(const std::string& name, double azimuth) {
    evaluation::TruthView view;
    view.name = name;
    const double c = std::cos(azimuth), s = std::sin(azimuth);
    // z axis points away from the object, x to the right, y up.
    view.cameraTransform = {-s, 0, c, 0, 0, 1, 0, 0, c, 0, s, 0, 0.7 * c, 0.2, 0.7 * s, 1};
    view.intrinsics = {1244.4, 0, 0, 0, 1244.4, 0, 640, 480, 1};
    view.gravity = {0, -1, 0};
    return view;
}

double angleDegrees(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double na = std::hypot(a[0], a[1], a[2]), nb = std::hypot(b[0], b[1], b[2]);
    return std::acos(std::clamp(dot / (na * nb), -1.0, 1.0)) * 180 / std::numbers::pi;
}

}  // namespace

TEST(SampleManifestTest, ReadsBackValidWithPhoneLikeNoiseOnTheTruth) {
    evaluation::TruthCameras truth;
    truth.width = 1280;
    truth.height = 960;
    truth.objectBounds = link::ObjectBounds{{0, 0.23f, 0}, 0.15f, 0.3f};
    for (int i = 0; i < 72; ++i)
        truth.views.push_back(ringView("IMG_" + std::to_string(1001 + i).substr(1) + ".jpg",
                                       2 * std::numbers::pi * i / 72));
    std::vector<std::int64_t> bytes(72, 123456);
    const auto manifest = samples::makeSampleManifest(truth, bytes);

    auto decoded = link::makeRecordDecoder().decode<link::CaptureManifest>(
        link::makeRecordEncoder().encode(manifest));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded.value(), manifest);
    EXPECT_EQ(manifest.validationMessage(), std::nullopt);
    EXPECT_EQ(manifest.name, "Statue");
    EXPECT_EQ(manifest.deviceModel, "Pixel 8");
    EXPECT_EQ(manifest.captureMode, link::CaptureMode::arGuided);
    EXPECT_EQ(manifest.options, link::ProcessingOptions{});
    EXPECT_EQ(manifest.objectBounds, truth.objectBounds);
    ASSERT_EQ(manifest.images.size(), 72u);

    double positionSquares = 0, gravitySquares = 0, axisSquares = 0;
    for (std::size_t i = 0; i < 72; ++i) {
        const auto& record = manifest.images[i];
        const auto& view = truth.views[i];
        EXPECT_EQ(record.fileName, view.name);
        EXPECT_EQ(record.bytes, 123456);
        if (i) {
            EXPECT_GT(record.capturedAt, manifest.images[i - 1].capturedAt);
        }
        const auto& m = *record.cameraTransform;
        ASSERT_EQ(m.size(), 16u);
        ASSERT_EQ(record.intrinsics->size(), 9u);
        EXPECT_FLOAT_EQ((*record.intrinsics)[6], 640);
        // The noisy rotation stays a rotation.
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(std::hypot(m[a * 4], m[a * 4 + 1], m[a * 4 + 2]), 1.0, 1e-5);
            EXPECT_NEAR(m[a * 4 + 3], 0.0, 0.0);
        }
        for (int row = 0; row < 3; ++row)
            positionSquares += std::pow(m[12 + row] - view.cameraTransform[12 + row], 2);
        const std::array<double, 3> gravity = {record.gravity->x, record.gravity->y,
                                               record.gravity->z};
        gravitySquares += std::pow(angleDegrees(gravity, view.gravity), 2);
        axisSquares += std::pow(
            angleDegrees({m[8], m[9], m[10]}, {view.cameraTransform[8], view.cameraTransform[9],
                                               view.cameraTransform[10]}),
            2);
    }
    // About 1 cm and half a degree, neither zero nor wild.
    EXPECT_NEAR(std::sqrt(positionSquares / 72), 0.01, 0.003);
    EXPECT_NEAR(std::sqrt(gravitySquares / 72), 0.5, 0.25);
    EXPECT_NEAR(std::sqrt(axisSquares / 72), 0.5, 0.25);
}
