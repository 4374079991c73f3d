#include "evaluation/rasteriser.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/test_shapes.h"

namespace pelorin::evaluation {
namespace {

const std::array<double, 16> atOrigin = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// 100 x 100 pixels, focal length 100, principal point (cx, cy).
PinholeCamera camera(const std::array<double, 16>& pose = atOrigin, double cx = 50,
                     double cy = 50) {
    return PinholeCamera(pose, {100, 0, 0, 0, 100, 0, cx, cy, 1}, 100, 100);
}

// An upright rectangle at depth -z, facing a camera that looks along -Z.
Mesh rectangle(double left, double right, double bottom, double top, double z) {
    Mesh mesh;
    mesh.vertices = {{left, bottom, z}, {right, bottom, z}, {right, top, z}, {left, top, z}};
    mesh.triangles = {{0, 1, 2}, {0, 2, 3}};
    return mesh;
}

// The same with texture coordinates (0, 0) at the bottom left and (1, 1) at the top right.
engine::TexturedMesh texturedRectangle(const Mesh& shape, const cv::Mat& image) {
    engine::TexturedMesh mesh;
    for (const auto& v : shape.vertices) {
        for (double c : v) mesh.positions.push_back(static_cast<float>(c));
    }
    mesh.normals.assign(mesh.positions.size(), 0.0f);
    mesh.texcoords = {0, 0, 1, 0, 1, 1, 0, 1};
    mesh.hasTexcoords = true;
    engine::MeshGroup group;
    group.indices = {0, 1, 2, 0, 2, 3};
    if (!image.empty())
        group.texture = engine::TextureImage::fromBytes(fixtures::png(image), "image/png");
    mesh.groups.push_back(std::move(group));
    return mesh;
}

// The covered rows and columns of a mask, as [first, last] ranges; -1 when none.
struct Extent {
    int firstColumn = -1, lastColumn = -1, firstRow = -1, lastRow = -1;
    int pixels = 0;
};

Extent extentOf(const cv::Mat& mask) {
    Extent e;
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            if (!mask.at<std::uint8_t>(y, x)) continue;
            if (e.pixels++ == 0) e.firstColumn = e.lastColumn = x, e.firstRow = e.lastRow = y;
            e.firstColumn = std::min(e.firstColumn, x);
            e.lastColumn = std::max(e.lastColumn, x);
            e.firstRow = std::min(e.firstRow, y);
            e.lastRow = std::max(e.lastRow, y);
        }
    }
    return e;
}

TEST(Rasteriser, SilhouetteEdgesFallWherePixelCentresCross) {
    // x from -0.5 to 0.5 and y from -0.325 to 0.4 at depth 2: columns 25 to 75 and rows 30 to
    // 66.25 in pixel units, so centres 25.5 ... 74.5 and 30.5 ... 65.5 are in.
    const Mesh quad = rectangle(-0.5, 0.5, -0.325, 0.4, -2);
    const Extent plain = extentOf(renderSilhouette(quad, camera()));
    EXPECT_EQ(plain.firstColumn, 25);
    EXPECT_EQ(plain.lastColumn, 74);
    EXPECT_EQ(plain.firstRow, 30);
    EXPECT_EQ(plain.lastRow, 65);
    EXPECT_EQ(plain.pixels, 50 * 36);

    // The principal point moves everything by its own amount.
    const Extent shifted = extentOf(renderSilhouette(quad, camera(atOrigin, 40.2, 50)));
    EXPECT_EQ(shifted.firstColumn, 15);
    EXPECT_EQ(shifted.lastColumn, 64);

    // A photo of 200 x 50 for a truth of 100 x 100: intrinsics scale per axis (fx 200, cx
    // 100; fy 50, cy 25), so columns 50 to 150 and rows 15 to 33.125.
    const Extent scaled = extentOf(renderSilhouette(quad, camera().resized(200, 50)));
    EXPECT_EQ(scaled.firstColumn, 50);
    EXPECT_EQ(scaled.lastColumn, 149);
    EXPECT_EQ(scaled.firstRow, 15);
    EXPECT_EQ(scaled.lastRow, 32);
}

