// The pipeline's own units, each without COLMAP: the checkpoint, progress, the depth-map file,
// the support plane, the object's region and the outputs.
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

#include <gtest/gtest.h>

#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/formats/glb_reader.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/usdz_reader.h"
#include "engine/reconstruction/local/checkpoint.h"
#include "engine/reconstruction/local/detail_plan.h"
#include "engine/reconstruction/local/lens_undistortion.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/output_step.h"
#include "engine/reconstruction/local/run_progress.h"
#include "engine/reconstruction/local/stereo/depth_map_file.h"
#include "engine/reconstruction/local/stereo/depth_step.h"
#include "engine/reconstruction/local/stereo/fusion_step.h"
#include "engine/reconstruction/local/surface/support_plane.h"
#include "engine/reconstruction/local/undistort_step.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/step_folder.h"
#include "tests/support/test_models.h"

using namespace pelorin;
using namespace pelorin::engine;
using namespace pelorin::engine::local;
namespace fs = std::filesystem;

using pelorin::testing::StepFolder;

TEST(Checkpoint, OtherSettingsStartAfreshAndMarkersSurviveTheSame) {
    pelorin::testing::ScratchFolder folder;
    Checkpoint checkpoint(folder / "local");
    ASSERT_TRUE(checkpoint.open(R"({"detail":"medium"})"));
    ASSERT_TRUE(checkpoint.write("database.db", "features"));
    ASSERT_TRUE(checkpoint.markDone("features"));
    ASSERT_TRUE(checkpoint.open(R"({"detail":"medium"})"));
    EXPECT_TRUE(checkpoint.done("features"));
    EXPECT_TRUE(fs::exists(checkpoint / "database.db"));
    ASSERT_TRUE(checkpoint.open(R"({"detail":"full"})"));
    EXPECT_FALSE(checkpoint.done("features"));
    EXPECT_FALSE(fs::exists(checkpoint / "database.db"));
}

TEST(RunProgress, NeverGoesBackwardsAndReportsEachNewStepAtOnce) {
    std::vector<PhotogrammetryEvent> events;
    const auto start = std::chrono::steady_clock::time_point{};
    RunProgress progress(
        {PhotogrammetryRequest::pointCloud()},
        [&](PhotogrammetryEvent e) { events.push_back(std::move(e)); }, start);
    auto fractions = [&] {
        std::vector<double> seen;
        for (const auto& e : events)
            if (auto* p = std::get_if<events::RequestProgress>(&e)) seen.push_back(p->fraction);
        return seen;
    };
    using namespace std::chrono_literals;
    progress.report(Step::matching, 0.5, start + 10s);
    progress.report(Step::matching, 0.6, start + 10s + 100ms);  // too soon: not reported
    progress.report(Step::features, 1.0, start + 11s);          // an earlier step, finished
    progress.report(Step::mapping, 0, start + 11s + 10ms);      // a new step: reported at once
    const auto seen = fractions();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NEAR(seen[0], 0.06 + 0.10 + 0.10, 1e-9);
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_NEAR(seen[2], 0.36, 1e-9);
    const auto* info = std::get_if<events::RequestProgressInfo>(&events[1]);
    ASSERT_NE(info, nullptr);
    EXPECT_NEAR(*info->info.estimatedRemainingTime, 10 * (1 - 0.26) / 0.26, 1e-6);
}

TEST(DepthMapFile, RoundTripsAndRefusesDamagedFiles) {
    pelorin::testing::ScratchFolder folder;
    cv::Mat depth(3, 5, CV_32F);
    for (int i = 0; i < 15; ++i) depth.at<float>(i / 5, i % 5) = 0.5f * i;
    ASSERT_TRUE(saveDepthMap(depth, folder / "a.bin"));
    const auto read = loadDepthMap(folder / "a.bin");
    ASSERT_TRUE(read);
    EXPECT_EQ(cv::norm(*read, depth, cv::NORM_INF), 0);

    const auto bytes = pelorin::testing::readBytes(folder / "a.bin");
    pelorin::testing::writeFile(folder / "short.bin", Bytes(bytes.begin(), bytes.end() - 1));
    Bytes huge = bytes;
    huge[3] = 0x7F;  // a width of two billion announced by a 68-byte file
    pelorin::testing::writeFile(folder / "huge.bin", huge);
    for (const char* name : {"short.bin", "huge.bin", "missing.bin"})
        EXPECT_FALSE(loadDepthMap(folder / name)) << name;
}

