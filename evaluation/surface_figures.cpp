#include "evaluation/surface_figures.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>

namespace pelorin::evaluation {

namespace {

using Vec = std::array<double, 3>;

Vec sub(const Vec& a, const Vec& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

struct Face {
    std::array<std::uint32_t, 3> corners;
    Vec centre, normal;  // unit normal
    double area;
};

// Random planes through three face centres; the one with the most area near it and facing
// along it.
double largestPlaneArea(const std::vector<Face>& faces, double tolerance) {
    if (faces.size() < 3) return 0;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, faces.size() - 1);
    double best = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const Face& a = faces[pick(random)];
        const Vec n = cross(sub(faces[pick(random)].centre, a.centre),
                            sub(faces[pick(random)].centre, a.centre));
        const double length = std::sqrt(dot(n, n));
        if (length < 1e-12) continue;
        const Vec unit = {n[0] / length, n[1] / length, n[2] / length};
        const double offset = dot(unit, a.centre);
        double area = 0;
        for (const auto& f : faces)
            if (std::abs(dot(unit, f.centre) - offset) < tolerance &&
                std::abs(dot(unit, f.normal)) > 0.9)
                area += f.area;
        best = std::max(best, area);
    }
    return best;
}

}  // namespace

SurfaceFigures surfaceFigures(const engine::TexturedMesh& model) {
    auto position = [&](std::uint32_t v) {
        return Vec{model.positions[3 * v], model.positions[3 * v + 1], model.positions[3 * v + 2]};
    };
    std::vector<Face> faces;
    double total = 0, unseen = 0;
    Vec low{1e300, 1e300, 1e300}, high{-1e300, -1e300, -1e300};
    // Vertices are split per corner in many files: the same position is the same corner.
    std::map<Vec, std::uint32_t> cornerOf;
    for (const auto& group : model.groups) {
        for (std::size_t i = 0; i + 2 < group.indices.size(); i += 3) {
            Face face{};
            Vec p[3];
            for (int c = 0; c < 3; ++c) {
                const auto v = group.indices[i + c];
                p[c] = position(v);
                face.corners[c] = cornerOf.emplace(p[c], cornerOf.size()).first->second;
                for (int a = 0; a < 3; ++a) {
                    low[a] = std::min(low[a], p[c][a]);
                    high[a] = std::max(high[a], p[c][a]);
                }
            }
            const Vec n = cross(sub(p[1], p[0]), sub(p[2], p[0]));
            const double length = std::sqrt(dot(n, n));
            face.area = 0.5 * length;
            if (length > 0) face.normal = {n[0] / length, n[1] / length, n[2] / length};
            for (int a = 0; a < 3; ++a) face.centre[a] = (p[0][a] + p[1][a] + p[2][a]) / 3;
            total += face.area;
            if (model.hasTexcoords) {
                const auto uv = [&](int c) {
                    const auto v = group.indices[i + c];
                    return std::pair(model.texcoords[2 * v], model.texcoords[2 * v + 1]);
                };
                if (uv(0) == uv(1) && uv(1) == uv(2)) unseen += face.area;
            }
            faces.push_back(face);
        }
    }
    SurfaceFigures figures;
    if (total <= 0) return figures;
    figures.unseen = unseen / total;
    const double diagonal = std::sqrt(dot(sub(high, low), sub(high, low)));
    figures.largestPlane = largestPlaneArea(faces, 0.005 * diagonal) / total;

    std::vector<std::uint32_t> parent(cornerOf.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](std::uint32_t c) {
        while (parent[c] != c) c = parent[c] = parent[parent[c]];
        return c;
    };
    for (const auto& f : faces) {
        parent[root(f.corners[1])] = root(f.corners[0]);
        parent[root(f.corners[2])] = root(f.corners[0]);
    }
    std::map<std::uint32_t, double> pieceArea;
    for (const auto& f : faces) pieceArea[root(f.corners[0])] += f.area;
    double small = 0;
    for (const auto& [piece, area] : pieceArea)
        if (area < 0.01 * total) small += area;
    figures.smallParts = small / total;
    return figures;
}

}  // namespace pelorin::evaluation
