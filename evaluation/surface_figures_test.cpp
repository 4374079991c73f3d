#include "evaluation/surface_figures.h"

#include <gtest/gtest.h>

#include "tests/support/test_shapes.h"

using namespace pelorin::evaluation;

namespace {

// A square sheet of `n` x `n` cells at height `y`, `side` wide, around (x, z).
void addSheet(Mesh& mesh, double x, double y, double z, double side, int n) {
    const auto first = static_cast<std::uint32_t>(mesh.vertices.size());
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            mesh.vertices.push_back(
                {x + side * (double(i) / n - 0.5), y, z + side * (double(j) / n - 0.5)});
    for (std::uint32_t j = 0; j < std::uint32_t(n); ++j)
        for (std::uint32_t i = 0; i < std::uint32_t(n); ++i) {
            const std::uint32_t a = first + j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            mesh.triangles.push_back({a, d, b});
            mesh.triangles.push_back({a, c, d});
        }
}

double area(const Mesh& mesh) {
    double total = 0;
    for (const auto& t : mesh.triangles) {
        const auto& a = mesh.vertices[t[0]];
        const auto& b = mesh.vertices[t[1]];
        const auto& c = mesh.vertices[t[2]];
        const std::array<double, 3> u{b[0] - a[0], b[1] - a[1], b[2] - a[2]},
            v{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const std::array<double, 3> n{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                      u[0] * v[1] - u[1] * v[0]};
        total += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    }
    return total;
}

}  // namespace

TEST(SurfaceFigures, AFloorLeftUnderAnObjectSmallPiecesAndUnseenFacesAreMeasured) {
    const Mesh solid = fixtures::lumpySolid();
    Mesh scene = solid;
    addSheet(scene, 0, -2, 0, 4, 20);  // a floor under the solid
    Mesh crumbs;
    for (int k = 0; k < 5; ++k) addSheet(crumbs, 3 + 0.2 * k, 1, 3, 0.1, 1);
    const double floor = 16, crumbArea = area(crumbs), solidArea = area(solid);
    for (const auto& t : crumbs.triangles) {
        const auto offset = static_cast<std::uint32_t>(scene.vertices.size());
        for (auto v : t) scene.vertices.push_back(crumbs.vertices[v]);
        scene.triangles.push_back({offset, offset + 1, offset + 2});
    }
    auto textured = fixtures::texturedOf(scene);
    // The floor's faces are unseen: all three corners at one point of the atlas.
    for (std::size_t v = solid.vertices.size(); v < solid.vertices.size() + 21 * 21; ++v) {
        textured.texcoords[2 * v] = 0.001f;
        textured.texcoords[2 * v + 1] = 0.999f;
    }
    const double total = solidArea + floor + crumbArea;
    const auto figures = surfaceFigures(textured);
    EXPECT_NEAR(figures.largestPlane, floor / total, 0.01);
    EXPECT_NEAR(figures.unseen, floor / total, 1e-6);
    EXPECT_NEAR(figures.smallParts, crumbArea / total, 1e-6);

    const auto alone = surfaceFigures(fixtures::texturedOf(solid));
    EXPECT_EQ(alone.unseen, 0);
    EXPECT_EQ(alone.smallParts, 0);
    EXPECT_LT(alone.largestPlane, 0.1);
}
