#include "engine/reconstruction/replay/replay_backend.h"

#include <gtest/gtest.h>

#include "engine/reconstruction/service_factory.h"

namespace pelorin::engine {
namespace {

using Step = ReplayScript::Step;
using Kind = Step::Kind;

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
