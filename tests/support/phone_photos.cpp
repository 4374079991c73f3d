#include "tests/support/phone_photos.h"

#include <libheif/heif.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/photos/photo_exif.h"
#include "engine/photos/photo_finder.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::testing {

namespace fs = std::filesystem;

bool writeHeic(const fs::path& file, const cv::Mat& bgr, const std::vector<std::uint8_t>& exif) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder)
            .code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encoder(rawEncoder,
                                                                           heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    heif_image* rawImage = nullptr;
    heif_image_create(bgr.cols, bgr.rows, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                      &rawImage);
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(rawImage, heif_image_release);
    heif_image_add_plane(image.get(), heif_channel_interleaved, bgr.cols, bgr.rows, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    cv::Mat rgb(bgr.rows, bgr.cols, CV_8UC3, plane, stride);
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &rawHandle)
            .code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(
        rawHandle, heif_image_handle_release);
    // The segment's marker, length and "Exif\0\0" go; the TIFF data stays.
    if (exif.size() > 10 && heif_context_add_exif_metadata(context.get(), handle.get(),
                                                           exif.data() + 10, int(exif.size() - 10))
                                    .code != heif_error_Ok)
        return false;
    return heif_context_write_to_file(context.get(), file.c_str()).code == heif_error_Ok;
}

PhonePhotos makePhonePhotos(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    PhonePhotos made;
    const auto photos = engine::PhotoFinder::photoURLs(from);
    for (std::size_t i = 0; i < photos.size(); ++i) {
        cv::Mat image = cv::imread(photos[i].string(), cv::IMREAD_COLOR);
        auto exif = engine::readExif(photos[i]);
        if (image.empty() || !exif || !exif->focalLength35mm)
            throw std::runtime_error(photos[i].string() + " is no JPEG with a 35 mm focal length");
        const std::string stem = photos[i].stem().string();
        exif->orientation = 1;
        if (i % 3 == 1) {
            // A portrait photo of the same lens: the crop keeps the focal length in pixels.
            const double diagonal = std::hypot(image.cols, image.rows);
            image = image(cv::Rect((image.cols - image.rows * 3 / 4) / 2, 0, image.rows * 3 / 4,
                                   image.rows))
                        .clone();
            exif->focalLength35mm = std::uint16_t(
                std::lround(exif->focalLength35mm * diagonal / std::hypot(image.cols, image.rows)));
            made.portrait.push_back(stem + ".jpg");
        }
        exif->width = std::uint32_t(image.cols);
        exif->height = std::uint32_t(image.rows);
        if (i % 3 == 2) {
            // Named as a second copy is on a desktop: with a space.
            const std::string name = stem + " 2.heic";
            if (!writeHeic(to / name, image, engine::makeExifSegment(*exif)))
                throw std::runtime_error("this libheif cannot encode HEIC");
            made.heic.push_back(name);
            continue;
        }
        if (i % 3 == 0) {
            // Stored as the sensor saw it with the phone turned; orientation 6 turns it back.
            cv::rotate(image, image, cv::ROTATE_90_COUNTERCLOCKWISE);
            exif->orientation = 6;
            made.sideways.push_back(stem + ".jpg");
        }
        std::vector<std::uint8_t> jpeg;
        cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
        auto tagged = engine::withExif(jpeg, engine::makeExifSegment(*exif));
        if (!tagged) throw std::runtime_error(tagged.error());
        writeFile(to / (stem + ".jpg"), *tagged);
    }
    return made;
}

}  // namespace pelorin::testing
