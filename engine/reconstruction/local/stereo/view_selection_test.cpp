#include "engine/reconstruction/local/stereo/view_selection.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "tests/support/camera_poses.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;

namespace {

// A photo 5 away from the origin, looking at it, turned `degrees` from the first photo's
// position about `axis` (through the origin).
RegisteredView turnedBy(int id, double degrees, const Vec3& axis) {
    const double a = degrees * std::numbers::pi / 180;
    // Rodrigues' rotation of the first photo's position (0, 0, -5).
    const Vec3 start{0, 0, -5};
    const Vec3 position = std::cos(a) * start + std::sin(a) * cross(axis, start) +
                          (1 - std::cos(a)) * dot(axis, start) * axis;
    RegisteredView view;
    view.id = id;
    view.camera = {640, 480, 500, 500, 320, 240};
    view.centre = position;
    view.rotation = pelorin::testing::lookingAt(position);
    return view;
}

}  // namespace

TEST(ViewSelectionTest, NeighboursComeFromDifferentSidesBeforeTheNextBestOnOneSide) {
    // Each row: photos 2 and 3 on one side of photo 1 (15 and 14 degrees away), photo 4 on the
    // other (12 degrees), all seeing the same points. Photo 3 shares them at a better angle than
    // photo 4, but photo 4 sees past what photos 2 and 3 cannot.
    for (const Vec3 axis : {Vec3{0, 1, 0}, Vec3{1, 0, 0}}) {
        SparseModel model;
        model.views = {turnedBy(1, 0, axis), turnedBy(2, 15, axis), turnedBy(3, 14, axis),
                       turnedBy(4, -12, axis)};
        for (int i = 0; i < 100; ++i) {
            SparsePoint point;
            point.position = {0.1 * (i % 10) - 0.45, 0.1 * (i / 10) - 0.45, 0.05 * (i % 3)};
            point.viewIds = {1, 2, 3, 4};
            model.points[i] = point;
        }
        const auto chosen = selectNeighbours(model, 2);
        ASSERT_EQ(chosen.size(), 4u);
        EXPECT_EQ(chosen[0].neighbours, (std::vector<std::size_t>{1, 3})) << axis[0];
        // The depth range covers the points, about 5 away.
        EXPECT_LT(chosen[0].nearest, 4.6);
        EXPECT_GT(chosen[0].farthest, 5.0);
    }
}
