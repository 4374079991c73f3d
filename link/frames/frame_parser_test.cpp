#include "link/frames/frame_parser.h"

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "link/frames/frame_codec.h"

namespace pelorin::link {
namespace {

Bytes prefix(std::uint32_t headerLength, std::uint64_t bodyLength, const char* magic = "PLNK") {
    Bytes bytes(magic, magic + 4);
    for (int i = 3; i >= 0; --i)
        bytes.push_back(static_cast<std::uint8_t>(headerLength >> (8 * i)));
    for (int i = 7; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(bodyLength >> (8 * i)));
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

FrameError frameError(const Expected<std::vector<Frame>, FrameParseError>& result) {
    EXPECT_FALSE(result);
    return std::get<FrameError>(result.error());
}

const Uuid captureID = *Uuid::parse("A0B1C2D3-E4F5-4607-8819-2A3B4C5D6E7F");

TEST(FrameCodec, ExactBytes) {
    const Bytes body = {0xDE, 0xAD};
    const Bytes frame = FrameCodec::encode(msg::File{captureID, "a.jpg"}, body);
    const std::string header =
        R"({"file":{"captureID":"A0B1C2D3-E4F5-4607-8819-2A3B4C5D6E7F","fileName":"a.jpg"}})";
    EXPECT_EQ(frame, concat({prefix(header.size(), 2), Bytes(header.begin(), header.end()), body}));

    const Bytes ping = FrameCodec::encode(msg::Ping{});
    EXPECT_EQ(ping, concat({prefix(11, 0),
                            Bytes{'{', '"', 'p', 'i', 'n', 'g', '"', ':', '{', '}', '}'}}));
    EXPECT_EQ(Bytes(ping.begin() + 8, ping.begin() + 16), Bytes(8, 0));
}

TEST(FrameParser, WaitsForWholeFramesFedInAnyPieces) {
    const Bytes body(1000, 7);
    const Bytes frame = FrameCodec::encode(msg::ModelChunk{captureID, 0, 1000}, body);
    FrameParser parser;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        auto frames = parser.feed(std::span(&frame[i], 1));
        ASSERT_TRUE(frames);
        ASSERT_TRUE(frames->empty()) << "frame returned early at byte " << i;
    }
    auto frames = parser.feed(std::span(&frame.back(), 1));
    ASSERT_TRUE(frames);
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ((*frames)[0], (Frame{msg::ModelChunk{captureID, 0, 1000}, body}));
    EXPECT_EQ(parser.bufferSize(), 0u);
    EXPECT_EQ(parser.readIndex(), 0u);
}

TEST(FrameParser, SeveralFramesInOneFeedComeOutInOrder) {
    const Bytes a = FrameCodec::encode(msg::Ping{});
    const Bytes b = FrameCodec::encode(msg::Rejected{"no"});
    const Bytes c = FrameCodec::encode(msg::Pong{}, Bytes{1, 2, 3});
    const Bytes all = concat({a, b, c});
    const std::size_t split = a.size() + b.size() + c.size() / 2;
    FrameParser parser;
    auto first = parser.feed(std::span(all).first(split));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 2u);
    EXPECT_EQ((*first)[0].message, LinkMessage(msg::Ping{}));
    EXPECT_EQ((*first)[1].message, LinkMessage(msg::Rejected{"no"}));
    EXPECT_TRUE((*first)[0].body.empty());
    auto second = parser.feed(std::span(all).subspan(split));
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), 1u);
    EXPECT_EQ((*second)[0].body, (Bytes{1, 2, 3}));
}

TEST(FrameParser, MagicIsCheckedOnlyOnceSixteenBytesAreIn) {
    FrameParser parser;
    const Bytes junk = prefix(2, 0, "HTTP");
    auto partial = parser.feed(std::span(junk).first(15));
    ASSERT_TRUE(partial);
    EXPECT_TRUE(partial->empty());
    const FrameError error = frameError(parser.feed(std::span(junk).subspan(15)));
    EXPECT_EQ(error, FrameError::badMagic());
    EXPECT_EQ(error.description(), "The other device is not running Pelorin.");
}

