#include <cmath>
#include <numbers>

#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <opencv2/imgcodecs.hpp>

#include "engine/photos/photo_exif.h"
#include "link/records/record_coding.h"
#include "tools/sample-set/sample_capture.h"

using namespace pelorin;

namespace {

std::string exifText(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (!entry) return "<missing>";
    char value[256];
    exif_entry_get_value(entry, value, sizeof value);
    return value;
}

std::vector<std::uint8_t> smallJpeg() {
    cv::Mat image(48, 64, CV_8UC3, cv::Scalar(40, 90, 160));
    std::vector<std::uint8_t> jpeg;
    cv::imencode(".jpg", image, jpeg);
    return jpeg;
}

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

TEST(SampleExifTest, AnIndependentReaderFindsTheLensAndTheImageStillDecodes) {
    engine::ExifFields fields{"Google", "Pixel 8", "2026:11:14 09:30:00", 35.0, 35, 64, 48};
    auto photo = engine::withExif(smallJpeg(), engine::makeExifSegment(fields));
    ASSERT_TRUE(photo);
    ExifData* data = exif_data_new_from_data(photo->data(), static_cast<unsigned>(photo->size()));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(exifText(data, EXIF_IFD_0, EXIF_TAG_MAKE), "Google");
    EXPECT_EQ(exifText(data, EXIF_IFD_0, EXIF_TAG_MODEL), "Pixel 8");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2026:11:14 09:30:00");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH), "35.0 mm");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM), "35");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), "64");
    exif_data_unref(data);

    // Exactly one application segment, ours, right after the start of the image.
    EXPECT_EQ((*photo)[2], 0xFF);
    EXPECT_EQ((*photo)[3], 0xE1);
    const std::size_t length = ((*photo)[4] << 8) | (*photo)[5];
    EXPECT_FALSE((*photo)[4 + length] == 0xFF && ((*photo)[5 + length] & 0xF0) == 0xE0);
    const cv::Mat decoded = cv::imdecode(*photo, cv::IMREAD_COLOR);
    EXPECT_EQ(decoded.cols, 64);
    EXPECT_EQ(decoded.rows, 48);
}

TEST(SampleExifTest, RefusesWhatIsNotAJpegOrRunsPastItsEnd) {
    const auto segment = engine::makeExifSegment({});
    EXPECT_EQ(engine::withExif(std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'}, segment).error(),
              "not a JPEG image");
    // An APP0 segment announcing more bytes than there are.
    const std::vector<std::uint8_t> cut = {0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00, 'J', 'F'};
    EXPECT_EQ(engine::withExif(cut, segment).error(), "a JPEG segment runs past the end");
}

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