TEST(SupportPlane, FindsTheTableUnderAnObjectAndNothingWithoutOne) {
    std::vector<DensePoint> points;
    // A table top at height 0 (facing up), and a column standing on it up to 1.
    for (int i = 0; i < 2000; ++i)
        points.push_back(
            {{std::cos(i * 0.1) * (i % 50) * 0.02, 0.0, std::sin(i * 0.1) * 0.5}, {0, 1, 0}});
    std::vector<DensePoint> column;
    for (int i = 0; i < 3000; ++i)
        column.push_back({{std::cos(i * 0.3) * 0.1, 0.01 + i / 3000.0, std::sin(i * 0.3) * 0.1},
                          {std::cos(i * 0.3), 0, std::sin(i * 0.3)}});
    EXPECT_FALSE(supportHeight(column));
    points.insert(points.end(), column.begin(), column.end());
    const auto height = supportHeight(points);
    ASSERT_TRUE(height);
    EXPECT_GT(*height, 0);
    EXPECT_LT(*height, 0.05);
}

TEST(ObjectRegion, WithoutBoundsTheObjectAboveTheGroundWhereTheCamerasLook) {
    SparseModel model;
    // A ring of cameras 2 units around (1, 0.5, 0), all looking at it.
    const Vec3 target{1, 0.5, 0};
    for (int i = 0; i < 12; ++i) {
        const double a = 2 * M_PI * i / 12;
        RegisteredView view;
        view.centre = target + Vec3{2 * std::cos(a), 0.8, 2 * std::sin(a)};
        const Vec3 forward = normalized(target - view.centre);
        const Vec3 right = normalized(cross(Vec3{0, 1, 0}, forward));
        const Vec3 down = cross(forward, right);
        view.rotation = {right[0], right[1],   right[2],   down[0],   down[1],
                         down[2],  forward[0], forward[1], forward[2]};
        model.views.push_back(view);
    }
    // Too few points to tell the object: the ball the cameras look at.
    const auto ball = objectRegion(model, std::nullopt, false);
    EXPECT_NEAR(norm(ball.centre - target), 0, 1e-6);
    EXPECT_NEAR(ball.radius, 0.6 * norm(model.views[0].centre - target), 1e-6);
    EXPECT_LT(ball.halfHeight, 0);

    // A textured ground at height 0 and an object standing on it: radius 0.2, 0.9 high.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::int64_t id = 0;
    for (int i = 0; i < 2000; ++i)
        model.points[id++].position = {1 + 3 * unit(random), 0.002 * unit(random),
                                       3 * unit(random)};
    for (int i = 0; i < 600; ++i) {
        const double a = M_PI * unit(random);
        model.points[id++].position = {1 + 0.2 * std::cos(a), 0.45 + 0.45 * unit(random),
                                       0.2 * std::sin(a)};
    }
    const auto object = objectRegion(model, std::nullopt, false);
    EXPECT_GT(object.halfHeight, 0);
    EXPECT_NEAR(object.radius, 0.2 * 1.15, 0.03);
    EXPECT_NEAR(object.centre[1] - object.halfHeight, 0, 0.08);
    EXPECT_NEAR(object.centre[1] + object.halfHeight, 0.9, 0.1);
    EXPECT_TRUE(object.contains({1.15, 0.8, 0.1}));
    EXPECT_FALSE(object.contains({1.5, 0.001, 0}));
}

