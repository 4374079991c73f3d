#include "engine/reconstruction/local/stereo/depth_fusion.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <unordered_map>

#include "engine/reconstruction/local/parallel_for.h"

namespace pelorin::engine::local {

Vec3 backProject(const RegisteredView& view, double x, double y, double depth) {
    const auto& c = view.camera;
    const Vec3 inCamera = {(x + 0.5 - c.cx) / c.fx * depth, (y + 0.5 - c.cy) / c.fy * depth, depth};
    return transposed(view.rotation) * inCamera + view.centre;
}

bool agrees(const DepthMap& map, const Vec3& world, double tolerance) {
    const Vec3 pixel = map.view.project(world);
    if (pixel[2] <= 0) return false;
    const int x = static_cast<int>(std::floor(pixel[0])),
              y = static_cast<int>(std::floor(pixel[1]));
    if (x < 0 || y < 0 || x >= map.depth.cols || y >= map.depth.rows) return false;
    const float depth = map.depth.at<float>(y, x);
    return depth > 0 && std::abs(depth - pixel[2]) <= tolerance * pixel[2];
}

namespace {

struct Cell {
    Vec3 position{};
    Vec3 normal{};
    std::array<double, 3> colour{};
    int count = 0;

    void add(const Cell& other) {
        position = position + other.position;
        normal = normal + other.normal;
        for (int c = 0; c < 3; ++c) colour[c] += other.colour[c];
        count += other.count;
    }
};

using Cells = std::unordered_map<std::uint64_t, Cell>;

std::uint64_t cellKey(const Vec3& p, double size) {
    auto part = [&](double v) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(std::floor(v / size)) +
                                          (1 << 20)) &
               0x1FFFFF;
    };
    return part(p[0]) | (part(p[1]) << 21) | (part(p[2]) << 42);
}

void fuseView(std::size_t index, const std::vector<DepthMap>& maps,
              const std::vector<cv::Mat>& colours, const std::vector<ViewNeighbours>& neighbours,
              const FusionOptions& options, double cell, Cells& cells) {
    const DepthMap& map = maps[index];
    const auto& all = neighbours[index].neighbours;
    const std::span<const std::size_t> others(all.data(),
                                              std::min(all.size(), options.checkedNeighbours));
    const int needed =
        std::min(options.minimumAgreeing, std::max(1, static_cast<int>(others.size())));
    // Normals span a few pixels: neighbouring depths are too noisy to give a direction.
    constexpr int reach = 3;
    auto depthAt = [&](int x, int y) { return map.depth.at<float>(y, x); };
    for (int y = reach; y + reach < map.depth.rows; ++y) {
        for (int x = reach; x + reach < map.depth.cols; ++x) {
            const double depth = depthAt(x, y);
            if (depth <= 0) continue;
            const double left = depthAt(x - reach, y), right = depthAt(x + reach, y);
            const double up = depthAt(x, y - reach), down = depthAt(x, y + reach);
            auto near = [&](double other) { return std::abs(other - depth) < 0.05 * depth; };
            if (!near(left) || !near(right) || !near(up) || !near(down)) continue;
            const Vec3 point = backProject(map.view, x, y, depth);
            if (options.keep && !options.keep(point)) continue;
            int agreeing = 0;
            for (std::size_t other : others)
                if (agrees(maps[other], point, options.agreement) && ++agreeing >= needed) break;
            if (agreeing < needed) continue;
            const Vec3 across = backProject(map.view, x + reach, y, right) -
                                backProject(map.view, x - reach, y, left);
            const Vec3 along =
                backProject(map.view, x, y + reach, down) - backProject(map.view, x, y - reach, up);
            Vec3 normal = normalized(cross(along, across));
            if (dot(normal, map.view.centre - point) < 0) normal = -1.0 * normal;
            const auto& colour = colours[index];
            const int cx = x * colour.cols / map.depth.cols, cy = y * colour.rows / map.depth.rows;
            const auto bgr = colour.at<cv::Vec3b>(cy, cx);
            cells[cellKey(point, cell)].add(
                {point, normal, {double(bgr[2]), double(bgr[1]), double(bgr[0])}, 1});
        }
    }
}

DensePoint average(const Cell& cell) {
    DensePoint point;
    point.position = (1.0 / cell.count) * cell.position;
    point.normal = normalized(cell.normal);
    for (int c = 0; c < 3; ++c)
        point.colour[c] = static_cast<std::uint8_t>(std::lround(cell.colour[c] / cell.count));
    return point;
}

// One point a cell, in a fixed order: the same input gives the same cloud, whatever the
// threads did.
std::vector<DensePoint> averages(const Cells& cells) {
    std::vector<DensePoint> points;
    points.reserve(cells.size());
    for (const auto& [key, value] : cells) points.push_back(average(value));
    std::sort(points.begin(), points.end(),
              [](const DensePoint& a, const DensePoint& b) { return a.position < b.position; });
    return points;
}

// The size of a pixel on the surface, typical across the views.
double typicalFootprint(const std::vector<DepthMap>& maps) {
    std::vector<double> footprints;
    for (const auto& map : maps) {
        std::vector<float> depths;
        for (int y = 0; y < map.depth.rows; y += 4)
            for (int x = 0; x < map.depth.cols; x += 4)
                if (const float d = map.depth.at<float>(y, x); d > 0) depths.push_back(d);
        if (depths.empty()) continue;
        std::nth_element(depths.begin(), depths.begin() + depths.size() / 2, depths.end());
        footprints.push_back(depths[depths.size() / 2] / map.view.camera.fx);
    }
    if (footprints.empty()) return 0;
    std::nth_element(footprints.begin(), footprints.begin() + footprints.size() / 2,
                     footprints.end());
    return footprints[footprints.size() / 2];
}

}  // namespace

std::vector<DensePoint> fuseDepthMaps(const std::vector<DepthMap>& maps,
                                      const std::vector<cv::Mat>& colours,
                                      const std::vector<ViewNeighbours>& neighbours,
                                      const FusionOptions& options) {
    const double cell = options.cellInPixels * typicalFootprint(maps);
    if (cell <= 0) return {};
    const unsigned threads = std::max(1u, options.threads);
    std::vector<Cells> partial(threads);
    parallelFor("fusion", maps.size(), threads, [&](std::size_t i, unsigned worker) {
        fuseView(i, maps, colours, neighbours, options, cell, partial[worker]);
    });
    Cells& cells = partial[0];
    for (unsigned t = 1; t < threads; ++t) {
        for (auto& [key, value] : partial[t]) cells[key].add(value);
        partial[t].clear();
    }
    return averages(cells);
}

std::vector<DensePoint> thinPoints(const std::vector<DensePoint>& points, std::size_t count) {
    if (points.size() <= count || points.empty()) return points;
    Vec3 low = points[0].position, high = low;
    for (const auto& p : points) {
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], p.position[a]);
            high[a] = std::max(high[a], p.position[a]);
        }
    }
    // Points on a surface: their number falls with the square of the cell.
    double cell = norm(high - low) / std::sqrt(double(count));
    std::vector<DensePoint> thinned;
    for (int attempt = 0; attempt < 30 && thinned.empty(); ++attempt, cell *= 1.2) {
        Cells cells;
        for (const auto& p : points) {
            cells[cellKey(p.position, cell)].add(
                {p.position,
                 p.normal,
                 {double(p.colour[0]), double(p.colour[1]), double(p.colour[2])},
                 1});
        }
        if (cells.size() <= count) thinned = averages(cells);
    }
    if (thinned.empty()) return {points.begin(), points.begin() + count};
    return thinned;
}

}  // namespace pelorin::engine::local
