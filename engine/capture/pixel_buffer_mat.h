#pragma once

#include <opencv2/core.hpp>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// A view of the buffer's bytes as an OpenCV matrix (no copy; the buffer must outlive it).
inline cv::Mat asMat(const PixelBuffer& buffer) {
    const int type = CV_MAKETYPE(CV_8U, buffer.channels);
    return cv::Mat(buffer.height, buffer.width, type, const_cast<std::uint8_t*>(buffer.data.data()),
                   buffer.bytesPerRow);
}

// A copy of an 8-bit matrix as a buffer.
inline PixelBuffer toPixelBuffer(const cv::Mat& mat) {
    PixelBuffer buffer;
    buffer.width = mat.cols;
    buffer.height = mat.rows;
    buffer.channels = mat.channels();
    buffer.bytesPerRow = static_cast<std::size_t>(mat.cols) * mat.channels();
    buffer.data.resize(buffer.bytesPerRow * mat.rows);
    for (int row = 0; row < mat.rows; ++row) {
        std::memcpy(buffer.data.data() + row * buffer.bytesPerRow, mat.ptr(row),
                    buffer.bytesPerRow);
    }
    return buffer;
}

}  // namespace pelorin::engine