// Every model request is answered from the one textured mesh handed over in memory: the USDZ and
// GLB hold it, the OBJ folder is the checkpoint's copy and replaces what was there.
TEST(OutputStep, EachModelFileHoldsTheMeshHandedOverAndAPointCloudComesFromTheFusedCloud) {
    pelorin::testing::ScratchFolder folder;
    Checkpoint checkpoint(folder / "local");
    ASSERT_TRUE(checkpoint.open("{}"));
    pelorin::testing::writeFile(checkpoint / "textured" / "model.obj", "new obj");
    pelorin::testing::writeFile(folder / "OBJ" / "model.obj", "old obj");
    pelorin::testing::writeTexturedCube(folder / "cube");
    const auto mesh = ObjReader::readObjFolder(folder / "cube");
    ASSERT_TRUE(mesh);
    std::vector<PhotogrammetryEvent> events;
    auto emit = [&](PhotogrammetryEvent e) { events.push_back(std::move(e)); };
    const std::vector<PhotogrammetryRequest> requests = {
        PhotogrammetryRequest::modelFile(folder / "model.usdz", RequestDetail::preview),
        PhotogrammetryRequest::modelFile(folder / "OBJ", RequestDetail::preview),
        PhotogrammetryRequest::modelFile(folder / "model.glb", RequestDetail::preview),
        PhotogrammetryRequest::pointCloud()};
    RunProgress progress(requests, emit);
    StepContext context(checkpoint, progress, emit, {}, 1);
    runOutputStep(context, requests, *mesh);

    const auto obj = pelorin::testing::readBytes(folder / "OBJ" / "model.obj");
    EXPECT_EQ(std::string(obj.begin(), obj.end()), "new obj");
    for (const auto& read : {readUsdz(folder / "model.usdz"), readGlb(folder / "model.glb")}) {
        ASSERT_TRUE(read) << read.error();
        EXPECT_EQ(read->positions, mesh->positions);
        EXPECT_EQ(read->groups.size(), mesh->groups.size());
    }
    int completed = 0, failed = 0;
    for (const auto& e : events) {
        completed += std::holds_alternative<events::RequestComplete>(e);
        failed += std::holds_alternative<events::RequestError>(e);
    }
    // There is no fused cloud: the point cloud fails on its own, the models still arrive.
    EXPECT_EQ(completed, 3);
    EXPECT_EQ(failed, 1);
}

// Portrait and landscape photos whose scaled sizes do not divide, one of them a pixel off its
// camera as the undistorter may leave it: at every detail level each view's depth map has its
// own image's size and the region never reaches outside it.
TEST(DepthStep, ImageSizesAreTheImagesOwnAtEveryDetail) {
    struct Photo {
        cv::Size camera, image;
    };
    const std::vector<Photo> photos = {{{901, 1601}, {901, 1601}},
                                       {{1003, 751}, {1003, 751}},
                                       {{901, 1601}, {900, 1600}},
                                       {{1601, 901}, {1601, 901}}};
    for (const auto detail : {RequestDetail::preview, RequestDetail::reduced, RequestDetail::medium,
                              RequestDetail::full}) {
        StepFolder folder;
        const Checkpoint& checkpoint = folder.checkpoint;
        const StepContext& context = folder.context;
        fs::create_directories(checkpoint / "dense" / "images");
        SparseModel model;
        std::mt19937 random(1);
        for (std::size_t i = 0; i < photos.size(); ++i) {
            RegisteredView view;
            view.id = int(i + 1);
            view.name = "photo" + std::to_string(i) + ".jpg";
            const auto& [camera, image] = photos[i];
            view.camera = {camera.width,       camera.height,      1.2 * camera.width,
                           1.2 * camera.width, camera.width / 2.0, camera.height / 2.0};
            view.centre = {0.4 * double(i) - 0.6, 0, -5};
            model.views.push_back(view);
            cv::Mat noise(image, CV_8UC3);
            cv::randu(noise, 0, 255);
            ASSERT_TRUE(cv::imwrite((checkpoint / "dense" / "images" / view.name).string(), noise));
        }
        std::vector<ViewNeighbours> neighbours(photos.size());
        for (std::size_t i = 0; i < photos.size(); ++i) {
            for (std::size_t j = 0; j < photos.size(); ++j)
                if (j != i) neighbours[i].neighbours.push_back(j);
            neighbours[i].nearest = 4;
            neighbours[i].farthest = 6;
        }
        const DetailPlan plan = planFor(detail);
        const ObjectRegion everywhere{{0, 0, 0}, 100, -1};
        ASSERT_NO_THROW(runDepthStep(context, model, neighbours, everywhere,
                                     {.denseSide = plan.denseSide, .planes = 8, .threads = 2}))
            << detailName(detail);
        for (const auto& view : model.views) {
            const auto map = loadDepthMap(depthFile(context, view));
            ASSERT_TRUE(map) << view.name;
            EXPECT_EQ(map->size(), denseColour(context, view, plan.denseSide).size()) << view.name;
        }
        // Fusion reads the maps back at their own size; noise may leave too few points, which
        // is a failure of the step, not a fault.
        try {
            runFusionStep(context, model, neighbours, everywhere,
                          {.denseSide = plan.denseSide, .removeSupport = false});
        } catch (const StepFailure&) {
        }
    }
}

