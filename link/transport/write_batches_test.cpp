#include "link/transport/write_batches.h"

#include <gtest/gtest.h>

#include <map>

namespace pelorin::link {
namespace {

// Records of many sizes, some larger than any one write would gather, each numbered in its
// first two bytes so that order can be checked.
std::vector<Bytes> records() {
    std::vector<Bytes> all;
    for (int i = 0; i < 300; ++i) {
        const std::size_t size = i % 50 == 7 ? 3 * 1024 * 1024 : 2 + (i * 7919) % 40'000;
        Bytes record(size, 0xA5);
        record[0] = static_cast<std::uint8_t>(i >> 8);
        record[1] = static_cast<std::uint8_t>(i);
        all.push_back(std::move(record));
    }
    return all;
}

// Drives the batches as a connection does, with a failed write among them: every record must
// leave once, in order, and hear of its own write's outcome once.
TEST(WriteBatches, EveryRecordLeavesOnceInOrderAndHearsItsWritesOutcome) {
    WriteBatches batches;
    const auto all = records();
    std::map<int, std::vector<std::optional<LinkConnection::SendError>>> heard;
    std::map<int, std::error_code> outcome;
    Bytes written;
    int batch = 0;
    const std::vector<asio::const_buffer>* inFlight = nullptr;
    // The socket finishes the write in flight.
    auto finish = [&] {
        const auto error =
            batch++ == 3 ? std::make_error_code(std::errc::broken_pipe) : std::error_code();
        for (const auto& buffer : *inFlight) {
            const auto* data = static_cast<const std::uint8_t*>(buffer.data());
            outcome[data[0] << 8 | data[1]] = error;
            written.insert(written.end(), data, data + buffer.size());
        }
        inFlight = batches.finishBatch(error) ? &batches.startBatch() : nullptr;
    };
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
        const bool idle = batches.push(
            {all[i], [&heard, i](auto error) { heard[i].push_back(std::move(error)); }});
        // A write must start exactly when none is in flight.
        EXPECT_EQ(idle, inFlight == nullptr) << i;
        if (idle) {
            inFlight = &batches.startBatch();
            EXPECT_EQ(inFlight->size(), 1u) << i << ": a record waited with no write in flight";
        }
        // A slow socket lets records pile up; after a pause one that keeps up finishes each
        // write as soon as one record waits behind it.
        if (i < 250 ? i % 40 == 39 : !idle) finish();
        if (i == 250) {
            while (inFlight) finish();
        }
    }
    while (inFlight) finish();
    EXPECT_GT(batch, 4);

    Bytes sent;
    for (const auto& record : all) sent.insert(sent.end(), record.begin(), record.end());
    EXPECT_TRUE(written == sent);
    ASSERT_EQ(heard.size(), all.size());
    for (const auto& [i, outcomes] : heard) {
        ASSERT_EQ(outcomes.size(), 1u) << i;
        if (const auto error = outcome.at(i)) {
            ASSERT_TRUE(outcomes[0]) << i;
            EXPECT_EQ(std::get<std::error_code>(*outcomes[0]), error) << i;
        } else {
            EXPECT_FALSE(outcomes[0]) << i;
        }
    }
}

}  // namespace
}  // namespace pelorin::link
