#include "engine/reconstruction/local/colmap/sparse_model.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;

namespace {

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

// Two photos of one point: the first at the origin looking along +Z, the second turned a
// quarter about +Y (qw = qy = sqrt(1/2)) with t = (0, 0, 2).
void writeModel(const std::filesystem::path& folder) {
    write(folder / "cameras.txt",
          "# Camera list\n1 PINHOLE 640 480 500 510 320 240\n2 SIMPLE_PINHOLE 100 50 80 50 25\n");
    write(folder / "images.txt",
          "# Image list\n"
          "1 1 0 0 0 0 0 0 1 a.jpg\n"
          "320 240 7 10 10 -1\n"
          "2 0.7071067811865476 0 0.7071067811865476 0 0 0 2 2 sub dir/b.jpg\n"
          "\n");
    write(folder / "points3D.txt", "# Points\n7 0 0 4 200 100 50 0.5 1 0 2 3 9 0\n");
}

}  // namespace

TEST(SparseModelTest, ReadsPosesProjectionsAndTracks) {
    pelorin::testing::ScratchFolder folder;
    writeModel(folder.path());
    auto model = loadSparseModel(folder.path());
    ASSERT_TRUE(model) << model.error();
    ASSERT_EQ(model->views.size(), 2u);
    const auto& a = model->views[0];
    const auto& b = model->views[1];
    EXPECT_EQ(b.name, "sub dir/b.jpg");
    EXPECT_EQ(a.pointIds, std::vector<std::int64_t>{7});
    EXPECT_TRUE(b.pointIds.empty());
    EXPECT_DOUBLE_EQ(b.camera.fy, 80);
    // centre = -R^T t: R turns +Z onto -X... so the centre lies on the X axis.
    EXPECT_NEAR(b.centre[0], 2, 1e-12);
    EXPECT_NEAR(b.centre[2], 0, 1e-12);
    const auto& point = model->points.at(7);
    EXPECT_EQ(point.colour, (std::array<std::uint8_t, 3>{200, 100, 50}));
    EXPECT_EQ(point.viewIds, (std::vector<int>{1, 2}));  // image 9 is unknown and dropped
    const Vec3 pixel = a.project(point.position);
    EXPECT_DOUBLE_EQ(pixel[0], 320);
    EXPECT_DOUBLE_EQ(pixel[2], 4);

    // Scale, turn and move the model: depths scale, projections stay.
    const Vec3 side = b.project({1, 0.5, 3});
    model->transform(2.0, {0, 0, 1, 0, 1, 0, -1, 0, 0}, {5, 6, 7});
    const auto& moved = model->views[1];
    const Vec3 again =
        moved.project(2.0 * (Mat3{0, 0, 1, 0, 1, 0, -1, 0, 0} * Vec3{1, 0.5, 3}) + Vec3{5, 6, 7});
    EXPECT_NEAR(again[0], side[0], 1e-9);
    EXPECT_NEAR(again[1], side[1], 1e-9);
    EXPECT_NEAR(again[2], 2 * side[2], 1e-9);
}

TEST(SparseModelTest, RefusesDistortedCamerasAndBrokenFiles) {
    pelorin::testing::ScratchFolder folder;
    writeModel(folder.path());
    write(folder / "cameras.txt", "1 SIMPLE_RADIAL 640 480 500 320 240 0.01\n");
    EXPECT_EQ(loadSparseModel(folder.path()).error(),
              "the camera model SIMPLE_RADIAL is not undistorted");
    write(folder / "cameras.txt", "1 PINHOLE 640 480 500\n");
    EXPECT_EQ(loadSparseModel(folder.path()).error(),
              "a camera line cannot be read: 1 PINHOLE 640 480 500");
    writeModel(folder.path());
    write(folder / "images.txt", "1 1 0 0 0 0 0 0 3 a.jpg\n\n");
    EXPECT_EQ(loadSparseModel(folder.path()).error(), "an image names no known camera: a.jpg");
    std::filesystem::remove(folder / "points3D.txt");
    EXPECT_EQ(loadSparseModel(folder.path()).error(), "the sparse model has no points3D.txt");
}

// A registered photo that observes no point has an empty second line; the photos after it
// must keep their own poses and names.
TEST(SparseModelTest, APhotoWithoutObservationsShiftsNothing) {
    pelorin::testing::ScratchFolder folder;
    writeModel(folder.path());
    write(folder / "images.txt",
          "# Image list\n"
          "1 1 0 0 0 0 0 0 1 a.jpg\n"
          "\n"
          "2 0.7071067811865476 0 0.7071067811865476 0 0 0 2 2 b.jpg\n"
          "320 240 7\n"
          "3 1 0 0 0 0 0 5 1 c.jpg\n"
          "\n");
    const auto names = readRegisteredNames(folder.path());
    ASSERT_TRUE(names) << names.error();
    EXPECT_EQ(*names, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    const auto model = loadSparseModel(folder.path());
    ASSERT_TRUE(model) << model.error();
    ASSERT_EQ(model->views.size(), 3u);
    EXPECT_TRUE(model->views[0].pointIds.empty());
    EXPECT_EQ(model->views[1].name, "b.jpg");
    EXPECT_EQ(model->views[1].pointIds, std::vector<std::int64_t>{7});
    EXPECT_NEAR(model->views[1].centre[0], 2, 1e-12);
    EXPECT_NEAR(model->views[2].centre[2], -5, 1e-12);
}

TEST(SparseModelTest, LensCamerasKeepTheirDistortionAndUnknownLensesAreRefused) {
    struct Case {
        const char* line;
        double fx, cy, k1, k2;
    };
    const Case cases[] = {{"3 SIMPLE_RADIAL 640 480 500 320 241 -0.05", 500, 241, -0.05, 0},
                          {"4 RADIAL 640 480 510 320 242 0.02 -0.003", 510, 242, 0.02, -0.003},
                          {"5 PINHOLE 640 480 520 530 320 243", 520, 243, 0, 0},
                          {"6 SIMPLE_PINHOLE 640 480 540 320 244", 540, 244, 0, 0}};
    pelorin::testing::ScratchFolder folder;
    std::string all = "# Camera list\n";
    for (const auto& c : cases) all += std::string(c.line) + "\n";
    write(folder / "cameras.txt", all);
    const auto cameras = readLensCameras(folder.path());
    ASSERT_TRUE(cameras) << cameras.error();
    ASSERT_EQ(cameras->size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const LensCamera& lens = (*cameras)[i];
        EXPECT_EQ(lens.id, int(i) + 3);
        EXPECT_EQ(lens.pinhole.fx, cases[i].fx) << cases[i].line;
        EXPECT_EQ(lens.pinhole.cy, cases[i].cy) << cases[i].line;
        EXPECT_EQ(lens.k1, cases[i].k1) << cases[i].line;
        EXPECT_EQ(lens.k2, cases[i].k2) << cases[i].line;
    }
    for (const char* refused :
         {"1 OPENCV 640 480 500 500 320 240 0.1 0.01 0 0", "1 SIMPLE_RADIAL 640 480 500 320 240",
          "1 RADIAL 640 480 -5 1 1 0 0"}) {
        write(folder / "cameras.txt", std::string(refused) + "\n");
        EXPECT_FALSE(readLensCameras(folder.path())) << refused;
    }
}
