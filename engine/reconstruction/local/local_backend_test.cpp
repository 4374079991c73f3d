#include "engine/reconstruction/local/local_backend.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "engine/reconstruction/local/held_out_views.h"
#include "engine/reconstruction/local/parallel_for.h"
#include "tests/support/process_state.h"
#include "tests/support/scratch_folder.h"

using namespace pelorin::engine;
using namespace pelorin::engine::local;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const fs::path reducedSet = fs::path(PELORIN_TEST_DATA) / "statue-reduced" / "photos";

// COLMAP behind a wrapper that notes each command and its process id.
struct LoggedColmap {
    explicit LoggedColmap(const fs::path& folder) : log(folder / "colmap.log") {
        script = folder / "colmap-logged.sh";
        std::ofstream(script) << "#!/bin/sh\necho \"$1 $$\" >> '" << log.string()
                              << "'\nexec colmap \"$@\"\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    std::vector<std::string> commands() const {
        std::vector<std::string> result;
        std::ifstream in(log);
        for (std::string command, pid; in >> command >> pid;) result.push_back(command);
        return result;
    }
    std::vector<pid_t> pids() const {
        std::vector<pid_t> result;
        std::ifstream in(log);
        for (std::string command; in >> command;) {
            pid_t pid;
            in >> pid;
            result.push_back(pid);
        }
        return result;
    }
    fs::path log, script;
};

struct Outcome {
    std::vector<PhotogrammetryEvent> events;
    bool complete = false;
    bool cancelled = false;
    std::chrono::steady_clock::duration cancelToEnd{};
};

// Runs a session over `photos`, cancelling it when `cancelWhen` first says so.
Outcome run(LocalBackend& backend, const fs::path& photos, const fs::path& checkpoint,
            const std::vector<PhotogrammetryRequest>& requests,
            const std::function<bool(const PhotogrammetryEvent&)>& cancelWhen = {}) {
    PhotogrammetryConfiguration configuration;
    configuration.checkpointDirectory = checkpoint;
    auto session = backend.makeSession(photos, configuration);
    EXPECT_TRUE(session);
    Outcome outcome;
    if (!session) return outcome;
    EXPECT_EQ((*session)->process(requests), std::nullopt);
    std::optional<std::chrono::steady_clock::time_point> cancelledAt;
    while (true) {
        auto event = (*session)->nextEvent();
        EXPECT_TRUE(event);
        if (!event || !event.value()) break;
        outcome.events.push_back(*event.value());
        const auto& e = outcome.events.back();
        if (std::holds_alternative<events::ProcessingComplete>(e)) outcome.complete = true;
        if (std::holds_alternative<events::ProcessingCancelled>(e)) outcome.cancelled = true;
        if (!cancelledAt && cancelWhen && cancelWhen(e)) {
            cancelledAt = std::chrono::steady_clock::now();
            (*session)->cancel();
        }
    }
    if (cancelledAt) outcome.cancelToEnd = std::chrono::steady_clock::now() - *cancelledAt;
    return outcome;
}

bool reachedStage(const PhotogrammetryEvent& event, ProcessingStage stage) {
    const auto* info = std::get_if<events::RequestProgressInfo>(&event);
    return info && info->info.processingStage == stage;
}

}  // namespace

