#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <asio.hpp>

#include "common/bytes.h"
#include "link/security/secure_link.h"
#include "link/transport/link_connection.h"
#include "link/transport/link_server.h"

namespace pelorin::link {
// Readable test failures.
void PrintTo(const LinkConnection::State& state, std::ostream* out);
}  // namespace pelorin::link

// Helpers for the tests that run real connections over loopback.
namespace pelorin::link::testing {

using namespace std::chrono_literals;

// Generous: a loaded CI machine under the sanitizers is slow, and a passing test never waits
// this long.
inline constexpr auto patience = 30s;

// Values pushed from other threads, with waiting for a condition over all of them.
template <class T>
class Mailbox {
  public:
    void push(T value) {
        {
            std::lock_guard lock(mutex_);
            values_.push_back(std::move(value));
        }
        changed_.notify_all();
    }
    std::vector<T> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    // True once the condition holds; false after `patience`.
    bool waitUntil(const std::function<bool(const std::vector<T>&)>& condition) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return condition(values_); });
    }
    bool waitForSize(std::size_t n) const {
        return waitUntil([n](const auto& values) { return values.size() >= n; });
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<T> values_;
};

using State = LinkConnection::State;
using Kind = LinkConnection::State::Kind;

std::vector<Kind> kinds(const std::vector<State>& states);

// Everything a connection reports, in the order it reported it.
struct ConnectionLog {
    using Event = std::variant<State, Frame>;
    Mailbox<Event> events;

    std::vector<State> states() const;
    std::vector<Frame> frames() const;
    // True once `count` events match; false after `patience`.
    bool waitFor(const std::function<bool(const Event&)>& matches, std::size_t count = 1) const;
    bool waitForState(Kind kind) const {
        return waitFor([kind](auto& e) { return e.index() == 0 && std::get<0>(e).kind == kind; });
    }
    bool waitForFinal() const {
        return waitFor([](auto& e) { return e.index() == 0 && std::get<0>(e).isFinal(); });
    }
    bool waitForFrames(std::size_t n) const {
        return waitFor([](auto& e) { return e.index() == 1; }, n);
    }
};

// Records the connection's states and frames; the log outlives the connection.
std::shared_ptr<ConnectionLog> record(LinkConnection& connection);

// A server's states, and its connections, started and recorded.
struct ServerLog {
    Mailbox<LinkServer::State> states;
    Mailbox<std::shared_ptr<ConnectionLog>> connections;
    std::mutex mutex;
    std::vector<std::shared_ptr<LinkConnection>> kept;
};
// Records the server; without `acceptConnections` arrivals have no handler.
std::shared_ptr<ServerLog> watch(LinkServer& server, bool acceptConnections = true);

// A listening socket on 127.0.0.1 whose connections the test takes by hand.
class RawListener {
  public:
    explicit RawListener(asio::io_context& context);
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    Endpoint endpoint() const { return {"127.0.0.1", port()}; }
    asio::ip::tcp::socket accept();

  private:
    asio::io_context& context_;
    asio::ip::tcp::acceptor acceptor_;
};

// A blocking socket connected to 127.0.0.1:port.
asio::ip::tcp::socket connectTo(asio::io_context& context, std::uint16_t port);

Bytes readExactly(asio::ip::tcp::socket& socket, std::size_t n);
void writeAll(asio::ip::tcp::socket& socket, const Bytes& bytes);
// True when the peer has closed (or reset) the connection before sending anything more.
bool readsEndOfStream(asio::ip::tcp::socket& socket);

// The phone's side of the handshake done by hand over a blocking socket.
SecureLink::Session clientHandshake(asio::ip::tcp::socket& socket);
// The desktop's side done by hand: reads the hello and returns the answer, unsent.
SecureLink::ServerResponse serverAnswer(asio::ip::tcp::socket& socket,
                                        const SecureLink::Identity& identity);

SecureLink::Identity newIdentity();
// A frame prefix with the given lengths, followed by the header text and body.
Bytes rawFrame(std::string_view magic, std::uint32_t headerLength, std::uint64_t bodyLength,
               std::string_view header = {}, const Bytes& body = {});
Bytes randomBytes(std::size_t n, std::uint32_t seed);

// A started server-role connection and a started client connected to it over loopback.
struct ConnectedPair {
    std::shared_ptr<LinkConnection> client;
    std::shared_ptr<LinkConnection> server;
    std::shared_ptr<ConnectionLog> clientLog;
    std::shared_ptr<ConnectionLog> serverLog;
};
ConnectedPair connectPair(LinkRuntime& runtime, const SecureLink::Identity& identity);

// Sends and waits for the completion; never call it on a connection's strand.
[[nodiscard]] std::optional<LinkConnection::SendError> sendAndWait(LinkConnection& connection,
                                                                   const LinkMessage& message,
                                                                   const Bytes& body = {});

}  // namespace pelorin::link::testing
