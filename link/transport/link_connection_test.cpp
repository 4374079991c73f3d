#include "link/transport/link_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "link/frames/frame_codec.h"
#include "link/frames/frame_parser.h"
#include "tests/support/link_pair.h"

namespace pelorin::link {
namespace {

using namespace testing;
using SecureLink::SecureError;

const std::string timeoutText = "The computer did not answer. Check that Pelorin Studio is open.";
const std::string setupText = "The secure link could not be set up.";
const std::string damagedText = "The secure link was damaged.";
const std::string mismatchText =
    "This computer is not the one you paired with. Pair again with the QR code shown in Studio.";

Frame fileFrame(const std::string& name, Bytes body) {
    return {msg::File{Uuid::random(), name}, std::move(body)};
}

void send(LinkConnection& connection, const Frame& frame) {
    connection.send(frame.message, frame.body);
}

// The index of the first event that is a frame, or the number of events.
std::size_t firstFrameIndex(const ConnectionLog& log) {
    const auto events = log.events.values();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (std::holds_alternative<Frame>(events[i])) return i;
    }
    return events.size();
}

class LinkConnectionTest : public ::testing::Test {
  protected:
    LinkRuntime runtime;
    SecureLink::Identity identity = newIdentity();
};

TEST_F(LinkConnectionTest, FramesSentBeforeTheHandshakeArriveInOrderAfterReady) {
    RawListener listener(runtime.context());
    auto client = LinkConnection::client(runtime, listener.endpoint());
    auto clientLog = record(*client);
    const std::vector<Frame> upward = {fileFrame("a.heic", randomBytes(70'000, 1)),
                                       {msg::Ping{}, {}},
                                       fileFrame("b.heic", randomBytes(3, 2))};
    for (const auto& frame : upward) send(*client, frame);
    client->start();

    auto server = LinkConnection::server(listener.accept(), identity);
    auto serverLog = record(*server);
    const std::vector<Frame> downward = {{msg::Pong{}, {}},
                                         {msg::Rejected{"no"}, {}},
                                         {msg::ModelChunk{Uuid::random(), 0, 5}, Bytes(5, 7)}};
    for (const auto& frame : downward) send(*server, frame);
    server->start();

    ASSERT_TRUE(serverLog->waitForFrames(3));
    ASSERT_TRUE(clientLog->waitForFrames(3));
    EXPECT_EQ(serverLog->frames(), upward);
    EXPECT_EQ(clientLog->frames(), downward);
    EXPECT_EQ(kinds(clientLog->states()), (std::vector{Kind::connecting, Kind::ready}));
    EXPECT_EQ(kinds(serverLog->states()), (std::vector{Kind::connecting, Kind::ready}));
    EXPECT_EQ(firstFrameIndex(*clientLog), 2u);
    EXPECT_EQ(firstFrameIndex(*serverLog), 2u);
    EXPECT_EQ(client->peerFingerprint(), identity.fingerprint());
    EXPECT_FALSE(server->peerFingerprint());
    ASSERT_TRUE(client->remoteEndpoint());
    EXPECT_EQ(client->remoteEndpoint()->port(), listener.port());
    EXPECT_EQ(client->endpointDescription(), "127.0.0.1:" + std::to_string(listener.port()));
    ASSERT_TRUE(server->remoteEndpoint());
    EXPECT_EQ(server->endpointDescription(),
              "127.0.0.1:" + std::to_string(server->remoteEndpoint()->port()));

    client->cancel();
    ASSERT_TRUE(serverLog->waitForFinal());
    ASSERT_TRUE(clientLog->waitForFinal());
    EXPECT_EQ(serverLog->states().back(), State::closed());
    EXPECT_EQ(clientLog->states().back(), State::closed());
}

TEST_F(LinkConnectionTest, FingerprintPinning) {
    for (const bool matching : {true, false}) {
        SCOPED_TRACE(matching);
        RawListener listener(runtime.context());
        const std::string expected =
            (matching ? identity.fingerprint() : newIdentity().fingerprint()).value();
        auto client = LinkConnection::client(runtime, listener.endpoint(), expected);
        auto log = record(*client);
        // Shared with the completion, which may run after this iteration has ended: a write's
        // completion can follow the peer's receipt of its bytes.
        struct Held {
            std::atomic<int> completions = 0;
            std::optional<LinkConnection::SendError> error;
        };
        auto held = std::make_shared<Held>();
        client->send(msg::Ping{}, {}, [held](auto error) {
            held->error = error;
            ++held->completions;
        });
        auto completedOnce = [&held] {
            for (int i = 0; i < 500 && held->completions == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return held->completions.load();
        };
        client->start();
        auto server = LinkConnection::server(listener.accept(), identity);
        auto serverLog = record(*server);
        server->start();
        ASSERT_TRUE(log->waitForState(matching ? Kind::ready : Kind::failed));
        if (matching) {
            EXPECT_EQ(client->peerFingerprint(), expected);
            ASSERT_TRUE(serverLog->waitForFrames(1));
            client->cancel();
            ASSERT_TRUE(log->waitForFinal());
            EXPECT_EQ(completedOnce(), 1);
            EXPECT_FALSE(held->error);
        } else {
            EXPECT_EQ(log->states(),
                      (std::vector{State::connecting(), State::failed(mismatchText)}));
            EXPECT_FALSE(client->peerFingerprint());
            // Held and later awaited sends both fail as the handshake never completed.
            EXPECT_EQ(completedOnce(), 1);
            EXPECT_EQ(held->error, LinkConnection::SendError(SecureError::badHandshake));
            EXPECT_EQ(sendAndWait(*client, msg::Ping{}),
                      LinkConnection::SendError(SecureError::badHandshake));
            // The desktop sees the phone go away.
            ASSERT_TRUE(serverLog->waitForFinal());
            EXPECT_EQ(serverLog->states().back(), State::closed());
            EXPECT_EQ(log->states().size(), 2u);
        }
    }
}

TEST_F(LinkConnectionTest, HandshakeTimerFailsSilentPeersInBothRoles) {
    RawListener listener(runtime.context());
    // A desktop that accepts and never answers.
    auto client = LinkConnection::client(runtime, listener.endpoint());
    client->handshakeTimeout = 0.3;
    auto clientLog = record(*client);
    client->start();
    auto silentDesktop = listener.accept();
    // A phone that connects and sends nothing.
    auto silentPhone = connectTo(runtime.context(), listener.port());
    auto server = LinkConnection::server(listener.accept(), identity);
    server->handshakeTimeout = 0.3;
    auto serverLog = record(*server);
    server->start();

    ASSERT_TRUE(clientLog->waitForFinal());
    ASSERT_TRUE(serverLog->waitForFinal());
    // Both transports were cancelled after the report.
    readExactly(silentDesktop, SecureLink::clientHelloLength);
    EXPECT_TRUE(readsEndOfStream(silentDesktop));
    EXPECT_TRUE(readsEndOfStream(silentPhone));
    EXPECT_EQ(sendAndWait(*client, msg::Ping{}),
              LinkConnection::SendError(SecureError::badHandshake));
    // The cancelled transport reports nothing more.
    const std::vector expected = {State::connecting(), State::failed(timeoutText)};
    EXPECT_EQ(clientLog->states(), expected);
    EXPECT_EQ(serverLog->states(), expected);
}

TEST_F(LinkConnectionTest, ClientRefusesAnOversizedSignatureWithoutWaiting) {
    RawListener listener(runtime.context());
    auto client = LinkConnection::client(runtime, listener.endpoint());
    client->handshakeTimeout = 600;  // a client that waited for 129 more bytes would hang here
    auto log = record(*client);
    client->start();
    auto desktop = listener.accept();
    Bytes answer = serverAnswer(desktop, identity).serverHello;
    answer.resize(SecureLink::serverHelloFixedLength);
    answer[134] = 0;
    answer[135] = 129;
    writeAll(desktop, answer);
    ASSERT_TRUE(log->waitForFinal());
    EXPECT_EQ(log->states(), (std::vector{State::connecting(), State::failed(setupText)}));
    EXPECT_TRUE(readsEndOfStream(desktop));
}

TEST_F(LinkConnectionTest, AnswerAndFirstRecordInOneReceive) {
    RawListener listener(runtime.context());
    auto client = LinkConnection::client(runtime, listener.endpoint());
    auto log = record(*client);
    client->start();
    auto desktop = listener.accept();
    auto response = serverAnswer(desktop, identity);
    const Frame first = fileFrame("x.jpg", randomBytes(1000, 3));
    Bytes both = response.serverHello;
    const Bytes record = *response.session.seal(FrameCodec::encode(first.message, first.body));
    both.insert(both.end(), record.begin(), record.end());
    writeAll(desktop, both);
    ASSERT_TRUE(log->waitForFrames(1));
    EXPECT_EQ(log->frames(), std::vector{first});
    EXPECT_EQ(firstFrameIndex(*log), 2u);
    EXPECT_EQ(kinds(log->states()), (std::vector{Kind::connecting, Kind::ready}));
}

TEST_F(LinkConnectionTest, RecordLengthIsCheckedAgainstTheBodyLimitBeforeItsBytesArrive) {
    // maxBody + 1,048,640 is the largest record a peer may announce.
    for (const std::uint32_t excess : {1'048'641u, 1'048'640u}) {
        SCOPED_TRACE(excess);
        RawListener listener(runtime.context());
        auto phone = connectTo(runtime.context(), listener.port());
        auto server = LinkConnection::server(listener.accept(), identity);
        server->setMaxBody(65'536);
        auto log = record(*server);
        server->start();
        clientHandshake(phone);
        ASSERT_TRUE(log->waitForState(Kind::ready));
        const std::uint32_t length = 65'536 + excess;
        Bytes head = {'P', 'L', 'S', '1'};
        for (int i = 3; i >= 0; --i) head.push_back(static_cast<std::uint8_t>(length >> 8 * i));
        writeAll(phone, head);
        if (excess == 1'048'641u) {
            ASSERT_TRUE(log->waitForFinal());
            EXPECT_EQ(log->states().back(), State::failed(damagedText));
            EXPECT_TRUE(readsEndOfStream(phone));
        } else {
            // Within the limit the connection waits for the record; the phone then hangs up.
            phone.close();
            ASSERT_TRUE(log->waitForFinal());
            EXPECT_EQ(log->states().back(), State::closed());
        }
    }
}

// What a phone sends after a good handshake, and how the desktop must end the connection.
struct BadStream {
    std::string name;
    std::function<Bytes(SecureLink::Session&)> bytes;
    std::string failure;
    std::size_t delivered = 0;  // frames that arrive before the fault
};

std::string decodingFailureOf(const Bytes& frame) {
    FrameParser parser;
    auto result = parser.feed(frame);
    return result ? std::string("(parsed)") : description(result.error());
}

TEST_F(LinkConnectionTest, BadRecordsAndFramesFailOnlyTheirConnection) {
    const auto sealed = [](Bytes frame) {
        return [frame](SecureLink::Session& session) { return *session.seal(frame); };
    };
    const Bytes badJson = rawFrame("PLNK", 8, 0, "{\"ping\":");
    const Bytes unknownMessage = rawFrame("PLNK", 14, 0, "{\"dance\":{}}  ");
    const std::vector<BadStream> cases = {
        {"wrong record tag",
         [](SecureLink::Session& session) {
             Bytes record = *session.seal(FrameCodec::encode(msg::Ping{}));
             record[0] = 'X';
             return record;
         },
         damagedText},
        {"altered ciphertext",
         [](SecureLink::Session& session) {
             Bytes record = *session.seal(FrameCodec::encode(msg::Ping{}));
             record[12] ^= 1;
             return record;
         },
         damagedText},
        {"replayed record",
         [](SecureLink::Session& session) {
             Bytes record = *session.seal(FrameCodec::encode(msg::Ping{}));
             Bytes twice = record;
             twice.insert(twice.end(), record.begin(), record.end());
             return twice;
         },
         damagedText, 1},
        {"wrong frame magic", sealed(rawFrame("PLNX", 0, 0)),
         "The other device is not running Pelorin."},
        {"oversized header", sealed(rawFrame("PLNK", 1'048'577, 0)),
         "Message header too large (1048577 bytes)."},
        {"body above the limit", sealed(rawFrame("PLNK", 2, 65'537)),
         "Message body too large (65537 bytes)."},
        {"truncated JSON", sealed(badJson), decodingFailureOf(badJson)},
        {"unknown message", sealed(unknownMessage), decodingFailureOf(unknownMessage)},
    };

    // A good pair keeps talking while the bad phones are thrown out.
    auto good = connectPair(runtime, identity);
    RawListener listener(runtime.context());
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.name);
        auto phone = connectTo(runtime.context(), listener.port());
        auto server = LinkConnection::server(listener.accept(), identity);
        server->setMaxBody(65'536);
        auto log = record(*server);
        server->start();
        auto session = clientHandshake(phone);
        writeAll(phone, bad.bytes(session));
        ASSERT_TRUE(log->waitForFinal());
        EXPECT_EQ(kinds(log->states()), (std::vector{Kind::connecting, Kind::ready, Kind::failed}));
        EXPECT_EQ(log->states().back().text, bad.failure);
        EXPECT_EQ(log->frames().size(), bad.delivered);
        EXPECT_TRUE(readsEndOfStream(phone));
        send(*good.client, {msg::Ping{}, {}});
    }
    ASSERT_TRUE(good.serverLog->waitForFrames(cases.size()));
    EXPECT_EQ(kinds(good.serverLog->states()), (std::vector{Kind::connecting, Kind::ready}));
}

TEST_F(LinkConnectionTest, BadOrIncompleteHandshakes) {
    RawListener listener(runtime.context());
    const auto serve = [&](const Bytes& bytes, bool hangUp) {
        auto phone = connectTo(runtime.context(), listener.port());
        auto server = LinkConnection::server(listener.accept(), identity);
        server->handshakeTimeout = 0.3;
        auto log = record(*server);
        server->start();
        writeAll(phone, bytes);
        if (hangUp) phone.shutdown(asio::socket_base::shutdown_send);
        EXPECT_TRUE(log->waitForFinal());
        EXPECT_TRUE(readsEndOfStream(phone));
        return log->states();
    };
    const auto hello = SecureLink::ClientHandshake::init()->helloBytes();

    Bytes wrongTag(hello.begin(), hello.end());
    wrongTag[3] = '2';
    EXPECT_EQ(serve(wrongTag, false), (std::vector{State::connecting(), State::failed(setupText)}));
    Bytes notAPoint(hello.begin(), hello.end());
    std::fill(notAPoint.begin() + 5, notAPoint.begin() + 69, 0);
    EXPECT_EQ(kinds(serve(notAPoint, false)), (std::vector{Kind::connecting, Kind::failed}));
    // A phone that stops halfway is failed by the timer, one that hangs up is just closed.
    const Bytes half(hello.begin(), hello.begin() + 40);
    EXPECT_EQ(serve(half, false), (std::vector{State::connecting(), State::failed(timeoutText)}));
    EXPECT_EQ(serve(half, true), (std::vector{State::connecting(), State::closed()}));
}

TEST_F(LinkConnectionTest, TransportFailuresAreReportedWithTheSystemsText) {
    std::uint16_t unused;
    {
        RawListener listener(runtime.context());
        unused = listener.port();
    }
    auto client = LinkConnection::client(runtime, {"127.0.0.1", unused});
    auto log = record(*client);
    client->start();
    ASSERT_TRUE(log->waitForFinal());
    EXPECT_EQ(log->states(),
              (std::vector{State::connecting(), State::failed("Connection refused")}));
}

TEST_F(LinkConnectionTest, CancelCompletesEverySendExactlyOnce) {
    // Held before the handshake: each fails with badHandshake.
    RawListener listener(runtime.context());
    auto client = LinkConnection::client(runtime, listener.endpoint());
    auto log = record(*client);
    std::mutex mutex;
    std::map<int, int> calls;
    std::vector<std::optional<LinkConnection::SendError>> errors(5);
    for (int i = 0; i < 5; ++i) {
        client->send(msg::Ping{}, {}, [&, i](auto error) {
            std::lock_guard lock(mutex);
            ++calls[i];
            errors[i] = error;
        });
    }
    client->start();
    auto desktop = listener.accept();
    client->cancel();
    ASSERT_TRUE(log->waitForFinal());
    EXPECT_EQ(log->states(), (std::vector{State::connecting(), State::closed()}));
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(calls.size(), 5u);
        for (const auto& [i, count] : calls) EXPECT_EQ(count, 1) << i;
        for (const auto& error : errors) {
            EXPECT_EQ(error, LinkConnection::SendError(SecureError::badHandshake));
        }
    }

    // In flight after the handshake, to a desktop that stopped reading: each completes once,
    // with the transport's verdict.
    auto stalled = LinkConnection::client(runtime, listener.endpoint());
    auto stalledLog = record(*stalled);
    stalled->start();
    auto stalledDesktop = listener.accept();
    writeAll(stalledDesktop, serverAnswer(stalledDesktop, identity).serverHello);
    ASSERT_TRUE(stalledLog->waitForState(Kind::ready));
    const Bytes body = randomBytes(1 << 20, 4);
    constexpr int sends = 40;  // far more than the socket buffers hold
    std::atomic<int> completed = 0, failed = 0;
    std::vector<std::atomic<int>> perSend(sends);
    for (int i = 0; i < sends; ++i) {
        stalled->send(msg::File{Uuid::random(), "big.heic"}, body, [&, i](auto error) {
            perSend[i]++;
            if (error) failed++;
            completed++;
        });
    }
    stalled->cancel();
    ASSERT_TRUE(stalledLog->waitForFinal());
    EXPECT_EQ(stalledLog->states().back(), State::closed());
    // A send after the end of a link that had its handshake goes to the closed transport.
    const auto late = sendAndWait(*stalled, msg::Ping{});
    ASSERT_TRUE(late);
    EXPECT_TRUE(std::holds_alternative<std::error_code>(*late));
    EXPECT_EQ(completed.load(), sends);
    for (int i = 0; i < sends; ++i) EXPECT_EQ(perSend[i].load(), 1) << i;
    EXPECT_GT(failed.load(), 0);
}

TEST_F(LinkConnectionTest, DroppingAConnectionMidStreamStopsItsCallbacks) {
    for (int round = 0; round < 5; ++round) {
        auto pair = connectPair(runtime, identity);
        // The callbacks use an object that is freed once the connection is gone: a callback
        // after that would be a use after free.
        auto* seen = new std::atomic<int>(0);
        pair.server->onMessage = [seen](Frame) { ++*seen; };
        pair.server->onStateChange = [seen](const State&) { ++*seen; };
        for (int i = 0; i < 200; ++i) send(*pair.client, {msg::Ping{}, randomBytes(i * 97, i)});
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (seen->load() < 20 + round * 10 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        std::weak_ptr<LinkConnection> watch = pair.server;
        pair.server.reset();
        while (!watch.expired()) std::this_thread::yield();
        delete seen;
        // Closed, or reset when the dropped end had unread bytes.
        EXPECT_TRUE(pair.clientLog->waitForFinal());
    }
}

// A handler that throws (a full disk while writing a photo, say) on the connection's strand
// ends that connection with the error's text; the runtime and every other connection go on.
TEST_F(LinkConnectionTest, AThrowingHandlerFailsOnlyItsConnection) {
    auto failing = connectPair(runtime, identity);
    auto healthy = connectPair(runtime, identity);
    ASSERT_TRUE(failing.serverLog->waitForState(Kind::ready));
    ASSERT_TRUE(healthy.serverLog->waitForState(Kind::ready));
    failing.server->onMessage = [](Frame) { throw std::runtime_error("No space left on device"); };
    send(*failing.client, {msg::Ping{}, {}});
    ASSERT_TRUE(failing.serverLog->waitForFinal());
    EXPECT_EQ(failing.serverLog->states().back(),
              State::failed("The message could not be handled: No space left on device"));
    EXPECT_FALSE(sendAndWait(*healthy.client, msg::Ping{}));
    ASSERT_TRUE(healthy.serverLog->waitForFrames(1));
    EXPECT_EQ(healthy.serverLog->frames().back().message, LinkMessage(msg::Ping{}));
}

}  // namespace
}  // namespace pelorin::link
