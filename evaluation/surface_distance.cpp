#include "evaluation/surface_distance.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/geometry/vector_math.h"

namespace pelorin::evaluation {

using namespace pelorin::engine;  // the vector algebra

Point closestOnTriangle(const Point& p, const Point& a, const Point& b, const Point& c) {
    // Voronoi regions of the triangle's vertices, edges and face, in turn.
    const Point ab = b - a, ac = c - a, ap = p - a;
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return a;
    const Point bp = p - b;
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return b;
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return a + (d1 / (d1 - d3)) * ab;
    const Point cp = p - c;
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return c;
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return a + (d2 / (d2 - d6)) * ac;
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        return b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b);
    }
    const double total = va + vb + vc;
    if (total == 0) return a;
    return a + ((vb / total) * ab + (vc / total) * ac);
}

SurfaceDistance::SurfaceDistance(const Mesh& mesh) : mesh_(mesh) {
    Point high = mesh.vertices.empty() ? Point{} : mesh.vertices[0];
    low_ = high;
    for (const auto& v : mesh.vertices) {
        for (int i = 0; i < 3; ++i) {
            low_[i] = std::min(low_[i], v[i]);
            high[i] = std::max(high[i], v[i]);
        }
    }
    const double extent =
        std::max({high[0] - low_[0], high[1] - low_[1], high[2] - low_[2], 1e-12});
    const int perAxis =
        std::clamp(static_cast<int>(std::cbrt(double(mesh.triangles.size()))), 1, 128);
    cell_ = extent / perAxis;
    for (int i = 0; i < 3; ++i)
        size_[i] = std::max(1, static_cast<int>(std::ceil((high[i] - low_[i]) / cell_)) + 1);
    const std::size_t cells = std::size_t(size_[0]) * size_[1] * size_[2];
    // Counting pass, then filling pass: one flat array of triangle ids per cell.
    std::vector<std::uint32_t> counts(cells + 1, 0);
    auto forCells = [&](std::uint32_t t, auto&& visit) {
        const auto& tri = mesh.triangles[t];
        Point lo = mesh.vertices[tri[0]], hi = lo;
        for (int k = 1; k < 3; ++k) {
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::min(lo[i], mesh.vertices[tri[k]][i]);
                hi[i] = std::max(hi[i], mesh.vertices[tri[k]][i]);
            }
        }
        const auto a = cellOf(lo), b = cellOf(hi);
        for (int x = a[0]; x <= b[0]; ++x) {
            for (int y = a[1]; y <= b[1]; ++y) {
                for (int z = a[2]; z <= b[2]; ++z)
                    visit((std::size_t(x) * size_[1] + y) * size_[2] + z);
            }
        }
    };
    for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t)
        forCells(t, [&](std::size_t c) { ++counts[c + 1]; });
    for (std::size_t c = 0; c < cells; ++c) counts[c + 1] += counts[c];
    cellStart_ = counts;
    cellTriangles_.resize(counts.back());
    for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t)
        forCells(t, [&](std::size_t c) { cellTriangles_[counts[c]++] = t; });
}

std::array<int, 3> SurfaceDistance::cellOf(const Point& p) const {
    std::array<int, 3> cell{};
    for (int i = 0; i < 3; ++i)
        cell[i] = std::clamp(static_cast<int>((p[i] - low_[i]) / cell_), 0, size_[i] - 1);
    return cell;
}

SurfaceDistance::Nearest SurfaceDistance::nearest(const Point& query) const {
    const auto start = cellOf(query);
    // How far the query lies outside the grid; shells are searched from its clamped cell.
    Point clamped = query;
    for (int i = 0; i < 3; ++i)
        clamped[i] = std::clamp(query[i], low_[i], low_[i] + size_[i] * cell_);
    const double outside = norm(query - clamped);
    Nearest best{std::numeric_limits<double>::infinity(), {}};
    const int maxShell = std::max({size_[0], size_[1], size_[2]});
    for (int r = 0; r <= maxShell; ++r) {
        for (int x = start[0] - r; x <= start[0] + r; ++x) {
            if (x < 0 || x >= size_[0]) continue;
            for (int y = start[1] - r; y <= start[1] + r; ++y) {
                if (y < 0 || y >= size_[1]) continue;
                for (int z = start[2] - r; z <= start[2] + r; ++z) {
                    if (z < 0 || z >= size_[2]) continue;
                    if (std::max({std::abs(x - start[0]), std::abs(y - start[1]),
                                  std::abs(z - start[2])}) != r)
                        continue;
                    const std::size_t c = (std::size_t(x) * size_[1] + y) * size_[2] + z;
                    for (std::uint32_t k = cellStart_[c]; k < cellStart_[c + 1]; ++k) {
                        const auto& tri = mesh_.triangles[cellTriangles_[k]];
                        const Point p =
                            closestOnTriangle(query, mesh_.vertices[tri[0]], mesh_.vertices[tri[1]],
                                              mesh_.vertices[tri[2]]);
                        const double d = norm(query - p);
                        if (d < best.distance) best = {d, p};
                    }
                }
            }
        }
        // Every cell beyond this shell is at least r cells from the clamped query.
        if (best.distance <= r * cell_ - outside) break;
    }
    return best;
}

std::vector<Point> samplePoints(const Mesh& mesh, std::size_t count, std::uint32_t seed,
                                std::vector<std::uint32_t>* triangleOf) {
    std::vector<double> cumulative;
    cumulative.reserve(mesh.triangles.size());
    double total = 0;
    for (const auto& t : mesh.triangles) {
        const auto& a = mesh.vertices[t[0]];
        total += 0.5 * norm(cross(mesh.vertices[t[1]] - a, mesh.vertices[t[2]] - a));
        cumulative.push_back(total);
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Point> points;
    points.reserve(count);
    if (triangleOf) triangleOf->clear();
    for (std::size_t i = 0; i < count && total > 0; ++i) {
        const auto t =
            std::lower_bound(cumulative.begin(), cumulative.end(), unit(random) * total) -
            cumulative.begin();
        const std::size_t index = std::min<std::size_t>(t, mesh.triangles.size() - 1);
        if (triangleOf) triangleOf->push_back(static_cast<std::uint32_t>(index));
        const auto& tri = mesh.triangles[index];
        double u = unit(random), v = unit(random);
        if (u + v > 1) {
            u = 1 - u;
            v = 1 - v;
        }
        const auto& a = mesh.vertices[tri[0]];
        points.push_back(a + (u * (mesh.vertices[tri[1]] - a) + v * (mesh.vertices[tri[2]] - a)));
    }
    return points;
}

}  // namespace pelorin::evaluation
