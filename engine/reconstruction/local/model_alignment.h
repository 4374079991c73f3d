#pragma once

#include <optional>
#include <vector>

#include "engine/reconstruction/local/colmap/sparse_model.h"

namespace pelorin::engine::local {

// x -> scale * rotation * x + translation.
struct Similarity {
    double scale = 1;
    Mat3 rotation = identity3;
    Vec3 translation{};
};

// The similarity that best maps `from` onto `to`, pair by pair (least squares, at least three
// pairs not all on one line); nothing when they cannot fix one.
std::optional<Similarity> fitSimilarity(const std::vector<Vec3>& from, const std::vector<Vec3>& to);

// The turn that makes the mean of the photos' gravity point along -Y. `gravity` holds, per
// view, gravity in the phone's camera frame (x right, y up, z towards the viewer), or nothing.
std::optional<Mat3> uprightFromGravity(const SparseModel& model,
                                       const std::vector<std::optional<Vec3>>& gravity);

// Without gravity: photos are mostly taken upright, so the mean of the cameras' up directions
// is taken as up.
Mat3 uprightFromCameras(const SparseModel& model);

// A scale and shift that centre the sparse points and give their robust extent (between
// the 5th and 95th percentiles) a diagonal of `diagonal` metres.
Similarity normalisedSize(const SparseModel& model, double diagonal);

}  // namespace pelorin::engine::local