TEST(FrameParser, HeaderLimitIsCheckedBeforeThePayloadArrives) {
    FrameParser atLimit;
    auto ok = atLimit.feed(prefix(1'048'576, 0));
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ok->empty());

    FrameParser over;
    const FrameError error = frameError(over.feed(prefix(1'048'577, 0)));
    EXPECT_EQ(error, FrameError::headerTooLarge(1'048'577));
    EXPECT_EQ(error.description(), "Message header too large (1048577 bytes).");
    const FrameError huge = frameError(FrameParser().feed(prefix(0xFFFFFFFF, 0)));
    EXPECT_EQ(huge.description(), "Message header too large (4294967295 bytes).");
}

TEST(FrameParser, BodyLimitIsTheSmallerOfParserLimitAndHardCap) {
    EXPECT_TRUE(FrameParser().feed(prefix(2, 536'870'912)));
    EXPECT_EQ(frameError(FrameParser().feed(prefix(2, 536'870'913))).description(),
              "Message body too large (536870913 bytes).");
    EXPECT_TRUE(FrameParser(1000).feed(prefix(2, 1000)));
    EXPECT_EQ(frameError(FrameParser(1000).feed(prefix(2, 1001))), FrameError::bodyTooLarge(1001));
    EXPECT_EQ(frameError(FrameParser(1ULL << 40).feed(prefix(2, 536'870'913))),
              FrameError::bodyTooLarge(536'870'913));
    EXPECT_EQ(frameError(FrameParser().feed(prefix(2, ~0ULL))).description(),
              "Message body too large (18446744073709551615 bytes).");
}

TEST(FrameParser, UndecodableHeaderFailsAndLeavesItsBytes) {
    const std::string header = R"({"ping":{},"pong":{}})";
    FrameParser parser;
    const Bytes good = FrameCodec::encode(msg::Ping{});
    const Bytes bad = concat({prefix(header.size(), 0), Bytes(header.begin(), header.end())});
    auto result = parser.feed(concat({good, bad}));
    ASSERT_FALSE(result);
    ASSERT_TRUE(std::holds_alternative<DecodingError>(result.error()));
    EXPECT_NE(description(result.error()).find("Invalid number of keys found, expected one."),
              std::string::npos);
    // The good frame was taken; the bad one is still there, unconsumed.
    EXPECT_EQ(parser.readIndex(), good.size());
    EXPECT_EQ(parser.bufferSize(), good.size() + bad.size());

    const std::string notJson = "{nope";
    EXPECT_FALSE(FrameParser().feed(
        concat({prefix(notJson.size(), 0), Bytes(notJson.begin(), notJson.end())})));
}

TEST(FrameParser, CompactsOnlyWhenConsumedBytesAreManyAndMost) {
    // Frames of about 1 MiB, each feed ending one byte into the next frame, so that the buffer
    // never empties by itself.
    const Bytes frame = FrameCodec::encode(msg::Pong{}, Bytes(1 << 20, 9));
    const Bytes head(frame.begin(), frame.begin() + 1);
    const Bytes rest(frame.begin() + 1, frame.end());
    FrameParser parser;
    std::vector<std::size_t> readIndexes;
    for (int i = 0; i < 12; ++i) {
        auto frames = parser.feed(concat({i == 0 ? frame : rest, head}));
        ASSERT_TRUE(frames);
        ASSERT_EQ(frames->size(), 1u);
        EXPECT_EQ(parser.bufferSize() - parser.readIndex(), 1u);
        readIndexes.push_back(parser.readIndex());
    }
    // Consumed bytes pile up until they pass 4 MiB, then go at once, leaving the overhang.
    const std::size_t limit = 4u * 1024 * 1024;
    std::size_t expected = 0;
    int compactions = 0;
    for (std::size_t readIndex : readIndexes) {
        expected += frame.size();
        if (expected > limit) {
            expected = 0;
            ++compactions;
        }
        EXPECT_EQ(readIndex, expected);
    }
    EXPECT_EQ(compactions, 3);
}

}  // namespace
}  // namespace pelorin::link
