#include "link/messages/link_message.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "tests/support/wire_cases.h"

namespace pelorin::link {
namespace {

using pelorin::testing::expectEachDecodes;
using pelorin::testing::expectEachEncodes;
using pelorin::testing::expectEachRefused;

const auto encoder = makeRecordEncoder();
const auto decoder = makeRecordDecoder();
const Uuid id = *Uuid::parse("A0B1C2D3-E4F5-4607-8819-2A3B4C5D6E7F");

std::string encode(const LinkMessage& message) {
    return encoder.encode(message);
}

TEST(LinkMessageJson, ExactShapes) {
    const StudioInfo info{"Desk", "1.0", 4, true, "linux", std::vector<std::string>{"usdz", "glb"}};
    expectEachEncodes<LinkMessage>(
        "messages/encoded",
        {{"ping.json", msg::Ping{}},
         {"pong.json", msg::Pong{}},
         {"file.json", msg::File{id, "a.jpg"}},
         {"model-chunk.json", msg::ModelChunk{id, 1048576, 5000000}},
         {"error-without-capture.json", msg::Error{std::nullopt, "Nope"}},
         {"error.json", msg::Error{id, "Nope"}},
         {"request-status-empty.json", msg::RequestStatus{}},
         {"upload-finished-none-missing.json", msg::UploadFinished{id, {}}},
         {"status.json", msg::Status{JobStatus{.captureID = id, .phase = JobPhase::queued}}},
         {"welcome.json", msg::Welcome{info}}});
}

TEST(LinkMessageJson, EveryCaseRoundTrips) {
    CaptureManifest manifest;
    manifest.id = id;
    manifest.images.push_back(ImageRecord{.fileName = "a.jpg", .hasDepth = true});
    const Hello hello{id, "Ana's phone", "2.0", "123456", 4, std::nullopt, std::nullopt};
    const std::vector<LinkMessage> all = {
        msg::Hello{hello},
        msg::BeginUpload{manifest},
        msg::File{id, "a.jpg"},
        msg::EndUpload{id},
        msg::RequestStatus{{id, Uuid::random()}},
        msg::RequestModel{id},
        msg::CancelJob{id},
        msg::UploadAccepted{id, {"a.jpg"}},
        msg::UploadFinished{id, {"b.jpg", "c.jpg"}},
        msg::Welcome{StudioInfo{"Desk", "1.0", 4, false, std::nullopt, std::nullopt}},
        msg::Rejected{"Wrong code"},
        msg::Status{JobStatus{.captureID = id, .phase = JobPhase::processing, .fraction = 0.5}},
        msg::ModelChunk{id, 0, 10},
        msg::Error{id, "x"},
        msg::Ping{},
        msg::Pong{}};
    ASSERT_EQ(all.size(), 16u);
    std::unordered_set<std::string> names;
    for (const auto& message : all) {
        names.insert(std::string(caseName(message)));
        auto read = decoder.decode<LinkMessage>(encode(message));
        ASSERT_TRUE(read) << encode(message) << ": " << read.error().message;
        EXPECT_EQ(*read, message);
    }
    EXPECT_EQ(names.size(), 16u);
}

TEST(LinkMessageJson, TopLevelNeedsExactlyOneKnownCase) {
    // Unknown keys are ignored, at the top as inside; null optionals are absent.
    expectEachDecodes<LinkMessage>(
        "messages/top-level/decoded",
        {{"ping.json", msg::Ping{}},
         {"ping-extra-key.json", msg::Ping{}},
         {"error-null-and-unknown-keys.json", msg::Error{std::nullopt, "m"}}});
    const std::string notOneCase = "Invalid number of keys found, expected one.";
    expectEachRefused<LinkMessage>("messages/top-level/bad", 8,
                                   {{"two-cases.json", notOneCase},
                                    {"unknown-case.json", notOneCase},
                                    {"no-case.json", notOneCase}});
}

TEST(HelloRecord, OptionalAndRequiredFields) {
    expectEachDecodes<LinkMessage>(
        "messages/hello/decoded",
        {{"without-optionals.json",
          msg::Hello{{id, "P", "1", "000111", 4, std::nullopt, std::nullopt}}}});
    expectEachRefused<LinkMessage>("messages/hello/bad", 1);
}

TEST(HelloRecord, VersionProblem) {
    Hello hello;
    hello.protocolVersion = 4;
    EXPECT_FALSE(hello.versionProblem());
    for (int version : {3, 5}) {
        hello.protocolVersion = version;
        EXPECT_EQ(hello.versionProblem(), "Update both apps to the same version.");
    }
}

}  // namespace
}  // namespace pelorin::link
