// Throughput of a whole link over loopback against plain TCP, measured in the same run:
// 512 frames with 1 MiB bodies (512 MiB of model chunks) go from a client LinkConnection to a
// server-role connection accepted by a LinkServer, which opens and parses them; the baseline
// sends the same encoded frames through a plain TCP socket to a reader that only receives them.
// Goal: link / plain TCP at least 0.8. Rounds of the two alternate, so that other load on the
// machine hits both alike; each figure is the best of its rounds.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "link/frames/frame_codec.h"
#include "link/transport/link_server.h"

using namespace pelorin::link;

namespace {

constexpr std::size_t mebibyte = 1 << 20;
constexpr int frames = 512;
constexpr int rounds = 7;
// Sends in flight at once: enough to keep the socket busy, few enough to bound memory.
constexpr int window = 8;

template <class F>
double seconds(F&& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A counter that other threads change and one thread waits on.
class Gauge {
  public:
    void add(std::int64_t n) {
        std::lock_guard lock(mutex_);
        value_ += n;
        changed_.notify_all();
    }
    std::int64_t value() {
        std::lock_guard lock(mutex_);
        return value_;
    }
    template <class Condition>
    void waitUntil(Condition condition) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return condition(value_); });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t value_ = 0;
};

// A phone sending model chunks to a desktop that parses them, both on one runtime.
class LinkPath {
  public:
    explicit LinkPath(const std::vector<std::uint8_t>& body)
        : body_(body), identity_(*crypto::P256Key::generate()) {
        server_ = LinkServer::create(runtime_, std::nullopt, std::nullopt, identity_).value();
        server_->onConnection = [this](std::shared_ptr<LinkConnection> connection) {
            connection->onMessage = [this](Frame frame) {
                received_.add(static_cast<std::int64_t>(frame.body.size()));
            };
            connection->start();
            desktop_ = std::move(connection);
        };
        server_->start();
        phone_ = LinkConnection::client(runtime_, {"127.0.0.1", *server_->port()});
        phone_->onStateChange = [this](const LinkConnection::State& state) {
            if (state.isFinal()) std::abort();
            if (state.kind == LinkConnection::State::Kind::ready) ready_.add(1);
        };
        phone_->start();
        ready_.waitUntil([](std::int64_t n) { return n > 0; });
    }

    double run() {
        const std::int64_t goal = received_.value() + frames * std::int64_t{mebibyte};
        return seconds([&] {
            for (int i = 0; i < frames; ++i) {
                inFlight_.waitUntil([](std::int64_t n) { return n < window; });
                inFlight_.add(1);
                phone_->send(msg::ModelChunk{id_, i * std::int64_t{mebibyte},
                                             frames * std::int64_t{mebibyte}},
                             body_, [this](auto error) {
                                 if (error) std::abort();
                                 inFlight_.add(-1);
                             });
            }
            received_.waitUntil([&](std::int64_t n) { return n >= goal; });
        });
    }

  private:
    const std::vector<std::uint8_t>& body_;
    const pelorin::Uuid id_ = pelorin::Uuid::random();
    LinkRuntime runtime_;
    SecureLink::Identity identity_;
    Gauge ready_, received_, inFlight_;
    std::shared_ptr<LinkServer> server_;
    std::shared_ptr<LinkConnection> desktop_;
    std::shared_ptr<LinkConnection> phone_;
};

// The same bytes through one plain TCP connection: a writer and a reader thread.
class PlainPath {
  public:
    explicit PlainPath(const std::vector<std::uint8_t>& frame)
        : frame_(frame), buffer_(4 * mebibyte) {
        asio::ip::tcp::acceptor acceptor(context_, {asio::ip::make_address("127.0.0.1"), 0});
        sender_.connect(acceptor.local_endpoint());
        sender_.set_option(asio::ip::tcp::no_delay(true));
        receiver_ = acceptor.accept();
    }

    double run() {
        return seconds([&] {
            std::thread reader([&] {
                std::size_t left = frame_.size() * frames;
                while (left > 0) {
                    left -= receiver_.read_some(
                        asio::buffer(buffer_.data(), std::min(buffer_.size(), left)));
                }
            });
            for (int i = 0; i < frames; ++i) asio::write(sender_, asio::buffer(frame_));
            reader.join();
        });
    }

  private:
    const std::vector<std::uint8_t>& frame_;
    asio::io_context context_;
    asio::ip::tcp::socket sender_{context_};
    asio::ip::tcp::socket receiver_{context_};
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

int main() {
    const std::vector<std::uint8_t> body(mebibyte, 0x5A);
    // One encoded frame, as the baseline sends it 512 times.
    const auto frame = FrameCodec::encode(msg::ModelChunk{pelorin::Uuid::random(), 0, 0}, body);
    const double bytes = static_cast<double>(frames) * body.size();

    LinkPath link(body);
    PlainPath plain(frame);
    double linkBest = 1e9, plainBest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        linkBest = std::min(linkBest, link.run());
        plainBest = std::min(plainBest, plain.run());
    }

    const double linkRate = bytes / linkBest / 1e9;
    const double plainRate = bytes / plainBest / 1e9;
    std::printf("link, 512 x 1 MiB frames, client to server over loopback: %.2f GB/s (%.0f ms)\n",
                linkRate, linkBest * 1e3);
    std::printf("plain TCP, the same frame bytes (baseline):               %.2f GB/s (%.0f ms)\n",
                plainRate, plainBest * 1e3);
    std::printf("ratio link / plain TCP: %.2f (goal >= 0.8)\n", linkRate / plainRate);
    return 0;
}