TEST(LocalBackendTest, CancelStopsColmapQuicklyAndTheNextRunResumesAfterStructureFromMotion) {
    pelorin::testing::ScratchFolder folder;
    LoggedColmap colmap(folder.path());
    LocalBackend backend(ColmapTool{colmap.script.string()});
    ASSERT_TRUE(backend.isSupported());
    const fs::path checkpoint = folder / "Checkpoint";
    const auto usdz = folder / "out" / "model.usdz";
    const auto obj = folder / "out" / "OBJ";
    fs::create_directories(obj);
    const std::vector<PhotogrammetryRequest> requests = {
        PhotogrammetryRequest::modelFile(usdz, RequestDetail::preview),
        PhotogrammetryRequest::modelFile(obj, RequestDetail::preview),
        PhotogrammetryRequest::pointCloud()};

    // Cancelled while COLMAP's mapper reports progress: every COLMAP process ends at once.
    auto first = run(backend, reducedSet, checkpoint, requests, [&](const auto& e) {
        const auto commands = colmap.commands();
        return std::holds_alternative<events::RequestProgress>(e) &&
               std::find(commands.begin(), commands.end(), "mapper") != commands.end();
    });
    EXPECT_TRUE(first.cancelled);
    EXPECT_LT(first.cancelToEnd, 2s);
    ASSERT_FALSE(colmap.pids().empty());
    for (pid_t pid : colmap.pids()) EXPECT_FALSE(pelorin::testing::isRunning(pid)) << pid;

    // Cancelled once the sparse model is made.
    auto second = run(backend, reducedSet, checkpoint, requests, [](const auto& e) {
        return reachedStage(e, ProcessingStage::pointCloudGeneration);
    });
    EXPECT_TRUE(second.cancelled);
    const auto sparse = colmap.commands();
    const auto before = sparse.size();
    EXPECT_NE(std::find(sparse.begin(), sparse.end(), "mapper"), sparse.end());

    // The third run starts after structure from motion and finishes the model.
    auto third = run(backend, reducedSet, checkpoint, requests);
    ASSERT_TRUE(third.complete);
    const auto commands = colmap.commands();
    const std::set<std::string> rerun(commands.begin() + before, commands.end());
    EXPECT_FALSE(rerun.count("feature_importer"));
    EXPECT_FALSE(rerun.count("matches_importer"));
    EXPECT_FALSE(rerun.count("mapper"));
    EXPECT_TRUE(rerun.count("poisson_mesher"));

    std::size_t completed = 0, points = 0, skipped = 0;
    double last = 0;
    std::set<ProcessingStage> stages;
    for (const auto& e : third.events) {
        if (const auto* done = std::get_if<events::RequestComplete>(&e)) {
            ++completed;
            if (const auto* cloud = std::get_if<PointCloudResult>(&done->result))
                points = cloud->points.size();
        }
        if (const auto* error = std::get_if<events::RequestError>(&e))
            ADD_FAILURE() << error->error.description;
        if (std::holds_alternative<events::SkippedSample>(e)) ++skipped;
        if (const auto* progress = std::get_if<events::RequestProgress>(&e)) {
            EXPECT_GE(progress->fraction, last);
            EXPECT_LE(progress->fraction, 1.0);
            last = progress->fraction;
        }
        if (const auto* info = std::get_if<events::RequestProgressInfo>(&e))
            if (info->info.processingStage) stages.insert(*info->info.processingStage);
    }
    EXPECT_EQ(completed, 3u);
    EXPECT_GT(points, 5000u);
    EXPECT_LE(skipped, 2u);
    EXPECT_TRUE(stages.count(ProcessingStage::meshGeneration));
    EXPECT_TRUE(stages.count(ProcessingStage::textureMapping));
    EXPECT_GT(fs::file_size(usdz), 100000u);
    for (const char* name : {"model.obj", "model.mtl", "model.png"})
        EXPECT_TRUE(fs::is_regular_file(obj / name)) << name;
}

// A fault in any step's workers, an exception or running out of memory, fails that run with
// its kind; the next run of the same job resumes where the checkpoint ends. The faults come in
// pipeline order, so the chain costs about one build.
TEST(LocalBackendTest, AFaultInAnyStepsWorkersFailsTheRunAndTheNextRunResumes) {
    pelorin::testing::ScratchFolder folder;
    LoggedColmap colmap(folder.path());
    LocalBackend backend(ColmapTool{colmap.script.string()});
    ASSERT_TRUE(backend.isSupported());
    // Without capture.json, as a dropped folder: the likely-pairs pass runs.
    const fs::path photos = folder / "photos";
    fs::create_directories(photos);
    for (const auto& entry : fs::directory_iterator(reducedSet))
        if (entry.path().extension() == ".jpg")
            fs::copy_file(entry.path(), photos / entry.path().filename());
    const fs::path checkpoint = folder / "Checkpoint";
    const std::vector<PhotogrammetryRequest> requests = {
        PhotogrammetryRequest::modelFile(folder / "out" / "model.usdz", RequestDetail::preview)};
    fs::create_directories(folder / "out");

    struct Fault {
        const char* loop;
        bool memory;
    };
    const std::vector<Fault> faults = {{"features", false},
                                       {"features", true},
                                       {"pairs", false},
                                       {"pairs", true},
                                       {"depth maps", false},
                                       {"depth maps", true},
                                       {"fusion", false},
                                       {"fusion", true},
                                       {"texture views", false},
                                       {"texture views", true},
                                       {"texture blending", false},
                                       {"texture blending", true}};
    for (const auto& fault : faults) {
        std::atomic<bool> injected{false};
        setParallelFault([&](std::string_view loop, std::size_t) {
            if (loop != fault.loop) return;
            injected = true;
            if (fault.memory) throw std::bad_alloc();
            throw std::runtime_error("injected into " + std::string(loop));
        });
        const auto outcome = run(backend, photos, checkpoint, requests);
        setParallelFault({});
        EXPECT_TRUE(injected) << fault.loop;
        ASSERT_TRUE(outcome.complete) << fault.loop;
        const PhotogrammetryError* error = nullptr;
        for (const auto& e : outcome.events)
            if (const auto* failed = std::get_if<events::RequestError>(&e)) error = &failed->error;
        ASSERT_NE(error, nullptr) << fault.loop;
        EXPECT_EQ(error->kind, fault.memory ? PhotogrammetryError::Kind::insufficientMemory
                                            : PhotogrammetryError::Kind::other)
            << fault.loop;
        if (!fault.memory) {
            EXPECT_EQ(error->description, "injected into " + std::string(fault.loop));
        }
    }
    const auto last = run(backend, photos, checkpoint, requests);
    ASSERT_TRUE(last.complete);
    for (const auto& e : last.events)
        if (const auto* failed = std::get_if<events::RequestError>(&e))
            ADD_FAILURE() << failed->error.description;
    EXPECT_GT(fs::file_size(folder / "out" / "model.usdz"), 100000u);
    // Every step that had finished was taken from the checkpoint, never made again.
    const auto commands = colmap.commands();
    for (const char* command : {"feature_importer", "mapper", "poisson_mesher"})
        EXPECT_EQ(std::count(commands.begin(), commands.end(), command), 1) << command;
}

