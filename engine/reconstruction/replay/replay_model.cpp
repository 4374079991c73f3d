#include "engine/reconstruction/replay/replay_model.h"

#include <cmath>
#include <fstream>
#include <numbers>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "engine/formats/glb_writer.h"
#include "engine/formats/usdz_writer.h"

namespace pelorin::engine {

namespace {

// A cube with one texture, enough for every later step (GLB copy, preview) to have real input.
constexpr const char* cubeObj = R"(mtllib model.mtl
v -0.5 -0.5 -0.5
v 0.5 -0.5 -0.5
v 0.5 0.5 -0.5
v -0.5 0.5 -0.5
v -0.5 -0.5 0.5
v 0.5 -0.5 0.5
v 0.5 0.5 0.5
v -0.5 0.5 0.5
vt 0 0
vt 1 0
vt 1 1
vt 0 1
usemtl stone
f 1/1 4/4 3/3 2/2
f 5/1 6/2 7/3 8/4
f 1/1 2/2 6/3 5/4
f 2/1 3/2 7/3 6/4
f 3/1 4/2 8/3 7/4
f 4/1 1/2 5/3 8/4
)";

constexpr const char* cubeMtl = R"(newmtl stone
Kd 1 1 1
map_Kd texture.png
)";

PhotogrammetryError writeError(const std::filesystem::path& path) {
    return {PhotogrammetryError::Kind::invalidOutput, 0, "Could not write " + path.string()};
}

bool writeText(const std::filesystem::path& path, const char* text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

std::optional<PhotogrammetryError> writeObjFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return writeError(folder);
    cv::Mat texture(64, 64, CV_8UC3);
    cv::randu(texture, cv::Scalar::all(40), cv::Scalar::all(220));
    if (!writeText(folder / "model.obj", cubeObj) || !writeText(folder / "model.mtl", cubeMtl) ||
        !cv::imwrite((folder / "texture.png").string(), texture)) {
        return writeError(folder);
    }
    return std::nullopt;
}

}  // namespace

std::optional<PhotogrammetryError> writeReplayModel(const std::filesystem::path& url) {
    const bool glb = url.extension() == ".glb";
    if (glb || url.extension() == ".usdz") {
        // The package is made from the same cube, written aside first.
        const auto aside = url.parent_path() / ("." + url.filename().string() + ".obj");
        auto failure = writeObjFolder(aside);
        if (!failure) {
            auto written = glb ? GlbWriter::convert(aside, url) : UsdzWriter::convert(aside, url);
            if (!written)
                failure = PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput, 0,
                                              description(written.error())};
        }
        std::error_code ignored;
        std::filesystem::remove_all(aside, ignored);
        return failure;
    }
    return writeObjFolder(url);
}

std::vector<PointCloudPoint> replayPointCloud(std::size_t count) {
    std::vector<PointCloudPoint> points;
    points.reserve(count);
    // A Fibonacci sphere: evenly spread, deterministic.
    const double golden = std::numbers::pi * (3.0 - std::sqrt(5.0));
    for (std::size_t i = 0; i < count; ++i) {
        const double y = count > 1 ? 1.0 - 2.0 * static_cast<double>(i) / (count - 1) : 0.0;
        const double r = std::sqrt(std::max(0.0, 1.0 - y * y));
        const double a = golden * static_cast<double>(i);
        PointCloudPoint point;
        point.position = {static_cast<float>(r * std::cos(a)), static_cast<float>(y),
                          static_cast<float>(r * std::sin(a))};
        point.colour = {static_cast<std::uint8_t>(128 + 127 * y), 128,
                        static_cast<std::uint8_t>(128 - 127 * y), 255};
        points.push_back(point);
    }
    return points;
}

}  // namespace pelorin::engine
