#include "bench/evaluation/model_score.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pelorin::evaluation {

namespace {

bool insideGrownCylinder(const Point& p, const link::ObjectBounds& bounds) {
    if (bounds.centre.size() != 3) return true;
    const double grow = 1.05;
    const double dx = p[0] - bounds.centre[0], dz = p[2] - bounds.centre[2];
    const double dy = p[1] - bounds.centre[1];
    return std::sqrt(dx * dx + dz * dz) <= bounds.radius * grow &&
           std::abs(dy) <= 0.5 * bounds.height * grow;
}

}  // namespace

ModelScore scoreModel(const Mesh& model, const Mesh& truth, const ScoreOptions& options) {
    const SurfaceDistance truthSurface(truth);
    const auto modelPoints = samplePoints(model, options.samples, 1);
    const auto truthPoints = samplePoints(truth, options.samples, 2);
    // The alignment works on a few thousand points; the scores use them all.
    std::vector<Point> fitting;
    const std::size_t stride = std::max<std::size_t>(1, modelPoints.size() / 4000);
    for (std::size_t k = 0; k < modelPoints.size(); k += stride) {
        // With a starting pose, what lies outside the object (plinth, floor) stays out of the fit.
        if (options.initial && options.bounds &&
            !insideGrownCylinder(options.initial->apply(modelPoints[k]), *options.bounds)) {
            continue;
        }
        fitting.push_back(modelPoints[k]);
    }
    ModelScore score;
    if (options.initial) {
        score.alignment = *options.initial;
        refineByIcp(fitting, truthSurface, score.alignment, 60, options.fit);
    } else {
        score.alignment = alignGlobally(fitting, truthPoints, truthSurface, options.fit);
    }
    score.similarityScale = score.alignment.scale;
    if (options.fit == Fit::rigid) {
        Similarity free = score.alignment;
        refineByIcp(fitting, truthSurface, free, 60);
        score.similarityScale = free.scale;
    }

    double sum = 0;
    std::size_t counted = 0;
    for (const auto& p : modelPoints) {
        const Point aligned = score.alignment.apply(p);
        if (options.bounds && !insideGrownCylinder(aligned, *options.bounds)) continue;
        sum += truthSurface.nearest(aligned).distance;
        ++counted;
    }
    const double diagonal = truth.diagonal();
    score.meanError = counted ? sum / counted : std::numeric_limits<double>::infinity();
    score.meanErrorFraction = diagonal > 0 ? score.meanError / diagonal : 0;

    const Mesh alignedModel = score.alignment.apply(model);
    const SurfaceDistance modelSurface(alignedModel);
    std::size_t near = 0;
    for (const auto& p : truthPoints) near += modelSurface.nearest(p).distance <= 0.01 * diagonal;
    score.completeness = truthPoints.empty() ? 0 : double(near) / truthPoints.size();
    return score;
}

}  // namespace pelorin::evaluation
