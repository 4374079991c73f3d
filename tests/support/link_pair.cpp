#include "tests/support/link_pair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <ostream>

namespace pelorin::link {

void PrintTo(const LinkConnection::State& state, std::ostream* out) {
    static const char* const names[] = {"connecting", "waiting", "ready", "failed", "closed"};
    *out << names[static_cast<int>(state.kind)];
    if (!state.text.empty()) *out << "(\"" << state.text << "\")";
}

}  // namespace pelorin::link

namespace pelorin::link::testing {

std::vector<Kind> kinds(const std::vector<State>& states) {
    std::vector<Kind> out;
    for (const auto& state : states) out.push_back(state.kind);
    return out;
}

std::vector<State> ConnectionLog::states() const {
    std::vector<State> out;
    for (const auto& event : events.values()) {
        if (const auto* state = std::get_if<State>(&event)) out.push_back(*state);
    }
    return out;
}

std::vector<Frame> ConnectionLog::frames() const {
    std::vector<Frame> out;
    for (const auto& event : events.values()) {
        if (const auto* frame = std::get_if<Frame>(&event)) out.push_back(*frame);
    }
    return out;
}

bool ConnectionLog::waitFor(const std::function<bool(const Event&)>& matches,
                            std::size_t count) const {
    return events.waitUntil([&](const auto& all) {
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), matches)) >= count;
    });
}

std::shared_ptr<ConnectionLog> record(LinkConnection& connection) {
    auto log = std::make_shared<ConnectionLog>();
    connection.onStateChange = [log](const State& state) { log->events.push(state); };
    connection.onMessage = [log](Frame frame) { log->events.push(std::move(frame)); };
    return log;
}

std::shared_ptr<ServerLog> watch(LinkServer& server, bool acceptConnections) {
    auto log = std::make_shared<ServerLog>();
    server.onStateChange = [log](const LinkServer::State& state) { log->states.push(state); };
    if (acceptConnections) {
        server.onConnection = [log](std::shared_ptr<LinkConnection> connection) {
            auto connectionLog = record(*connection);
            connection->start();
            std::lock_guard lock(log->mutex);
            log->kept.push_back(std::move(connection));
            log->connections.push(connectionLog);
        };
    }
    return log;
}

RawListener::RawListener(asio::io_context& context)
    : context_(context),
      acceptor_(context, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {}

asio::ip::tcp::socket RawListener::accept() {
    asio::ip::tcp::socket socket(context_);
    acceptor_.accept(socket);
    return socket;
}

asio::ip::tcp::socket connectTo(asio::io_context& context, std::uint16_t port) {
    asio::ip::tcp::socket socket(context);
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    return socket;
}

Bytes readExactly(asio::ip::tcp::socket& socket, std::size_t n) {
    Bytes bytes(n);
    asio::read(socket, asio::buffer(bytes));
    return bytes;
}

void writeAll(asio::ip::tcp::socket& socket, const Bytes& bytes) {
    asio::write(socket, asio::buffer(bytes));
}

bool readsEndOfStream(asio::ip::tcp::socket& socket) {
    std::uint8_t byte = 0;
    std::error_code error;
    asio::read(socket, asio::buffer(&byte, 1), error);
    return error == asio::error::eof || error == asio::error::connection_reset;
}

SecureLink::Session clientHandshake(asio::ip::tcp::socket& socket) {
    auto handshake = SecureLink::ClientHandshake::init();
    const auto hello = handshake->helloBytes();
    writeAll(socket, Bytes(hello.begin(), hello.end()));
    Bytes answer = readExactly(socket, SecureLink::serverHelloFixedLength);
    const std::size_t signatureLength = std::size_t{answer[134]} << 8 | answer[135];
    const Bytes signature = readExactly(socket, signatureLength);
    answer.insert(answer.end(), signature.begin(), signature.end());
    auto result = handshake->finish(answer);
    EXPECT_TRUE(result);
    return result->session;
}

SecureLink::ServerResponse serverAnswer(asio::ip::tcp::socket& socket,
                                        const SecureLink::Identity& identity) {
    const Bytes hello = readExactly(socket, SecureLink::clientHelloLength);
    auto response = SecureLink::respond(identity, hello, *crypto::P256Key::generate());
    EXPECT_TRUE(response);
    return std::move(response.value());
}

SecureLink::Identity newIdentity() {
    return SecureLink::Identity(*crypto::P256Key::generate());
}

Bytes rawFrame(std::string_view magic, std::uint32_t headerLength, std::uint64_t bodyLength,
               std::string_view header, const Bytes& body) {
    Bytes frame(magic.begin(), magic.end());
    for (int i = 3; i >= 0; --i) frame.push_back(static_cast<std::uint8_t>(headerLength >> 8 * i));
    for (int i = 7; i >= 0; --i) frame.push_back(static_cast<std::uint8_t>(bodyLength >> 8 * i));
    frame.insert(frame.end(), header.begin(), header.end());
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    // splitmix64, eight bytes a step: the stress test checks gigabytes with it.
    std::uint64_t state = seed;
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        std::memcpy(bytes.data() + i, &z, std::min<std::size_t>(8, n - i));
    }
    return bytes;
}

ConnectedPair connectPair(LinkRuntime& runtime, const SecureLink::Identity& identity) {
    RawListener listener(runtime.context());
    ConnectedPair pair;
    pair.client = LinkConnection::client(runtime, listener.endpoint());
    pair.clientLog = record(*pair.client);
    pair.client->start();
    pair.server = LinkConnection::server(listener.accept(), identity);
    pair.serverLog = record(*pair.server);
    pair.server->start();
    EXPECT_TRUE(pair.clientLog->waitForState(Kind::ready));
    EXPECT_TRUE(pair.serverLog->waitForState(Kind::ready));
    return pair;
}

std::optional<LinkConnection::SendError> sendAndWait(LinkConnection& connection,
                                                     const LinkMessage& message,
                                                     const Bytes& body) {
    std::promise<std::optional<LinkConnection::SendError>> done;
    auto result = done.get_future();
    connection.send(message, body, [&done](std::optional<LinkConnection::SendError> error) {
        done.set_value(std::move(error));
    });
    return result.get();
}

}  // namespace pelorin::link::testing
