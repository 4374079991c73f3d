#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <random>
#include <thread>

#include "link/transport/link_server.h"
#include "tests/support/link_pair.h"

namespace pelorin::link {
namespace {

using namespace testing;

constexpr int clients = 16;
constexpr int framesPerClient = 200;
constexpr std::size_t maxBody = 1 << 20;
// Sends a client keeps in flight, so that memory stays bounded.
constexpr int window = 4;

// The body of frame i of a client: its size and where it starts in a shared pool of random
// bytes follow from the client's seed, so both ends can check every byte without sharing state,
// and no two frames are alike.
Bytes bodyOf(std::uint32_t seed, int i) {
    static const Bytes pool = randomBytes(2 * maxBody, 7);
    std::mt19937 generator(seed * 1000 + static_cast<std::uint32_t>(i));
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, maxBody)(generator);
    const std::size_t start = std::uniform_int_distribution<std::size_t>(0, maxBody)(generator);
    return Bytes(pool.begin() + start, pool.begin() + start + size);
}

// What the desktop saw; shared with its callbacks, which may outlive the test's locals.
struct Desk {
    std::mutex mutex;
    std::vector<std::shared_ptr<LinkConnection>> connections;
    std::atomic<int> mismatches = 0;
};

// One phone's progress; shared with its connection's callbacks.
struct Phone {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int echoed = 0;
    int mismatches = 0;
    bool ended = false;
};

// Sends every frame of one phone with at most `window` in flight; true when all came back.
bool runPhone(LinkRuntime& runtime, std::uint16_t port, std::uint32_t seed) {
    auto connection = LinkConnection::client(runtime, {"127.0.0.1", port});
    auto phone = std::make_shared<Phone>();
    connection->onMessage = [phone, seed](Frame frame) {
        std::lock_guard lock(phone->mutex);
        phone->mismatches += frame.body != bodyOf(seed, phone->echoed);
        ++phone->echoed;
        phone->changed.notify_all();
    };
    connection->onStateChange = [phone](const State& state) {
        std::lock_guard lock(phone->mutex);
        phone->ended = phone->ended || state.isFinal();
        phone->changed.notify_all();
    };
    connection->start();
    const msg::File header{Uuid::random(), std::to_string(seed)};
    for (int i = 0; i < framesPerClient; ++i) {
        {
            std::unique_lock lock(phone->mutex);
            phone->changed.wait_for(lock, patience,
                                    [&] { return phone->inFlight < window || phone->ended; });
            if (phone->ended || phone->inFlight >= window) return false;
            ++phone->inFlight;
        }
        connection->send(header, bodyOf(seed, i), [phone](auto error) {
            std::lock_guard lock(phone->mutex);
            --phone->inFlight;
            phone->mismatches += error.has_value();
            phone->changed.notify_all();
        });
    }
    std::unique_lock lock(phone->mutex);
    phone->changed.wait_for(lock, patience,
                            [&] { return phone->echoed == framesPerClient || phone->ended; });
    return !phone->ended && phone->mismatches == 0 && phone->echoed == framesPerClient;
}

// Every client sends its frames to the desktop, which checks them and echoes them back; the
// client checks the echoes. Sixteen clients at once over loopback.
TEST(LinkStressTest, SixteenClientsExchangeRandomFramesByteForByte) {
    LinkRuntime runtime;
    const auto identity = newIdentity();
    auto desk = std::make_shared<Desk>();
    auto server = LinkServer::create(runtime, std::nullopt, std::nullopt, identity).value();
    server->onConnection = [desk](std::shared_ptr<LinkConnection> connection) {
        std::weak_ptr<LinkConnection> weak = connection;
        // Frames seen on this connection; touched on its strand only.
        auto count = std::make_shared<int>(0);
        connection->onMessage = [weak, count, desk](Frame frame) {
            const auto* file = std::get_if<msg::File>(&frame.message);
            const auto seed = file ? static_cast<std::uint32_t>(std::stoul(file->fileName)) : 0;
            if (!file || frame.body != bodyOf(seed, (*count)++)) ++desk->mismatches;
            if (auto self = weak.lock()) self->send(frame.message, frame.body);
        };
        connection->start();
        std::lock_guard lock(desk->mutex);
        desk->connections.push_back(std::move(connection));
    };
    server->start();
    ASSERT_TRUE(server->port());
    const std::uint16_t port = *server->port();

    std::atomic<int> failures = 0;
    std::vector<std::thread> phones;
    for (int c = 0; c < clients; ++c) {
        phones.emplace_back([&, seed = static_cast<std::uint32_t>(c + 1)] {
            if (!runPhone(runtime, port, seed)) ++failures;
        });
    }
    for (auto& phone : phones) phone.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(desk->mismatches.load(), 0);
    std::lock_guard lock(desk->mutex);
    EXPECT_EQ(desk->connections.size(), static_cast<std::size_t>(clients));
    desk->connections.clear();  // their callbacks hold the desk
}

}  // namespace
}  // namespace pelorin::link