TEST(Rasteriser, TheCameraPoseSeesWhatLiesAhead) {
    // From (3, 0, 0) looking back along -X with +Y up, the camera's x axis is world -Z.
    const std::array<double, 16> pose = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 3, 0, 0, 1};
    Mesh cube;
    for (int i = 0; i < 8; ++i)
        cube.vertices.push_back({i & 1 ? 0.5 : -0.5, i & 2 ? 0.5 : -0.5, i & 4 ? 0.5 : -0.5});
    cube.triangles = {{0, 1, 3}, {0, 3, 2}, {4, 6, 7}, {4, 7, 5}, {0, 4, 5}, {0, 5, 1},
                      {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}};
    // The near face, at depth 2.5, spans 50 +- 20 both ways.
    const Extent seen = extentOf(renderSilhouette(cube, camera(pose)));
    EXPECT_EQ(seen.firstColumn, 30);
    EXPECT_EQ(seen.lastColumn, 69);
    EXPECT_EQ(seen.firstRow, 30);
    EXPECT_EQ(seen.lastRow, 69);
    EXPECT_EQ(seen.pixels, 40 * 40);

    // A marker on the cube's +Z side shows on the left of the image, above means up.
    Mesh flag;
    flag.vertices = {{0.5, 0.2, 0.2}, {0.5, 0.2, 0.4}, {0.5, 0.4, 0.4}, {0.5, 0.4, 0.2}};
    flag.triangles = {{0, 1, 2}, {0, 2, 3}};
    const Extent flagged = extentOf(renderSilhouette(flag, camera(pose)));
    EXPECT_EQ(flagged.firstColumn, 34);  // z = 0.4 maps to 50 - 16
    EXPECT_EQ(flagged.lastColumn, 41);   // z = 0.2 maps to 50 - 8
    EXPECT_EQ(flagged.firstRow, 34);     // y = 0.4 maps to 50 - 16
    EXPECT_EQ(flagged.lastRow, 41);

    // Nothing behind the camera.
    const std::array<double, 16> away = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 3, 0, 0, 1};
    EXPECT_EQ(extentOf(renderSilhouette(cube, camera(away))).pixels, 0);
}

TEST(Rasteriser, TextureColoursAtKnownPixels) {
    // Blue, green, red; the top row first, as images store them.
    cv::Mat image(2, 2, CV_8UC3);
    image.at<cv::Vec3b>(0, 0) = {0, 0, 255};
    image.at<cv::Vec3b>(0, 1) = {100, 255, 0};
    image.at<cv::Vec3b>(1, 0) = {200, 0, 0};
    image.at<cv::Vec3b>(1, 1) = {40, 255, 255};
    // Drawn at half size and depth 1, then moved by the similarity to fill 25..75 at depth 2.
    Similarity toWorld;
    toWorld.scale = 2;
    const auto mesh = texturedRectangle(rectangle(-0.25, 0.25, -0.25, 0.25, -1), image);
    const auto rendered = renderTextured(mesh, toWorld, camera());
    ASSERT_TRUE(rendered) << rendered.error();
    const cv::Mat& colour = rendered->colour;
    // Within a quarter of the edge the clamped samples are the texels themselves.
    EXPECT_EQ(colour.at<cv::Vec3b>(30, 30), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(colour.at<cv::Vec3b>(30, 70), cv::Vec3b(100, 255, 0));
    EXPECT_EQ(colour.at<cv::Vec3b>(70, 30), cv::Vec3b(200, 0, 0));
    EXPECT_EQ(colour.at<cv::Vec3b>(70, 70), cv::Vec3b(40, 255, 255));
    // The pixel (50, 50) has its centre at s = 0.51, t = 0.49: texel position 0.52 across
    // and down, so blue is 0.2304 * 0 + 0.2496 * 100 + 0.2496 * 200 + 0.2704 * 40 = 85.7.
    EXPECT_EQ(colour.at<cv::Vec3b>(50, 50)[0], 86);
    // Green: 0.2496 * 255 + 0.2704 * 255 = 132.6; red: 0.2304 * 255 + 0.2704 * 255 = 127.7.
    EXPECT_EQ(colour.at<cv::Vec3b>(50, 50)[1], 133);
    EXPECT_EQ(colour.at<cv::Vec3b>(50, 50)[2], 128);
    // Outside: black and uncovered.
    EXPECT_EQ(colour.at<cv::Vec3b>(24, 50), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(rendered->coverage.at<std::uint8_t>(24, 50), 0);
    EXPECT_EQ(extentOf(rendered->coverage).pixels, 50 * 50);

    // Without an image, light grey.
    const auto plain = renderTextured(texturedRectangle(rectangle(-0.5, 0.5, -0.5, 0.5, -2), {}),
                                      Similarity{}, camera());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->colour.at<cv::Vec3b>(50, 50), cv::Vec3b(204, 204, 204));

    // An image that is not one fails with a reason.
    auto broken = mesh;
    broken.groups[0].texture = engine::TextureImage::fromBytes({1, 2, 3}, "image/png");
    broken.groups[0].material = "stone";
    const auto failed = renderTextured(broken, toWorld, camera());
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().find("stone"), std::string::npos);
}

