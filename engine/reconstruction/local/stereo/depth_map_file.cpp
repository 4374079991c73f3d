#include "engine/reconstruction/local/stereo/depth_map_file.h"

#include "common/binary/little_endian.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine::local {

namespace {
constexpr std::size_t headerBytes = 8;
// Far beyond any depth map we make (the finest is 1024 pixels on its long side).
constexpr std::int32_t largestSide = 20000;
}  // namespace

Expected<std::monostate, common::FileError> saveDepthMap(const cv::Mat& depth,
                                                         const std::filesystem::path& file) {
    CV_Assert(depth.type() == CV_32F && depth.isContinuous());
    Bytes header;
    common::appendLittleEndian<std::int32_t>(header, depth.cols);
    common::appendLittleEndian<std::int32_t>(header, depth.rows);
    const std::span<const std::uint8_t> pieces[] = {header,
                                                    {depth.data, depth.total() * sizeof(float)}};
    return common::writeFileAtomically(file, pieces);
}

std::optional<cv::Mat> loadDepthMap(const std::filesystem::path& file) {
    auto mapped = common::readFile(file, 1ULL << 30);
    if (!mapped) return std::nullopt;
    const auto bytes = mapped->bytes();
    if (bytes.size() < headerBytes) return std::nullopt;
    const auto width = common::readLittleEndian<std::int32_t>(bytes, 0);
    const auto height = common::readLittleEndian<std::int32_t>(bytes, 4);
    if (width <= 0 || height <= 0 || width > largestSide || height > largestSide ||
        bytes.size() != headerBytes + std::size_t(width) * height * sizeof(float))
        return std::nullopt;
    cv::Mat depth(height, width, CV_32F);
    std::memcpy(depth.data, bytes.data() + headerBytes, depth.total() * sizeof(float));
    return depth;
}

}  // namespace pelorin::engine::local
