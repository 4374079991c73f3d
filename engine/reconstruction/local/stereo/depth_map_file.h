#pragma once

#include <filesystem>
#include <optional>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "common/files/file_error.h"

namespace pelorin::engine::local {

// A depth map as the checkpoint keeps it: its width and height as two little-endian int32,
// then the depths row by row as float32.
Expected<std::monostate, common::FileError> saveDepthMap(const cv::Mat& depth,
                                                         const std::filesystem::path& file);

// Nothing when the file is missing, truncated, or announces an implausible size.
std::optional<cv::Mat> loadDepthMap(const std::filesystem::path& file);

}  // namespace pelorin::engine::local
