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

bool insideGrownBox(const Point& p, const Point& low, const Point& high, double margin) {
    for (int i = 0; i < 3; ++i)
        if (p[i] < low[i] - margin || p[i] > high[i] + margin) return false;
    return true;
}

Mesh joined(const Mesh& a, const Mesh& b) {
    Mesh both = a;
    const auto offset = static_cast<std::uint32_t>(a.vertices.size());
    both.vertices.insert(both.vertices.end(), b.vertices.begin(), b.vertices.end());
    for (auto t : b.triangles)
        both.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
    return both;
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
template <typename Inside>
double separation(const Similarity& pose, const std::vector<Point>& modelPoints,
                  const std::vector<Point>& truthPoints, const SurfaceDistance& modelSurface,
                  const SurfaceDistance& truthSurface, const Inside& inside) {
    const Similarity back = pose.inverse();
    std::vector<double> towardsModel, towardsTruth;
    for (const auto& p : truthPoints)
        towardsModel.push_back(pose.scale * modelSurface.nearest(back.apply(p)).distance);
    for (const auto& p : modelPoints) {
        const Point placed = pose.apply(p);
        if (inside(placed)) towardsTruth.push_back(truthSurface.nearest(placed).distance);
    }
    return median(towardsModel) + median(towardsTruth);
}

}  // namespace

ModelScore scoreModel(const Mesh& model, const Mesh& truth, const ScoreOptions& options) {
    const SurfaceDistance truthSurface(truth);
    const auto modelPoints = samplePoints(model, options.samples, 1);
    std::vector<std::uint32_t> truthTriangles;
    const auto truthPoints = samplePoints(truth, options.samples, 2, &truthTriangles);
    // The alignment fits the model to the object and, when known, what it stands on.
    const Mesh scene = options.support ? joined(truth, *options.support) : Mesh{};
    const std::optional<SurfaceDistance> sceneDistance =
        options.support ? std::optional<SurfaceDistance>(scene) : std::nullopt;
    const SurfaceDistance& fitSurface = sceneDistance ? *sceneDistance : truthSurface;
    const auto fitPoints = options.support ? samplePoints(scene, options.samples, 2) : truthPoints;
    std::optional<SurfaceDistance> supportSurface;
    Point supportLow{}, supportHigh{};
    if (options.support && !options.support->vertices.empty()) {
        supportSurface.emplace(*options.support);
        supportLow = supportHigh = options.support->vertices[0];
        for (const auto& v : options.support->vertices) {
            for (int i = 0; i < 3; ++i) {
                supportLow[i] = std::min(supportLow[i], v[i]);
                supportHigh[i] = std::max(supportHigh[i], v[i]);
            }
        }
    }
    const double supportMargin = 0.05 * truth.diagonal();
    // Where the model's surface takes part in the fits: the object's grown bounds and the
    // support; what lies elsewhere (the floor) stays out.
    const auto fits = [&](const Point& p) {
        if (!options.bounds) return true;
        return insideGrownCylinder(p, *options.bounds) ||
               (supportSurface && insideGrownBox(p, supportLow, supportHigh, supportMargin));
    };
    // The alignment works on a few thousand points; the scores use them all.
    const auto modelFew = thinned(modelPoints, 4000);
    const auto onObject = [&](const Similarity& pose) {
        std::vector<Point> fitting;
        for (const auto& p : modelFew) {
            if (fits(pose.apply(p))) fitting.push_back(p);
        }
        return fitting.size() < 3 ? modelFew : fitting;
    };
    const auto settle = [&](Similarity pose) {
        refineByIcp(onObject(pose), fitSurface, pose, 60, options.fit);
        return pose;
    };
    ModelScore score;
    if (options.initial) {
        score.alignment = settle(*options.initial);
    } else {
        // A search over orientations can be thrown by the plinth or floor that photos model
        // along with the object. A model built from a capture with camera poses already stands
        // in the truth's frame, so the model as it stands competes; with a known support, so do
        // searches with and without it (the model may or may not keep it). The pose that
        // leaves the surfaces closer wins.
        std::vector<Similarity> candidates = {
            settle(alignGlobally(modelFew, fitPoints, fitSurface, options.fit)),
            settle(Similarity{})};
        if (options.support)
            candidates.push_back(
                settle(alignGlobally(modelFew, truthPoints, truthSurface, options.fit)));
        const SurfaceDistance modelSurface(model);
        const auto modelCheck = thinned(modelFew, 1000);
        const auto truthCheck = thinned(truthPoints, 1000);
        double closest = std::numeric_limits<double>::infinity();
        for (const auto& pose : candidates) {
            const double apart =
                separation(pose, modelCheck, truthCheck, modelSurface, fitSurface, fits);
            if (apart < closest) {
                closest = apart;
                score.alignment = pose;
            }
        }
    }
    score.similarityScale = score.alignment.scale;
    if (options.fit == Fit::rigid) {
        Similarity free = score.alignment;
        refineByIcp(onObject(free), fitSurface, free, 60);
        score.similarityScale = free.scale;
    }

    double sum = 0;
    std::size_t counted = 0;
    for (const auto& p : modelPoints) {
        const Point aligned = score.alignment.apply(p);
        if (options.bounds && !insideGrownCylinder(aligned, *options.bounds)) continue;
        const double distance = truthSurface.nearest(aligned).distance;
        // Surface of the support, not of the object: neither right nor wrong.
        if (supportSurface && supportSurface->nearest(aligned).distance < distance) continue;
        sum += distance;
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
