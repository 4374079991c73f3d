#include "engine/reconstruction/local/surface/background_planes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <unordered_map>

#include <opencv2/core.hpp>

namespace pelorin::engine::local {

namespace {

// Points with dot(normal, p) = offset; the normal points towards the cameras.
struct Plane {
    Vec3 normal{};
    double offset = 0;
    double distance(const Vec3& p) const { return dot(normal, p) - offset; }
};

// Normals this close to the plane's count as lying along it.
constexpr double alongNormal = 0.8;
// A plane is part of the background only when it reaches this much further than what stands
// out of it in some direction: the top of a plinth is little larger than its statue.
constexpr double widerThanObject = 1.3;

double quantile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    const auto at = values.begin() + std::ptrdiff_t(share * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The cloud's size: the diagonal of the box around all but its outermost points.
double cloudSize(const std::vector<DensePoint>& points) {
    Vec3 span{};
    for (int a = 0; a < 3; ++a) {
        std::vector<double> values;
        values.reserve(points.size());
        for (const auto& p : points) values.push_back(p.position[a]);
        span[a] = quantile(values, 0.98) - quantile(values, 0.02);
    }
    return norm(span);
}

// The plane through the points by least squares.
Plane fitted(const std::vector<DensePoint>& points, const std::vector<std::size_t>& members) {
    Vec3 mean{};
    for (auto i : members) mean = mean + points[i].position;
    mean = (1.0 / double(members.size())) * mean;
    cv::Matx33d covariance = cv::Matx33d::zeros();
    for (auto i : members) {
        const Vec3 d = points[i].position - mean;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) covariance(r, c) += d[r] * d[c];
    }
    cv::Matx31d values;
    cv::Matx33d vectors;
    cv::eigen(covariance, values, vectors);
    const Vec3 normal = normalized({vectors(2, 0), vectors(2, 1), vectors(2, 2)});
    return {normal, dot(normal, mean)};
}

bool onPlane(const Plane& plane, const DensePoint& point, double tolerance) {
    return std::abs(plane.distance(point.position)) < tolerance &&
           std::abs(dot(plane.normal, point.normal)) > alongNormal;
}

// The largest plane among the candidates, by random guesses from three of them.
std::vector<std::size_t> largestPlane(const std::vector<DensePoint>& points,
                                      const std::vector<std::size_t>& candidates, double tolerance,
                                      int trials, std::mt19937& random) {
    std::vector<std::size_t> best;
    if (candidates.size() < 3) return best;
    std::uniform_int_distribution<std::size_t> pick(0, candidates.size() - 1);
    std::vector<std::size_t> members;
    for (int trial = 0; trial < trials; ++trial) {
        const Vec3& a = points[candidates[pick(random)]].position;
        const Vec3& b = points[candidates[pick(random)]].position;
        const Vec3& c = points[candidates[pick(random)]].position;
        const Vec3 n = cross(b - a, c - a);
        if (norm(n) < 1e-12) continue;
        const Plane guess{normalized(n), dot(normalized(n), a)};
        members.clear();
        for (auto i : candidates)
            if (onPlane(guess, points[i], tolerance)) members.push_back(i);
        if (members.size() > best.size()) best.swap(members);
    }
    if (best.size() >= 3) {
        // Once more from the least-squares plane through the best guess's points.
        const Plane refined = fitted(points, best);
        best.clear();
        for (auto i : candidates)
            if (onPlane(refined, points[i], tolerance)) best.push_back(i);
    }
    return best;
}

// How far the points reach along a direction, all but the outermost.
double reach(const std::vector<DensePoint>& points, const std::vector<std::size_t>& members,
             const Vec3& direction) {
    std::vector<double> along;
    along.reserve(members.size());
    for (auto i : members) along.push_back(dot(direction, points[i].position));
    return quantile(along, 0.95) - quantile(along, 0.05);
}

// Directions along the plane.
std::array<Vec3, 4> alongPlane(const Plane& fit) {
    const Vec3 helper = std::abs(fit.normal[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    const Vec3 u = normalized(cross(fit.normal, helper)), v = cross(fit.normal, u);
    return {u, v, normalized(u + v), normalized(u - v)};
}

// How far the points reach along the plane at the most.
double widest(const std::vector<DensePoint>& points, const std::vector<std::size_t>& members,
              const Plane& fit) {
    double most = 0;
    for (const Vec3& axis : alongPlane(fit)) most = std::max(most, reach(points, members, axis));
    return most;
}

// Whether the plane reaches well beyond what stands out of it in some direction along it.
bool widerThan(const std::vector<DensePoint>& points, const std::vector<std::size_t>& plane,
               const std::vector<std::size_t>& object, const Plane& fit) {
    for (const Vec3& axis : alongPlane(fit))
        if (reach(points, plane, axis) > widerThanObject * reach(points, object, axis)) return true;
    return false;
}

// Keeps the pieces (points linked through neighbouring cells) that hold enough of the points.
void keepLargePieces(std::vector<DensePoint>& points, double link, double leastShare) {
    if (points.empty() || link <= 0) return;
    auto key = [link](const Vec3& p) {
        auto part = [&](double v) {
            return std::uint64_t(std::int64_t(std::floor(v / link)) + (1 << 20)) & 0x1FFFFF;
        };
        return part(p[0]) | (part(p[1]) << 21) | (part(p[2]) << 42);
    };
    std::unordered_map<std::uint64_t, std::size_t> cellIndex;
    std::vector<std::size_t> cellOf(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        cellOf[i] = cellIndex.emplace(key(points[i].position), cellIndex.size()).first->second;
    std::vector<std::size_t> parent(cellIndex.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](std::size_t c) {
        while (parent[c] != c) c = parent[c] = parent[parent[c]];
        return c;
    };
    for (const auto& [cell, index] : cellIndex) {
        const auto x = std::int64_t(cell & 0x1FFFFF), y = std::int64_t((cell >> 21) & 0x1FFFFF),
                   z = std::int64_t(cell >> 42);
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy)
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const std::uint64_t other = std::uint64_t(x + dx) |
                                                (std::uint64_t(y + dy) << 21) |
                                                (std::uint64_t(z + dz) << 42);
                    if (const auto found = cellIndex.find(other); found != cellIndex.end())
                        parent[root(found->second)] = root(index);
                }
    }
    std::vector<std::size_t> pieceSize(parent.size(), 0);
    for (std::size_t i = 0; i < points.size(); ++i) ++pieceSize[root(cellOf[i])];
    const double least = leastShare * double(points.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (double(pieceSize[root(cellOf[i])]) >= least) points[kept++] = points[i];
    points.resize(kept);
}

}  // namespace

int removeBackground(std::vector<DensePoint>& points, const std::vector<Vec3>& cameras,
                     const BackgroundOptions& options) {
    if (points.size() < 100 || cameras.empty()) return 0;
    const double size = cloudSize(points);
    if (!(size > 0)) return 0;
    const double tolerance = options.planeTolerance * size;
    std::mt19937 random(20261207);  // the same cloud loses the same planes
    std::vector<std::size_t> sample;
    const std::size_t stride = std::max<std::size_t>(1, points.size() / options.sampled);
    for (std::size_t i = 0; i < points.size(); i += stride) sample.push_back(i);
    // The large planes first; what lies on none of them is what may stand out of them.
    std::vector<std::size_t> candidates = sample;
    std::vector<std::vector<std::size_t>> planes;
    std::vector<bool> onSome(points.size(), false);
    for (int round = 0; round < options.planes; ++round) {
        auto plane = largestPlane(points, candidates, tolerance, options.trials, random);
        if (double(plane.size()) < options.leastPlaneShare * double(sample.size())) break;
        for (auto i : plane) onSome[i] = true;
        std::erase_if(candidates, [&](std::size_t i) { return onSome[i]; });
        planes.push_back(std::move(plane));
    }
    std::vector<bool> removed(points.size(), false);
    int removedPlanes = 0;
    for (const auto& plane : planes) {
        Plane fit = fitted(points, plane);
        std::size_t front = 0, behind = 0;
        for (const auto& camera : cameras) {
            const double d = fit.distance(camera);
            front += d > tolerance;
            behind += d < -tolerance;
        }
        if (behind == cameras.size()) fit = {-1.0 * fit.normal, -fit.offset};
        if (front != cameras.size() && behind != cameras.size()) continue;
        std::vector<std::size_t> standing;
        std::vector<double> heights;
        for (auto i : candidates) {
            const double d = fit.distance(points[i].position);
            if (!removed[i] && d > 3 * tolerance) {
                standing.push_back(i);
                heights.push_back(d);
            }
        }
        std::size_t behindCount = 0;
        for (auto i : candidates)
            if (!removed[i] && fit.distance(points[i].position) < -3 * tolerance) ++behindCount;
        if (double(standing.size()) < options.leastStandingShare * double(sample.size()) ||
            double(behindCount) > options.mostBehind * double(standing.size()) ||
            quantile(heights, 0.95) < options.standOut * widest(points, standing, fit) ||
            !widerThan(points, plane, standing, fit))
            continue;
        ++removedPlanes;
        for (std::size_t i = 0; i < points.size(); ++i)
            if (fit.distance(points[i].position) < -tolerance || onPlane(fit, points[i], tolerance))
                removed[i] = true;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (!removed[i]) points[kept++] = points[i];
    points.resize(kept);
    keepLargePieces(points, options.pieceLink * size, options.leastPieceShare);
    return removedPlanes;
}

}  // namespace pelorin::engine::local
