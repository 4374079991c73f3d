#pragma once

#include <array>
#include <vector>

#include "evaluation/mesh.h"
#include "evaluation/surface_distance.h"

namespace pelorin::evaluation {

// x -> scale * rotation * x + translation.
struct Similarity {
    double scale = 1;
    std::array<double, 9> rotation = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row by row
    Point translation{};

    Point apply(const Point& p) const;
    Mesh apply(const Mesh& mesh) const;
    // The similarity that undoes this one.
    Similarity inverse() const;
};

// How far, in degrees, the similarity tips the vertical (+Y): 0 for a model that already stood
// upright, whatever its turn about the vertical.
double tiltDegrees(const Similarity& similarity);

// What a fit may change: everything a similarity can, or only rotation and translation (for
// models already in metres).
enum class Fit { similarity, rigid };

// The similarity that best maps `from` onto `to`, pair by pair, in the least-squares sense;
// with Fit::rigid its scale stays 1.
Similarity fitSimilarity(const std::vector<Point>& from, const std::vector<Point>& to,
                         Fit fit = Fit::similarity);

// Refines `start` so that the points land on the surface: iterative closest points with a fit
// per step. Returns the mean distance reached with it.
double refineByIcp(const std::vector<Point>& points, const SurfaceDistance& surface,
                   Similarity& start, int iterations, Fit fit = Fit::similarity);

// Aligns points of a model with the surface of a truth whatever their relative pose (and, for
// a similarity, size): both are centred (and scaled alike), their principal axes are matched
// in each of the 24 ways axes can be, a few steps of ICP rank those starts, and the best is
// refined.
Similarity alignGlobally(const std::vector<Point>& modelPoints,
                         const std::vector<Point>& truthPoints, const SurfaceDistance& truth,
                         Fit fit = Fit::similarity);

}  // namespace pelorin::evaluation
