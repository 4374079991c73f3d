#include "engine/reconstruction/photo_sample.h"

#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace pelorin::engine {

namespace {

bool isHeif(const std::filesystem::path& photo) {
    std::string extension = photo.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".heic" || extension == ".heif";
}

// The primary image of a HEIC/HEIF file as BGR, empty when it cannot be decoded.
cv::Mat decodeHeif(const std::filesystem::path& photo) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    if (!context ||
        heif_context_read_from_file(context.get(), photo.c_str(), nullptr).code != heif_error_Ok) {
        return {};
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
        return {};
    }
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(
        rawHandle, heif_image_handle_release);
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          nullptr)
            .code != heif_error_Ok) {
        return {};
    }
    std::unique_ptr<heif_image, decltype(&heif_image_release)> image(rawImage, heif_image_release);
    int stride = 0;
    const std::uint8_t* pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0) return {};
    cv::Mat rgb(height, width, CV_8UC3, const_cast<std::uint8_t*>(pixels), stride);
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

}  // namespace

pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadPhotoSample(
    const std::filesystem::path& photo) {
    cv::Mat image =
        isHeif(photo) ? decodeHeif(photo) : cv::imread(photo.string(), cv::IMREAD_COLOR);
    if (image.empty()) {
        return pelorin::unexpected(
            PhotogrammetryError{PhotogrammetryError::Kind::invalidImages, 0,
                                "Could not read " + photo.filename().string()});
    }
    PhotogrammetrySample sample;
    sample.sourceFile = photo;
    sample.image.width = image.cols;
    sample.image.height = image.rows;
    sample.image.channels = image.channels();
    sample.image.bytesPerRow = static_cast<std::size_t>(image.cols) * image.channels();
    sample.image.data.resize(sample.image.bytesPerRow * image.rows);
    for (int row = 0; row < image.rows; ++row) {
        std::memcpy(sample.image.data.data() + row * sample.image.bytesPerRow, image.ptr(row),
                    sample.image.bytesPerRow);
    }
    return sample;
}

}  // namespace pelorin::engine
