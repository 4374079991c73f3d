#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "evaluation/mesh.h"

namespace pelorin::evaluation {

// Exact nearest points on a mesh's surface, through a uniform grid of its triangles.
class SurfaceDistance {
  public:
    explicit SurfaceDistance(const Mesh& mesh);

    struct Nearest {
        double distance = 0;
        Point point{};
    };
    Nearest nearest(const Point& query) const;

  private:
    std::array<int, 3> cellOf(const Point& p) const;

    const Mesh& mesh_;
    Point low_{};
    double cell_ = 1;
    std::array<int, 3> size_{};
    std::vector<std::uint32_t> cellStart_;
    std::vector<std::uint32_t> cellTriangles_;
};

// Points spread over the surface in proportion to area, reproducibly for a given seed; with
// `triangleOf`, the triangle each point lies on too.
std::vector<Point> samplePoints(const Mesh& mesh, std::size_t count, std::uint32_t seed,
                                std::vector<std::uint32_t>* triangleOf = nullptr);

// The point of triangle abc nearest to p.
Point closestOnTriangle(const Point& p, const Point& a, const Point& b, const Point& c);

}  // namespace pelorin::evaluation
