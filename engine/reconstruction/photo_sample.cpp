#include "engine/reconstruction/photo_sample.h"

#include <opencv2/imgcodecs.hpp>

namespace pelorin::engine {

pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadPhotoSample(
    const std::filesystem::path& photo) {
    cv::Mat image = cv::imread(photo.string(), cv::IMREAD_COLOR);
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
