#include "evaluation/model_score.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "evaluation/seen_surface.h"

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

// Every k-th point, about `count` of them.
std::vector<Point> thinned(const std::vector<Point>& points, std::size_t count) {
    std::vector<Point> few;
    const std::size_t stride = std::max<std::size_t>(1, points.size() / count);
    for (std::size_t k = 0; k < points.size(); k += stride) few.push_back(points[k]);
    return few;
}

double median(std::vector<double> values) {
    if (values.empty()) return std::numeric_limits<double>::infinity();
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// How far apart the surfaces lie under a pose, both ways: the median distance from the truth's
// points to the model and from the model's points inside the bounds to the truth. Medians, so
// that neither holes in the model nor what the truth lacks decide.
double separation(const Similarity& pose, const std::vector<Point>& modelPoints,
                  const std::vector<Point>& truthPoints, const SurfaceDistance& modelSurface,
                  const SurfaceDistance& truthSurface,
                  const std::optional<link::ObjectBounds>& bounds) {
    const Similarity back = pose.inverse();
    std::vector<double> towardsModel, towardsTruth;
    for (const auto& p : truthPoints)
        towardsModel.push_back(pose.scale * modelSurface.nearest(back.apply(p)).distance);
    for (const auto& p : modelPoints) {
        const Point placed = pose.apply(p);
        if (!bounds || insideGrownCylinder(placed, *bounds))
            towardsTruth.push_back(truthSurface.nearest(placed).distance);
    }
    return median(towardsModel) + median(towardsTruth);
}

}  // namespace

ModelScore scoreModel(const Mesh& model, const Mesh& truth, const ScoreOptions& options) {
    const SurfaceDistance truthSurface(truth);
    const auto modelPoints = samplePoints(model, options.samples, 1);
    std::vector<std::uint32_t> truthTriangles;
    const auto truthPoints = samplePoints(truth, options.samples, 2, &truthTriangles);
    // The alignment works on a few thousand points; the scores use them all.
    const auto modelFew = thinned(modelPoints, 4000);
    // The points of the object alone under a pose: what lies outside it (plinth, floor) stays
    // out of the fits.
    const auto onObject = [&](const Similarity& pose) {
        std::vector<Point> fitting;
        for (const auto& p : modelFew) {
            if (!options.bounds || insideGrownCylinder(pose.apply(p), *options.bounds))
                fitting.push_back(p);
        }
        return fitting.size() < 3 ? modelFew : fitting;
    };
    const auto settle = [&](Similarity pose) {
        refineByIcp(onObject(pose), truthSurface, pose, 60, options.fit);
        return pose;
    };
    ModelScore score;
    if (options.initial) {
        score.alignment = settle(*options.initial);
    } else {
        // A search over orientations can be thrown by the plinth or floor that photos model
        // along with the object. A model built from a capture with camera poses already stands
        // in the truth's frame, so the model as it stands competes, and the pose that leaves
        // the surfaces closer wins.
        const Similarity found =
            settle(alignGlobally(modelFew, truthPoints, truthSurface, options.fit));
        const Similarity standing = settle(Similarity{});
        const SurfaceDistance modelSurface(model);
        const auto modelCheck = thinned(modelFew, 1000);
        const auto truthCheck = thinned(truthPoints, 1000);
        const auto apart = [&](const Similarity& pose) {
            return separation(pose, modelCheck, truthCheck, modelSurface, truthSurface,
                              options.bounds);
        };
        score.alignment = apart(found) <= apart(standing) ? found : standing;
    }
    score.similarityScale = score.alignment.scale;
    if (options.fit == Fit::rigid) {
        Similarity free = score.alignment;
        refineByIcp(onObject(free), truthSurface, free, 60);
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
    const SurfaceDistance alignedSurface(alignedModel);
    std::vector<bool> seen;
    if (!options.photoCameras.empty())
        seen = seenByPhotos(truth, truthPoints, truthTriangles, options.photoCameras);
    std::size_t near = 0, seenCount = 0, seenNear = 0;
    for (std::size_t i = 0; i < truthPoints.size(); ++i) {
        const bool close = alignedSurface.nearest(truthPoints[i]).distance <= 0.01 * diagonal;
        near += close;
        if (i < seen.size() && seen[i]) {
            ++seenCount;
            seenNear += close;
        }
    }
    score.completeness = truthPoints.empty() ? 0 : double(near) / truthPoints.size();
    if (!seen.empty()) {
        score.seenShare = double(seenCount) / truthPoints.size();
        score.seenCompleteness = seenCount ? double(seenNear) / seenCount : 0;
    }
    return score;
}

}  // namespace pelorin::evaluation