namespace {

// A structure-from-motion model as the mapper leaves it: one phone-like lens with barrel
// distortion, two photos a little apart looking along +Z, points in front of them, and the
// working photos themselves (blurred noise).
struct DistortedModel {
    LensCamera lens{1, {640, 480, 520, 520, 320, 240}, -0.08, 0};
    std::vector<Vec3> points;
    std::vector<Vec3> shifts = {{0.3, 0, 0}, {-0.3, 0.1, 0}};  // each photo's t

    explicit DistortedModel(const Checkpoint& checkpoint, cv::Size photoSize = {640, 480}) {
        for (int i = 0; i < 12; ++i)
            points.push_back({-0.8 + 0.15 * i, 0.6 * std::sin(i), 3 + 0.1 * i});
        const fs::path folder = checkpoint / "sparse_text" / "0";
        fs::create_directories(folder);
        fs::create_directories(checkpoint / "images");
        std::ofstream(folder / "cameras.txt")
            << "# Camera list\n1 SIMPLE_RADIAL 640 480 520 320 240 -0.08\n";
        std::ofstream images(folder / "images.txt");
        std::ofstream tracks(folder / "points3D.txt");
        tracks << std::setprecision(17);
        for (std::size_t i = 0; i < points.size(); ++i) {
            tracks << i + 1 << ' ' << points[i][0] << ' ' << points[i][1] << ' ' << points[i][2]
                   << " 10 20 30 0.5 1 " << i << " 2 " << i << '\n';
        }
        for (std::size_t k = 0; k < shifts.size(); ++k) {
            const std::string name = k == 0 ? "a.jpg" : "b.jpg";
            images << k + 1 << " 1 0 0 0 " << shifts[k][0] << ' ' << shifts[k][1] << ' '
                   << shifts[k][2] << " 1 " << name << '\n'
                   << std::setprecision(12);
            for (std::size_t i = 0; i < points.size(); ++i) {
                const auto [u, v] = photoPixel(points[i], k);
                images << u << ' ' << v << ' ' << i + 1 << ' ';
            }
            images << "100 100 -1\n";  // an observation that made no point
            cv::Mat photo(photoSize, CV_8UC3);
            cv::randu(photo, 0, 255);
            cv::GaussianBlur(photo, photo, {0, 0}, 3);
            EXPECT_TRUE(cv::imwrite((checkpoint / "images" / name).string(), photo));
        }
    }

