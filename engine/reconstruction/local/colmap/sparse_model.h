#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/expected.h"
#include "engine/geometry/vector_math.h"

namespace pelorin::engine::local {

// A pinhole camera after undistortion, in pixels; the image's top-left corner is (0, 0).
struct PinholeCamera {
    int width = 0;
    int height = 0;
    double fx = 0, fy = 0, cx = 0, cy = 0;
};

// A camera as structure from motion estimated it: a pinhole with up to two radial distortion
// terms (SIMPLE_RADIAL and RADIAL; the pinhole models have none). A point at (x, y) on the
// image plane z = 1 is seen at fx * x * d + cx, fy * y * d + cy, with d = 1 + k1 r^2 + k2 r^4.
struct LensCamera {
    int id = 0;
    PinholeCamera pinhole;
    double k1 = 0, k2 = 0;
};

// One registered photo: x_camera = rotation * (x_world - centre), camera looking along +Z with
// +Y down (the structure-from-motion convention).
struct RegisteredView {
    int id = 0;
    std::string name;
    PinholeCamera camera;
    Mat3 rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Vec3 centre{};
    // Ids of the 3-D points this photo observes.
    std::vector<std::int64_t> pointIds;

    Vec3 toCamera(const Vec3& world) const;
    // Pixel position of a world point; z is the depth along the viewing axis.
    Vec3 project(const Vec3& world) const;
};

struct SparsePoint {
    Vec3 position{};
    std::array<std::uint8_t, 3> colour{};
    double error = 0;
    std::vector<int> viewIds;
};

// A structure-from-motion model with pinhole cameras.
struct SparseModel {
    std::vector<RegisteredView> views;
    std::map<std::int64_t, SparsePoint> points;

    // Applies x -> scale * rotation * x + translation to points and cameras alike; depths
    // scale with it.
    void transform(double scale, const Mat3& rotation, const Vec3& translation);
};

// Reads cameras.txt, images.txt and points3D.txt of a text model. Only pinhole-like cameras
// (PINHOLE, SIMPLE_PINHOLE) are accepted: the model is expected to be undistorted.
pelorin::Expected<SparseModel, std::string> loadSparseModel(const std::filesystem::path& folder);

// The cameras of a text model's cameras.txt, distorted or not.
pelorin::Expected<std::vector<LensCamera>, std::string> readLensCameras(
    const std::filesystem::path& folder);

// Where an observation of a photo taken with camera `cameraId` lies after its camera changed.
using ObservationMove = std::function<std::array<double, 2>(int cameraId, double x, double y)>;

// A text model's images.txt with every observation moved, for a model whose cameras change;
// each photo's name and camera id go to `photos`, in the file's order.
pelorin::Expected<std::string, std::string> movedObservations(
    const std::filesystem::path& folder, const ObservationMove& move,
    std::vector<std::pair<std::string, int>>& photos);

// The names of the photos a text model registered, from its images.txt alone.
pelorin::Expected<std::vector<std::string>, std::string> readRegisteredNames(
    const std::filesystem::path& folder);

}  // namespace pelorin::engine::local