// The evaluation's hold-out: structure from motion places the photos, and nothing after it sees
// them, so that the model can be judged against them.
TEST(LocalBackendTest, HeldOutPhotosArePlacedButTheModelIsNotMadeFromThem) {
    pelorin::testing::ScratchFolder folder;
    const std::set<std::string> held = {"IMG_0030.jpg", "IMG_0041.jpg"};
    LocalBackend backend({}, {.heldOut = held});
    const fs::path checkpoint = folder / "Checkpoint";
    const auto outcome =
        run(backend, reducedSet, checkpoint,
            {PhotogrammetryRequest::modelFile(folder / "model.usdz", RequestDetail::preview)});
    ASSERT_TRUE(outcome.complete);
    for (const auto& event : outcome.events)
        ASSERT_FALSE(std::holds_alternative<events::RequestError>(event));
    ASSERT_TRUE(fs::exists(folder / "model.usdz"));

    const auto views = readHeldOutViews(checkpoint);
    ASSERT_TRUE(views) << views.error();
    std::set<std::string> placed;
    std::set<std::string> heldNames;
    for (const auto& [photo, view, image] : *views) {
        placed.insert(photo);
        heldNames.insert(view.name);
        const cv::Mat undistorted = cv::imread(image.string());
        ASSERT_FALSE(undistorted.empty()) << image;
        EXPECT_EQ(undistorted.cols, view.camera.width);
        EXPECT_EQ(undistorted.rows, view.camera.height);
    }
    EXPECT_EQ(placed, held);
    // Every other registered photo has its depth map; the held-out ones have none.
    const auto model = loadSparseModel(checkpoint / "local" / "dense" / "sparse_text");
    ASSERT_TRUE(model) << model.error();
    ASSERT_GT(model->views.size(), held.size() + 10);
    for (const auto& view : model->views) {
        const bool hasDepth =
            fs::exists(checkpoint / "local" / "depth" / (std::to_string(view.id) + ".bin"));
        EXPECT_EQ(hasDepth, !heldNames.count(view.name)) << view.name;
    }

    // A record that is not ours is refused with a reason.
    pelorin::testing::writeFile(
        checkpoint / "local" / "held_out.json",
        R"([{"photo": "a.jpg", "name": "../../etc/passwd", "width": 4, "height": 4,)"
        R"( "focal": [1, 1], "principal": [2, 2],)"
        R"( "rotation": [1, 0, 0, 0, 1, 0, 0, 0, 1], "centre": [0, 0, 0]}])");
    EXPECT_FALSE(readHeldOutViews(checkpoint));
    pelorin::testing::writeFile(checkpoint / "local" / "held_out.json", "[{\"name\": 3}]");
    EXPECT_FALSE(readHeldOutViews(checkpoint));
    EXPECT_FALSE(readHeldOutViews(folder / "elsewhere"));
}
