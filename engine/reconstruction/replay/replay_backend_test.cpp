#include "engine/reconstruction/replay/replay_backend.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/uuid.h"
#include "engine/formats/usdz_check.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::engine {
namespace {

using Step = ReplayScript::Step;
using Kind = Step::Kind;

class ReplayBackendTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(folder_ / "Images"); }

    std::vector<PhotogrammetryEvent> drain(PhotogrammetrySession& session) {
        std::vector<PhotogrammetryEvent> seen;
        while (true) {
            auto event = session.nextEvent();
            if (!event || !event.value()) break;
            seen.push_back(std::move(*event.value()));
        }
        return seen;
    }

    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path();
};

TEST_F(ReplayBackendTest, SuccessfulRunCompletesEveryRequestAndWritesItsFiles) {
    auto script = ReplayScript::successfulRun(0);
    ReplayBackend backend(script);
    auto session = backend.makeSession(folder_ / "Images", {});
    ASSERT_TRUE(session);
    const std::vector<PhotogrammetryRequest> requests = {
        PhotogrammetryRequest::modelFile(folder_ / "model.usdz", RequestDetail::medium),
        PhotogrammetryRequest::modelFile(folder_ / "OBJ", RequestDetail::medium),
        PhotogrammetryRequest::pointCloud()};
    ASSERT_FALSE((*session)->process(requests));
    auto seen = drain(**session);

    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::holds_alternative<events::InputComplete>(seen.front()));
    EXPECT_TRUE(std::holds_alternative<events::ProcessingComplete>(seen.back()));
    std::size_t completed = 0;
    std::size_t points = 0;
    for (const auto& event : seen) {
        if (auto* done = std::get_if<events::RequestComplete>(&event)) {
            ++completed;
            if (auto* cloud = std::get_if<PointCloudResult>(&done->result))
                points = cloud->points.size();
        }
    }
    EXPECT_EQ(completed, 3u);
    EXPECT_EQ(points, 500u);
    EXPECT_TRUE(engine::isUsdzPackage(testing::readBytes(folder_ / "model.usdz")));
    EXPECT_FALSE(std::filesystem::exists(folder_ / ".model.usdz.obj"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "OBJ" / "model.obj"));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "OBJ" / "texture.png"));
    // The stream stays ended.
    auto after = (*session)->nextEvent();
    ASSERT_TRUE(after);
    EXPECT_FALSE(after.value());
}

TEST_F(ReplayBackendTest, CancelInterruptsAWaitAndEndsWithProcessingCancelled) {
    ReplayScript script;
    script.steps = {{.kind = Kind::inputComplete, .after = 60}, {.kind = Kind::processingComplete}};
    ReplayBackend backend(script);
    auto session = backend.makeSession(folder_ / "Images", {});
    ASSERT_TRUE(session);
    ASSERT_FALSE((*session)->process({PhotogrammetryRequest::pointCloud()}));
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        (*session)->cancel();
    });
    auto seen = drain(**session);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<events::ProcessingCancelled>(seen[0]));
    EXPECT_EQ(backend.record()->cancels, 1u);
}

TEST_F(ReplayBackendTest, ScriptedFailures) {
    ReplayScript script = ReplayScript::successfulRun(0);
    script.failProcess =
        PhotogrammetryError{PhotogrammetryError::Kind::insufficientStorage, 1200, ""};
    ReplayBackend backend(script);
    auto session = backend.makeSession(folder_ / "Images", {});
    auto failure = (*session)->process({PhotogrammetryRequest::pointCloud()});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->bytes, 1200);

    script.failProcess.reset();
    script.failPullAt = 2;
    backend.setScript(script);
    session = backend.makeSession(folder_ / "Images", {});
    ASSERT_FALSE((*session)->process({PhotogrammetryRequest::pointCloud()}));
    EXPECT_TRUE((*session)->nextEvent());
    EXPECT_TRUE((*session)->nextEvent());
    EXPECT_FALSE((*session)->nextEvent());

    EXPECT_FALSE(backend.makeSession(folder_ / "absent", {}));
}

TEST_F(ReplayBackendTest, SampleSessionsPullEverySampleInOrder) {
    ReplayBackend backend(ReplayScript::successfulRun(0));
    std::int64_t next = 0;
    SampleSource source = [&]() -> std::optional<PhotogrammetrySample> {
        if (next == 4) return std::nullopt;
        PhotogrammetrySample sample;
        sample.id = next == 2 ? 7 : next;
        if (next == 1) sample.gravity = std::array<double, 3>{0, -1, 0};
        ++next;
        return sample;
    };
    auto session = backend.makeSession(source, {});
    ASSERT_TRUE(session);
    ASSERT_FALSE((*session)->process({PhotogrammetryRequest::pointCloud()}));
    drain(**session);
    auto record = backend.record();
    EXPECT_EQ(record->sampleIds, (std::vector<std::int64_t>{0, 1, 7, 3}));
    EXPECT_TRUE(record->sampleGravity[1].has_value());
    EXPECT_FALSE(record->sampleGravity[0].has_value());
}

TEST(ReplayScriptJson, ReadsEventsAndRefusesUnknownOnes) {
    auto script = ReplayScript::fromJson(R"({"timeScale":0,"events":[
        {"event":"requestProgressInfo","request":0,"stage":"imageAlignment","secondsRemaining":4},
        {"event":"invalidSample","id":3,"reason":"blurry"},
        {"event":"requestError","request":1,"error":{"kind":"insufficientStorage","bytes":99}},
        {"event":"processingComplete"}]})");
    ASSERT_TRUE(script) << script.error();
    ASSERT_EQ(script->steps.size(), 4u);
    EXPECT_EQ(script->steps[0].stage, ProcessingStage::imageAlignment);
    EXPECT_EQ(script->steps[1].sampleId, 3);
    EXPECT_EQ(script->steps[2].error.kind, PhotogrammetryError::Kind::insufficientStorage);
    EXPECT_EQ(script->steps[2].error.bytes, 99);

    EXPECT_FALSE(ReplayScript::fromJson(R"({"events":[{"event":"explode"}]})"));
    EXPECT_FALSE(
        ReplayScript::fromJson(R"({"events":[{"event":"requestProgressInfo","stage":"x"}]})"));
    EXPECT_FALSE(ReplayScript::fromJson("{"));
}

TEST(ServiceChoice, ReplayOnlyWhenAsked) {
    EXPECT_TRUE(makePhotogrammetryService("replay")->isSupported());
    EXPECT_FALSE(makePhotogrammetryService("replay:/nonexistent/script.json")->isSupported());
    EXPECT_FALSE(makePhotogrammetryService("bogus")->isSupported());
}

}  // namespace
}  // namespace pelorin::engine
