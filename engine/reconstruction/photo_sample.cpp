#include "engine/reconstruction/photo_sample.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <fstream>
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

// The decoder's own reduction that keeps the long side at `leastLongSide` or more.
int reductionFor(int storedLongSide, int leastLongSide) {
    int reduction = 1;
    while (reduction < 8 && storedLongSide / (reduction * 2) >= leastLongSide) reduction *= 2;
    return reduction;
}

int readFlags(int reduction) {
    switch (reduction) {
        case 2:
            return cv::IMREAD_REDUCED_COLOR_2;
        case 4:
            return cv::IMREAD_REDUCED_COLOR_4;
        case 8:
            return cv::IMREAD_REDUCED_COLOR_8;
    }
    return cv::IMREAD_COLOR;
}

}  // namespace

std::optional<std::pair<int, int>> jpegFrameSize(const std::filesystem::path& photo) {
    std::ifstream in(photo, std::ios::binary);
    return jpegFrameSize(in);
}

std::optional<std::pair<int, int>> jpegFrameSize(std::istream& in) {
    const auto byte = [&in]() -> int {
        const int c = in.get();
        return in ? c : -1;
    };
    if (byte() != 0xFF || byte() != 0xD8) return std::nullopt;
    // Segments until a frame header; each read moves on, so a damaged file ends at its end.
    while (in) {
        int marker = byte();
        if (marker != 0xFF) return std::nullopt;
        while (marker == 0xFF) marker = byte();
        if (marker < 0 || marker == 0xD9 || marker == 0xDA) return std::nullopt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        const int high = byte(), low = byte();
        if (high < 0 || low < 0) return std::nullopt;
        const int length = high << 8 | low;
        if (length < 2) return std::nullopt;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            unsigned char header[5];
            if (length < 7 || !in.read(reinterpret_cast<char*>(header), 5)) return std::nullopt;
            const int height = header[1] << 8 | header[2];
            const int width = header[3] << 8 | header[4];
            if (width <= 0 || height <= 0) return std::nullopt;
            return std::pair{width, height};
        }
        in.seekg(length - 2, std::ios::cur);
    }
    return std::nullopt;
}

pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadPhotoSample(
    const std::filesystem::path& photo, int leastLongSide) {
    const bool heif = isHeif(photo);
    const auto stored = !heif && leastLongSide > 0 ? jpegFrameSize(photo) : std::nullopt;
    const int storedLongSide = stored ? std::max(stored->first, stored->second) : 0;
    const int reduction = stored ? reductionFor(storedLongSide, leastLongSide) : 1;
    cv::Mat image = heif ? decodeHeif(photo) : cv::imread(photo.string(), readFlags(reduction));
    if (image.empty()) {
        return pelorin::unexpected(
            PhotogrammetryError{PhotogrammetryError::Kind::invalidImages, 0,
                                "Could not read " + photo.filename().string()});
    }
    PhotogrammetrySample sample;
    sample.sourceFile = photo;
    if (reduction > 1)
        sample.decodedScale = double(std::max(image.cols, image.rows)) / storedLongSide;
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
