// Runs the built pelorin-evaluate on scratch folders and reads the JSON it writes.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "engine/formats/glb_writer.h"
#include "engine/formats/ply.h"
#include "evaluation/rasteriser.h"
#include "evaluation/truth_cameras.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_shapes.h"

namespace pelorin::evaluation {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using pelorin::testing::ScratchFolder;
using pelorin::testing::writeFile;

struct Outcome {
    int status = -1;
    std::string output;  // standard output and error together
    json report;         // what --json wrote, when it did
};

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Runs the tool with the arguments (and environment settings before them), writing its JSON
// into the scratch folder.
Outcome evaluate(const ScratchFolder& scratch, const std::vector<std::string>& arguments,
                 const std::string& environment = "") {
    const fs::path jsonFile = scratch / "report.json";
    fs::remove(jsonFile);
    std::string command = environment + " " + quoted(PELORIN_EVALUATE_BINARY);
    for (const auto& argument : arguments) command += " " + quoted(argument);
    if (!arguments.empty()) command += " --json " + quoted(jsonFile.string());
    command += " 2>&1";
    Outcome run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    while (std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe))
        run.output.append(buffer, read);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (fs::exists(jsonFile)) {
        const auto bytes = pelorin::testing::readBytes(jsonFile);
        run.report = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    }
    return run;
}

// A binary little-endian PLY with float coordinates, as truth folders hold their meshes.
std::string binaryPly(const Mesh& mesh) {
    std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                       std::to_string(mesh.vertices.size()) +
                       "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                       std::to_string(mesh.triangles.size()) +
                       "\nproperty list uchar int vertex_indices\nend_header\n";
    for (const auto& v : mesh.vertices) {
        for (double c : v) {
            const float f = static_cast<float>(c);
            text.append(reinterpret_cast<const char*>(&f), 4);
        }
    }
    for (const auto& t : mesh.triangles) {
        text += '\3';
        for (auto i : t) {
            const auto index = static_cast<std::int32_t>(i);
            text.append(reinterpret_cast<const char*>(&index), 4);
        }
    }
    return text;
}

// A camera `distance` from the origin at the given azimuth, a little above, looking at it.
TruthView ringView(const std::string& name, double azimuth, double distance) {
    const Point position = {distance * std::sin(azimuth), 1.5, distance * std::cos(azimuth)};
    auto normalised = [](Point p) {
        const double n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        return Point{p[0] / n, p[1] / n, p[2] / n};
    };
    auto cross = [](const Point& a, const Point& b) {
        return Point{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                     a[0] * b[1] - a[1] * b[0]};
    };
    // The camera's +Z points away from what it looks at.
    const Point z = normalised(position);
    const Point x = normalised(cross({0, 1, 0}, z));
    const Point y = cross(z, x);
    TruthView view;
    view.name = name;
    view.cameraTransform = {x[0], x[1], x[2], 0, y[0],        y[1],        y[2],        0,
                            z[0], z[1], z[2], 0, position[0], position[1], position[2], 1};
    view.intrinsics = {150, 0, 0, 0, 150, 0, 80, 60, 1};
    view.gravity = {-x[1], -y[1], -z[1]};
    return view;
}

// A truth folder for the lumpy solid: its mesh, and sixteen cameras around it for 160 x 120
// photos named IMG_01.jpg ... IMG_16.jpg.
fs::path makeTruth(const ScratchFolder& scratch) {
    const fs::path truth = scratch / "truth";
    writeFile(truth / "mesh.ply", binaryPly(fixtures::lumpySolid()));
    TruthCameras cameras;
    cameras.width = 160;
    cameras.height = 120;
    cameras.objectBounds = link::ObjectBounds{{0, 0, 0}, 1.6f, 3.6f};
    for (int i = 0; i < 16; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "IMG_%02d.jpg", i + 1);
        cameras.views.push_back(ringView(name, 2 * std::numbers::pi * i / 16, 6));
    }
    EXPECT_TRUE(saveTruthCameras(cameras, truth / "cameras.json"));
    return truth;
}

double figure(const Outcome& run, const char* name) {
    EXPECT_TRUE(run.report.contains(name)) << name << "\n" << run.output;
    return run.report.value(name, std::nan(""));
}