TEST(Rasteriser, TextureCoordinatesFollowPerspective) {
    // A ramp image: column i has value i, so a sample at s reads 256 s - 0.5.
    cv::Mat ramp(1, 256, CV_8UC3);
    for (int i = 0; i < 256; ++i) ramp.at<cv::Vec3b>(0, i) = cv::Vec3b::all(i);
    // A slanted rectangle: its left edge at depth 1, its right edge at depth 3.
    Mesh slanted;
    slanted.vertices = {{-0.5, -0.5, -1}, {0.5, -0.5, -3}, {0.5, 0.5, -3}, {-0.5, 0.5, -1}};
    slanted.triangles = {{0, 1, 2}, {0, 2, 3}};
    const auto rendered = renderTextured(texturedRectangle(slanted, ramp), Similarity{}, camera());
    ASSERT_TRUE(rendered) << rendered.error();
    // The ray through column u's centre meets the plane at s = (a + 0.5) / (1 - 2a), with
    // a = (u + 0.5 - 50) / 100. An affine interpolation on the screen would be far off (about
    // 128 rather than 64 at column 33).
    for (int u : {5, 20, 33, 45, 60}) {
        const double a = (u + 0.5 - 50) / 100;
        const double s = (a + 0.5) / (1 - 2 * a);
        const int expected = static_cast<int>(std::lround(256 * s - 0.5));
        EXPECT_NEAR(rendered->colour.at<cv::Vec3b>(50, u)[0], expected, 1) << u;
    }
}

TEST(Rasteriser, TheNearestSurfaceWinsWhateverTheOrder) {
    const Mesh near = rectangle(-0.2, 0.2, -0.2, 0.2, -2);
    const Mesh far = rectangle(-1, 1, -1, 1, -3);
    for (bool nearFirst : {true, false}) {
        engine::TexturedMesh scene;
        for (const Mesh* part : nearFirst ? std::array{&near, &far} : std::array{&far, &near}) {
            const bool isNear = part == &near;
            auto piece = texturedRectangle(
                *part,
                cv::Mat(1, 1, CV_8UC3, isNear ? cv::Scalar(0, 255, 0) : cv::Scalar(0, 0, 255)));
            const auto base = static_cast<std::uint32_t>(scene.vertexCount());
            scene.positions.insert(scene.positions.end(), piece.positions.begin(),
                                   piece.positions.end());
            scene.normals.insert(scene.normals.end(), piece.normals.begin(), piece.normals.end());
            scene.texcoords.insert(scene.texcoords.end(), piece.texcoords.begin(),
                                   piece.texcoords.end());
            for (auto& index : piece.groups[0].indices) index += base;
            scene.groups.push_back(piece.groups[0]);
        }
        const auto rendered = renderTextured(scene, Similarity{}, camera());
        ASSERT_TRUE(rendered);
        EXPECT_EQ(rendered->colour.at<cv::Vec3b>(50, 50), cv::Vec3b(0, 255, 0)) << nearFirst;
        EXPECT_EQ(rendered->colour.at<cv::Vec3b>(50, 35), cv::Vec3b(0, 0, 255)) << nearFirst;
    }
}

TEST(Rasteriser, SurfacesReachingBehindTheCameraAreCut) {
    // A floor one unit below the camera from five units ahead to five behind: in view, it
    // fills every row below the horizon of its far edge (row 70) and nothing above.
    const Mesh floor = [] {
        Mesh mesh;
        mesh.vertices = {{-10, -1, 5}, {10, -1, 5}, {10, -1, -5}, {-10, -1, -5}};
        mesh.triangles = {{0, 1, 2}, {0, 2, 3}};
        return mesh;
    }();
    const Extent seen = extentOf(renderSilhouette(floor, camera()));
    EXPECT_EQ(seen.firstRow, 70);
    EXPECT_EQ(seen.lastRow, 99);
    EXPECT_EQ(seen.pixels, 30 * 100);
}

}  // namespace
}  // namespace pelorin::evaluation
