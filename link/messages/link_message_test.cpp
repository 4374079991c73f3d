#include "link/messages/link_message.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace pelorin::link {
namespace {

const auto encoder = makeRecordEncoder();
const auto decoder = makeRecordDecoder();
const Uuid id = *Uuid::parse("A0B1C2D3-E4F5-4607-8819-2A3B4C5D6E7F");
const std::string idText = "\"A0B1C2D3-E4F5-4607-8819-2A3B4C5D6E7F\"";

std::string encode(const LinkMessage& message) {
    return encoder.encode(message);
}

TEST(LinkMessageJson, ExactShapes) {
    EXPECT_EQ(encode(msg::Ping{}), R"({"ping":{}})");
    EXPECT_EQ(encode(msg::Pong{}), R"({"pong":{}})");
    EXPECT_EQ(encode(msg::File{id, "a.jpg"}),
              R"({"file":{"captureID":)" + idText + R"(,"fileName":"a.jpg"}})");
    EXPECT_EQ(encode(msg::ModelChunk{id, 1048576, 5000000}),
              R"({"modelChunk":{"captureID":)" + idText + R"(,"offset":1048576,"total":5000000}})");
    EXPECT_EQ(encode(msg::Error{std::nullopt, "Nope"}), R"({"error":{"message":"Nope"}})");
    EXPECT_EQ(encode(msg::Error{id, "Nope"}),
              R"({"error":{"captureID":)" + idText + R"(,"message":"Nope"}})");
    EXPECT_EQ(encode(msg::RequestStatus{}), R"({"requestStatus":{"captureIDs":[]}})");
    EXPECT_EQ(encode(msg::UploadFinished{id, {}}),
              R"({"uploadFinished":{"captureID":)" + idText + R"(,"missingFiles":[]}})");
    EXPECT_EQ(
        encode(msg::Status{JobStatus{.captureID = id, .phase = JobPhase::queued}}),
        R"({"status":{"_0":{"captureID":)" + idText + R"(,"fraction":0.0,"phase":"queued"}}})");
    StudioInfo info{"Desk", "1.0", 4, true, "linux", std::vector<std::string>{"usdz", "glb"}};
    EXPECT_EQ(encode(msg::Welcome{info}),
              R"({"welcome":{"_0":{"appVersion":"1.0","modelFormats":["usdz","glb"],)"
              R"("photogrammetrySupported":true,"platform":"linux","protocolVersion":4,)"
              R"("studioName":"Desk"}}})");
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
    EXPECT_EQ(decoder.decode<LinkMessage>(R"({"ping":{}})").value(), LinkMessage(msg::Ping{}));
    EXPECT_EQ(decoder.decode<LinkMessage>(R"({"ping":{},"extra":1})").value(),
              LinkMessage(msg::Ping{}));
    for (const char* text : {R"({"ping":{},"pong":{}})", R"({"shout":{}})", "{}"}) {
        auto read = decoder.decode<LinkMessage>(text);
        ASSERT_FALSE(read) << text;
        EXPECT_NE(read.error().message.find("Invalid number of keys found, expected one."),
                  std::string::npos);
    }
    EXPECT_FALSE(decoder.decode<LinkMessage>(R"({"ping":null})"));
    EXPECT_FALSE(decoder.decode<LinkMessage>(R"({"ping":[]})"));
    EXPECT_FALSE(decoder.decode<LinkMessage>(R"(["ping"])"));
    EXPECT_FALSE(decoder.decode<LinkMessage>(R"({"status":{}})"));
    EXPECT_FALSE(decoder.decode<LinkMessage>(R"({"modelChunk":{"captureID":)" + idText +
                                             R"(,"offset":"0","total":1}})"));
    // Unknown inner keys are ignored; null optionals are absent.
    auto error = decoder.decode<LinkMessage>(R"({"error":{"captureID":null,"message":"m","x":1}})");
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, LinkMessage(msg::Error{std::nullopt, "m"}));
}

TEST(HelloRecord, OptionalAndRequiredFields) {
    const std::string base = R"({"hello":{"_0":{"appVersion":"1","deviceID":)" + idText +
                             R"(,"deviceName":"P","protocolVersion":4)";
    auto read = decoder.decode<LinkMessage>(base + R"(,"pairingCode":"000111"}}})");
    ASSERT_TRUE(read) << read.error().message;
    const Hello& hello = std::get<msg::Hello>(*read).hello;
    EXPECT_FALSE(hello.platform);
    EXPECT_FALSE(hello.modelFormats);
    EXPECT_FALSE(decoder.decode<LinkMessage>(base + "}}}"));
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