TEST(EvaluateCli, TheTruthItselfScoresPerfectlyWhereverItStands) {
    ScratchFolder scratch;
    const fs::path truth = makeTruth(scratch);
    const Mesh moved = fixtures::someSimilarity(0.37).apply(fixtures::lumpySolid());
    ASSERT_TRUE(engine::writePlyMesh(moved, scratch / "moved.ply"));
    const Outcome ply =
        evaluate(scratch, {"--model", (scratch / "moved.ply").string(), "--truth", truth.string()});
    ASSERT_EQ(ply.status, 0) << ply.output;
    EXPECT_LT(figure(ply, "meanErrorPercentOfDiagonal"), 1e-3);
    EXPECT_EQ(figure(ply, "completenessPercent"), 100);
    // The ring of level cameras shows most of the solid, and all of that is there.
    EXPECT_GT(figure(ply, "seenByPhotosPercent"), 50);
    EXPECT_EQ(figure(ply, "completenessOfSeenPercent"), 100);
    EXPECT_NEAR(figure(ply, "alignmentScale"), 1 / 0.37, 1e-3);
    EXPECT_EQ(ply.report.value("alignment", ""), "similarity");
    // One line per figure, as printed.
    EXPECT_NE(ply.output.find("completenessPercent: 100"), std::string::npos) << ply.output;

    // The same as a GLB model with its textures, as the studio delivers it.
    engine::TexturedMesh textured = fixtures::texturedOf(moved);
    pelorin::testing::writeFile(scratch / "model.glb", *engine::GlbWriter::buildGLB(textured));
    const Outcome glb =
        evaluate(scratch, {"--model", (scratch / "model.glb").string(), "--truth", truth.string()});
    ASSERT_EQ(glb.status, 0) << glb.output;
    EXPECT_LT(figure(glb, "meanErrorPercentOfDiagonal"), 1e-3);
    EXPECT_EQ(figure(glb, "completenessPercent"), 100);
}

TEST(EvaluateCli, ARigidFitShowsAWholeSurfaceOffset) {
    ScratchFolder scratch;
    const fs::path truth = makeTruth(scratch);
    const double diagonal = fixtures::lumpySolid().diagonal();
    const Mesh offset = fixtures::someSimilarity(1).apply(fixtures::lumpySolid(0.01 * diagonal));
    ASSERT_TRUE(engine::writePlyMesh(offset, scratch / "offset.ply"));
    const std::vector<std::string> arguments = {"--model", (scratch / "offset.ply").string(),
                                                "--truth", truth.string()};
    auto rigidArguments = arguments;
    rigidArguments.push_back("--rigid");
    const Outcome rigid = evaluate(scratch, rigidArguments);
    ASSERT_EQ(rigid.status, 0) << rigid.output;
    EXPECT_GT(figure(rigid, "meanErrorPercentOfDiagonal"), 0.8);
    EXPECT_LT(figure(rigid, "meanErrorPercentOfDiagonal"), 1.2);
    EXPECT_EQ(rigid.report.value("alignment", ""), "rigid");
    // The scale a similarity would have taken to hide the offset.
    EXPECT_LT(figure(rigid, "alignmentScale"), 0.995);

    const Outcome similarity = evaluate(scratch, arguments);
    ASSERT_EQ(similarity.status, 0) << similarity.output;
    EXPECT_LT(figure(similarity, "meanErrorPercentOfDiagonal"),
              0.6 * figure(rigid, "meanErrorPercentOfDiagonal"));
}

TEST(EvaluateCli, BadArgumentsAndBadTruthGiveAReason) {
    ScratchFolder scratch;
    const fs::path truth = makeTruth(scratch);
    ASSERT_TRUE(engine::writePlyMesh(fixtures::lumpySolid(), scratch / "model.ply"));
    const std::string model = (scratch / "model.ply").string();

    struct Case {
        std::vector<std::string> arguments;
        const char* reason;
    };
    const std::vector<Case> usageErrors = {
        {{"--model", model, "photos"}, "give a model or photos"},
        {{"--model", model, "--truth", truth.string(), "--hold-out", "2"}, "needs photos"},
        {{"photos", "--hold-out", "0", "--truth", truth.string()}, "--hold-out needs a number"},
        {{"photos", "--hold-out", "two", "--truth", truth.string()}, "--hold-out needs a number"},
        {{"--model", model, "--work", (scratch / "work").string()}, "--work needs photos"},
        {{"photos", "--pictures"}, "--pictures needs a value"},
        {{"photos", "--detail", "extreme"}, "unknown detail \"extreme\""},
        {{"photos", "--truth"}, "--truth needs a value"},
        {{"photos", "--fast"}, "unexpected argument \"--fast\""},
        {{"photos", "more-photos"}, "unexpected argument \"more-photos\""},
    };
    for (const auto& c : usageErrors) {
        const Outcome run = evaluate(scratch, c.arguments);
        EXPECT_EQ(run.status, 2) << c.reason;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("usage:"), std::string::npos) << run.output;
        EXPECT_TRUE(run.report.is_null()) << c.reason;
    }
    const Outcome bare = evaluate(scratch, {});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.output.find("usage:"), std::string::npos);

    // Damaged truth folders and models: one line naming the file, and a failure status.
    std::string truncated = binaryPly(fixtures::lumpySolid());
    truncated.resize(truncated.size() / 2);
    writeFile(scratch / "cut" / "mesh.ply", truncated);
    fs::create_directories(scratch / "empty");
    writeFile(scratch / "badcameras" / "mesh.ply", binaryPly(fixtures::lumpySolid()));
    writeFile(scratch / "badcameras" / "cameras.json", "{\"images\": [{\"name\": 3}]}");
    writeFile(scratch / "model.glb", "glTF\2\0\0\0 not really a model");
    const std::vector<Case> failures = {
        {{"--model", model, "--truth", (scratch / "absent").string()}, "not a truth folder"},
        {{"--model", model, "--truth", (scratch / "empty").string()}, "mesh.ply"},
        {{"--model", model, "--truth", (scratch / "cut").string()}, "truncated PLY"},
        {{"--model", model, "--truth", (scratch / "badcameras").string()}, "cameras.json"},
        {{"--model", (scratch / "model.glb").string(), "--truth", truth.string()}, "model.glb"},
        {{"--model", (scratch / "none.usdz").string(), "--truth", truth.string()}, "none.usdz"},
        {{(scratch / "empty").string(), "--work", (scratch / "model.glb" / "work").string()},
         "cannot be made a work folder"},
    };
    for (const auto& c : failures) {
        const Outcome run = evaluate(scratch, c.arguments);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(run.output.starts_with("pelorin-evaluate: ")) << run.output;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_TRUE(run.report.is_null()) << c.reason;
    }
}

