// Photos far larger than needed are decoded smaller by the JPEG decoder itself, upright and
// showing the same picture, and say by how much; everything else is decoded whole.
#include "engine/reconstruction/photo_sample.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include "common/files/file_reader.h"
#include "engine/photos/photo_exif.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

namespace fs = std::filesystem;

// A picture with large shapes that survive any scaling, stored `width` x `height`.
cv::Mat picture(int width, int height) {
    cv::Mat image(height, width, CV_8UC3, cv::Scalar(40, 90, 160));
    cv::rectangle(image, {0, 0, width / 3, height / 2}, cv::Scalar(230, 230, 230), cv::FILLED);
    cv::circle(image, {width * 2 / 3, height * 2 / 3}, height / 5, cv::Scalar(20, 200, 60),
               cv::FILLED);
    return image;
}

// Writes the picture as a JPEG with the Exif orientation given.
fs::path writeJpeg(const fs::path& file, const cv::Mat& image, std::uint16_t orientation) {
    std::vector<std::uint8_t> bytes;
    cv::imencode(".jpg", image, bytes, {cv::IMWRITE_JPEG_QUALITY, 92});
    const auto segment = makeExifSegment({.orientation = orientation});
    const auto withFields = withExif(bytes, segment).value();
    pelorin::testing::writeFile(file, std::string(withFields.begin(), withFields.end()));
    return file;
}

cv::Mat matOf(const PhotogrammetrySample& sample) {
    return cv::Mat(sample.image.height, sample.image.width, CV_8UC3,
                   const_cast<std::uint8_t*>(sample.image.data.data()), sample.image.bytesPerRow);
}

TEST(PhotoSample, ALargeJpegIsDecodedSmallerNeverBelowWhatIsAskedAndUpright) {
    pelorin::testing::ScratchFolder folder;
    const cv::Mat stored = picture(2480, 1860);
    struct Case {
        const char* name;
        std::uint16_t orientation;
        int leastLongSide;
        cv::Size decoded;  // upright
        double scale;
    };
    const std::vector<Case> cases{
        {"whole without a size", 1, 0, {2480, 1860}, 1},
        {"whole when half is too small", 1, 1300, {2480, 1860}, 1},
        {"half", 1, 1240, {1240, 930}, 0.5},
        {"a quarter", 1, 600, {620, 465}, 0.25},
        {"an eighth at most", 1, 10, {310, 233}, 310.0 / 2480},
        {"a quarter, turned by its Exif", 6, 600, {465, 620}, 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = writeJpeg(folder / (std::string(c.name) + ".jpg"), stored, c.orientation);
        EXPECT_EQ(jpegFrameSize(file), (std::pair{2480, 1860}));
        const auto sample = loadPhotoSample(file, c.leastLongSide);
        ASSERT_TRUE(sample) << sample.error().description;
        const cv::Mat read = matOf(*sample);
        EXPECT_EQ(read.size(), c.decoded);
        EXPECT_DOUBLE_EQ(sample->decodedScale, c.scale);
        // The same picture as the whole photo scaled down and stood up.
        cv::Mat expected;
        cv::resize(stored, expected, {}, c.scale, c.scale, cv::INTER_AREA);
        if (c.orientation == 6) cv::rotate(expected, expected, cv::ROTATE_90_CLOCKWISE);
        cv::resize(expected, expected, read.size(), 0, 0, cv::INTER_AREA);
        EXPECT_LT(cv::norm(read, expected, cv::NORM_L1) / read.total() / 3, 6.0);
    }
}

TEST(PhotoSample, OnlyAReadableJpegFrameHeaderGivesASize) {
    pelorin::testing::ScratchFolder folder;
    const cv::Mat stored = picture(640, 480);
    const auto jpeg = writeJpeg(folder / "photo.jpg", stored, 1);
    const std::string bytes(common::readFile(jpeg, 1 << 24)->text());
    const std::size_t frame = bytes.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    const std::vector<std::pair<const char*, std::string>> damaged{
        {"empty", ""},
        {"no JPEG", "\x89PNG\r\n\x1a\n" + bytes.substr(2)},
        {"cut before the frame", bytes.substr(0, frame)},
        {"cut inside the frame", bytes.substr(0, frame + 6)},
        {"a segment longer than the file", bytes.substr(0, 4) + "\xFF\xE1\xFF\xFF"},
        {"a length below its own two bytes",
         bytes.substr(0, 2) + "\xFF\xE1" + std::string(2, '\0')},
    };
    for (const auto& [name, content] : damaged) {
        SCOPED_TRACE(name);
        pelorin::testing::writeFile(folder / "damaged.jpg", content);
        EXPECT_EQ(jpegFrameSize(folder / "damaged.jpg"), std::nullopt);
    }
    // A PNG is decoded whole, whatever is asked.
    cv::imwrite((folder / "photo.png").string(), stored);
    const auto png = loadPhotoSample(folder / "photo.png", 100);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->image.width, 640);
    EXPECT_EQ(png->decodedScale, 1);
}

}  // namespace
}  // namespace pelorin::engine
