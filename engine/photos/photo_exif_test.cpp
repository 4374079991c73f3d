#include "engine/photos/photo_exif.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <opencv2/imgcodecs.hpp>

namespace pelorin::engine {
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

TEST(PhotoExif, WrittenFieldsReadBackHereAndInAnIndependentReaderAndTheImageStillDecodes) {
    const ExifFields fields{"Google", "Pixel 8", "2026:11:14 09:30:00", 35.0, 35, 64, 48, 6};
    auto photo = withExif(smallJpeg(), makeExifSegment(fields));
    ASSERT_TRUE(photo);
    ExifData* data = exif_data_new_from_data(photo->data(), static_cast<unsigned>(photo->size()));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(exifText(data, EXIF_IFD_0, EXIF_TAG_MAKE), "Google");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2026:11:14 09:30:00");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH), "35.0 mm");
    EXPECT_EQ(exifText(data, EXIF_IFD_EXIF, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM), "35");
    EXPECT_EQ(exifText(data, EXIF_IFD_0, EXIF_TAG_ORIENTATION), "Right-top");
    exif_data_unref(data);

    const auto read = parseExif(*photo);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::tie(read->make, read->model, read->dateTimeOriginal, read->focalLength35mm,
                       read->width, read->height, read->orientation),
              std::tie(fields.make, fields.model, fields.dateTimeOriginal, fields.focalLength35mm,
                       fields.width, fields.height, fields.orientation));
    EXPECT_DOUBLE_EQ(read->focalLengthMillimetres, 35.0);

    // Exactly one application segment, ours, right after the start of the image.
    EXPECT_EQ((*photo)[2], 0xFF);
    EXPECT_EQ((*photo)[3], 0xE1);
    const std::size_t length = ((*photo)[4] << 8) | (*photo)[5];
    EXPECT_FALSE((*photo)[4 + length] == 0xFF && ((*photo)[5 + length] & 0xF0) == 0xE0);
    const cv::Mat decoded = cv::imdecode(*photo, cv::IMREAD_IGNORE_ORIENTATION | cv::IMREAD_COLOR);
    EXPECT_EQ(decoded.cols, 64);
    EXPECT_EQ(decoded.rows, 48);
}

TEST(PhotoExif, DamagedOrMissingExifAndNonJpegsAreRefused) {
    EXPECT_FALSE(parseExif(smallJpeg()));
    const auto photo = withExif(smallJpeg(), makeExifSegment({.make = "Google", .width = 64}));
    // Every cut of the segment reads as nothing or as what survived, never past its end.
    for (std::size_t size = 0; size < 200; ++size) {
        if (const auto read = parseExif(std::span(*photo).first(size))) {
            EXPECT_TRUE(read->width == 64 || read->width == 0) << read->width;
            EXPECT_TRUE(read->make == "Google" || read->make.empty()) << read->make;
        }
    }
    const auto segment = makeExifSegment({});
    EXPECT_EQ(withExif(std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'}, segment).error(),
              "not a JPEG image");
    // An APP0 segment announcing more bytes than there are.
    const std::vector<std::uint8_t> cut = {0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00, 'J', 'F'};
    EXPECT_EQ(withExif(cut, segment).error(), "a JPEG segment runs past the end");
}

}  // namespace
}  // namespace pelorin::engine