// Photos of the lumpy solid rendered through the truth's cameras, as PNG files named like the
// truth's views but for their extension.
fs::path makePhotos(const ScratchFolder& scratch, const fs::path& truth) {
    const auto cameras = loadTruthCameras(truth / "cameras.json");
    EXPECT_TRUE(cameras);
    const auto model = fixtures::texturedOf(fixtures::lumpySolid());
    const fs::path photos = scratch / "photos";
    fs::create_directories(photos);
    for (const auto& view : cameras->views) {
        const PinholeCamera camera(view.cameraTransform, view.intrinsics, 160, 120);
        const auto rendered = renderTextured(model, Similarity{}, camera);
        EXPECT_TRUE(rendered);
        cv::imwrite((photos / fs::path(view.name).replace_extension(".png")).string(),
                    rendered->colour);
    }
    return photos;
}

TEST(EvaluateCli, HeldOutPhotosStayOutAndAreJudged) {
    ScratchFolder scratch;
    const fs::path truth = makeTruth(scratch);
    const fs::path photos = makePhotos(scratch, truth);
    const std::string replay = "PELORIN_PHOTOGRAMMETRY=replay";

    // Whatever model the backend makes, the plumbing is checked: which photos were held out,
    // that the reconstruction did not see them, and that each was judged.
    const Outcome run =
        evaluate(scratch, {photos.string(), "--truth", truth.string(), "--hold-out", "3"}, replay);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(figure(run, "photos"), 13);
    EXPECT_EQ(figure(run, "photosHeldOut"), 3);
    EXPECT_GT(figure(run, "peakMemoryMegabytes"), 1);
    const json& heldOut = run.report["heldOut"];
    ASSERT_TRUE(heldOut.is_object()) << run.output;
    std::vector<std::string> judged;
    for (const auto& [name, view] : heldOut["views"].items()) {
        judged.push_back(name);
        EXPECT_TRUE(view["psnrDecibels"].is_number()) << name;
        EXPECT_GE(view["coveragePercent"].get<double>(), 0) << name;
        EXPECT_LE(view["coveragePercent"].get<double>(), 100) << name;
    }
    EXPECT_EQ(judged, (std::vector<std::string>{"IMG_03.png", "IMG_09.png", "IMG_14.png"}));
    EXPECT_TRUE(heldOut["meanPsnrDecibels"].is_number());
    EXPECT_TRUE(fs::exists(photos / "IMG_09.png")) << "the photo folder itself is left alone";

    // Every held-out photo needs a true camera, and some photos must remain.
    fs::rename(photos / "IMG_09.png", photos / "IMG_09x.png");
    const Outcome unknown =
        evaluate(scratch, {photos.string(), "--truth", truth.string(), "--hold-out", "3"}, replay);
    EXPECT_EQ(unknown.status, 1) << unknown.output;
    EXPECT_NE(unknown.output.find("IMG_09x.png has no camera in the truth"), std::string::npos)
        << unknown.output;
    const Outcome all =
        evaluate(scratch, {photos.string(), "--truth", truth.string(), "--hold-out", "16"}, replay);
    EXPECT_EQ(all.status, 1) << all.output;
    EXPECT_NE(all.output.find("cannot hold out 16 of 16 photos"), std::string::npos) << all.output;
}

}  // namespace
}  // namespace pelorin::evaluation