    // Where a point is seen in photo k through the distorted lens.
    std::array<double, 2> photoPixel(const Vec3& point, std::size_t k) const {
        const Vec3 c = point + shifts[k];
        return distortedPixel(lens, lens.pinhole, lens.pinhole.fx * c[0] / c[2] + lens.pinhole.cx,
                              lens.pinhole.fy * c[1] / c[2] + lens.pinhole.cy);
    }
};

// Each photo's observations in a text model's images.txt: x, y, point id.
std::vector<std::vector<std::array<double, 3>>> observations(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::vector<std::array<double, 3>>> all;
    std::string pose, line;
    while (std::getline(in, pose)) {
        if (pose.empty() || pose[0] == '#') continue;
        std::getline(in, line);
        std::istringstream seen(line);
        all.emplace_back();
        for (std::array<double, 3> o; seen >> o[0] >> o[1] >> o[2];) all.back().push_back(o);
    }
    return all;
}

}  // namespace

TEST(UndistortStep, PhotosAndObservationsMoveToThePinholeCameraAndAResumedRunKeepsThem) {
    StepFolder folder;
    const DistortedModel distorted(folder.checkpoint);
    const SparseModel model = runUndistortStep(folder.context, "0");
    const PinholeCamera pinhole = undistortedCamera(distorted.lens);
    ASSERT_EQ(model.views.size(), 2u);
    const auto seen = observations(folder.checkpoint / "dense" / "sparse_text" / "images.txt");
    ASSERT_EQ(seen.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const RegisteredView& view = model.views[k];
        EXPECT_EQ(view.camera.fx, pinhole.fx);
        EXPECT_EQ(view.camera.width, pinhole.width);
        EXPECT_EQ(view.camera.cx, pinhole.cx);
        EXPECT_EQ(view.pointIds.size(), distorted.points.size());
        ASSERT_EQ(seen[k].size(), distorted.points.size() + 1);
        // Each observation lies where the pinhole camera projects its point.
        for (std::size_t i = 0; i < distorted.points.size(); ++i) {
            const Vec3 pixel = view.project(model.points.at(std::int64_t(i + 1)).position);
            EXPECT_NEAR(seen[k][i][0], pixel[0], 1e-6) << k << ", " << i;
            EXPECT_NEAR(seen[k][i][1], pixel[1], 1e-6) << k << ", " << i;
        }
        EXPECT_EQ(seen[k].back()[2], -1);
        const auto moved = undistortedPixel(distorted.lens, pinhole, 100, 100);
        EXPECT_NEAR(seen[k].back()[0], moved[0], 1e-6);
        // The written photo is the working photo resampled.
        const std::string name = view.name;
        const cv::Mat expected = undistortImage(
            cv::imread((folder.checkpoint / "images" / name).string()), distorted.lens, pinhole);
        const cv::Mat written =
            cv::imread((folder.checkpoint / "dense" / "images" / name).string());
        ASSERT_EQ(written.size(), expected.size()) << name;
        cv::Mat difference;
        cv::absdiff(written, expected, difference);
        EXPECT_LT(cv::mean(difference)[0], 1.5) << name;
    }
    // Resumed: the step is done, so nothing is read from the working photos again.
    fs::remove_all(folder.checkpoint / "images");
    const SparseModel again = runUndistortStep(folder.context, "0");
    ASSERT_EQ(again.views.size(), 2u);
    EXPECT_EQ(again.views[1].camera.fx, pinhole.fx);
}

TEST(UndistortStep, AWorkingPhotoOfAnotherSizeFailsTheStep) {
    StepFolder folder;
    const DistortedModel distorted(folder.checkpoint, {320, 240});
    try {
        runUndistortStep(folder.context, "0");
        ADD_FAILURE() << "a resized photo was undistorted";
    } catch (const StepFailure& failure) {
        EXPECT_NE(failure.error.description.find("missing or resized"), std::string::npos)
            << failure.error.description;
    }
    EXPECT_FALSE(folder.context.done(Step::undistortion));
}
