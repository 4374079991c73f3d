#include "link/transport/link_connection.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include <asio.hpp>

#include "common/bytes.h"
#include "link/frames/frame_codec.h"
#include "link/frames/frame_parser.h"
#include "link/frames/link_constants.h"
#include "link/transport/byte_queue.h"
#include "link/transport/connection_handshake.h"
#include "link/transport/tcp_settings.h"
#include "link/transport/write_batches.h"

namespace pelorin::link {

namespace {

using SecureLink::SecureError;

// A record may carry the largest header plus 64 bytes of prefix and seal overhead on top of
// the largest body the parser accepts.
constexpr std::uint64_t recordAllowance = 1'048'640;
// An empty inbound buffer keeps storage up to this size instead of returning it, so that a
// busy link does not allocate and fault in fresh pages on every receive.
constexpr std::size_t retainedInboundBytes = 2 * TcpSettings::maxReceiveBytes;

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

std::string newQueueLabel() {
    return "pelorinlink.connection." + Uuid::random().string().substr(0, 8);
}

}  // namespace

std::string description(const LinkConnection::SendError& error) {
    if (const auto* secure = std::get_if<SecureError>(&error)) {
        return SecureLink::description(*secure);
    }
    return std::get<std::error_code>(error).message();
}

struct LinkConnection::Core : std::enable_shared_from_this<Core> {
    using Strand = asio::strand<asio::io_context::executor_type>;
    using Failure = std::string;  // the description the connection fails with

    Core(asio::io_context& context, Role role, asio::ip::tcp::socket socket,
         std::optional<Endpoint> target)
        : strand(asio::make_strand(context)),
          socket(std::move(socket)),
          resolver(context),
          handshakeTimer(context),
          connectTimer(context),
          role(std::move(role)),
          target(std::move(target)) {}

    // Fixed at creation; read from any thread.
    Strand strand;
    const Uuid id = Uuid::random();
    const std::string label = newQueueLabel();
    std::weak_ptr<LinkConnection> owner;
    std::string endpointText;
    std::atomic<bool> started{false};
    std::atomic<bool> cancelRequested{false};

    mutable std::mutex infoMutex;  // the two fields below, read by the owner
    std::optional<std::string> peerFingerprint;
    std::optional<asio::ip::tcp::endpoint> remote;

    // Everything below is touched on the strand only.
    asio::ip::tcp::socket socket;
    asio::ip::tcp::resolver resolver;
    asio::steady_timer handshakeTimer;
    asio::steady_timer connectTimer;
    const Role role;
    const std::optional<Endpoint> target;
    FrameParser parser{LinkConstants::maxBodyBytes};
    ByteQueue inbound;
    ConnectionHandshake handshake{role};
    std::optional<SecureLink::Session> session;
    std::vector<Outgoing> pending;  // frames held back until the session is established
    WriteBatches writes;
    bool finished = false;
    bool transportConnected = false;
    bool connectTimedOut = false;

    bool isClient() const { return std::holds_alternative<ClientRole>(role); }

    template <class F>
    void post(F&& f) {
        asio::post(strand, std::forward<F>(f));
    }
    template <class F>
    auto onStrand(F&& f) {
        return asio::bind_executor(strand, std::forward<F>(f));
    }

    void report(const State& state) {
        if (auto connection = owner.lock()) connection->onStateChange(state);
    }

    // Reports the first final state only; pending sends fail as the handshake never finished.
    void finish(const State& state) {
        if (finished) return;
        finished = true;
        handshakeTimer.cancel();
        connectTimer.cancel();
        failPending();
        report(state);
    }

    void failPending() {
        auto entries = std::move(pending);
        pending.clear();
        for (auto& entry : entries) completeSend(entry.completion, SecureError::badHandshake);
    }

    void closeTransport() {
        std::error_code ignored;
        resolver.cancel();
        connectTimer.cancel();
        handshakeTimer.cancel();
        socket.close(ignored);
    }

    void fail(const Failure& failure) {
        finish(State::failed(failure));
        closeTransport();
    }

    // --- start ----------------------------------------------------------------------------

    void begin(std::chrono::steady_clock::duration timeout) {
        if (finished) return;
        handshakeTimer.expires_after(timeout);
        handshakeTimer.async_wait(onStrand([self = shared_from_this()](std::error_code error) {
            if (!error) self->handshakeExpired();
        }));
        if (isClient()) {
            connect();
        } else {
            transportReady();
        }
    }

    void handshakeExpired() {
        if (session || finished) return;
        fail(SecureLink::description(SecureError::handshakeTimedOut));
    }

    void connect() {
        connectTimer.expires_after(TcpSettings::connectTimeout);
        connectTimer.async_wait(onStrand([self = shared_from_this()](std::error_code error) {
            if (error || self->finished || self->transportConnected) return;
            self->connectTimedOut = true;
            self->closeTransport();
        }));
        resolver.async_resolve(
            target->host, std::to_string(target->port),
            onStrand([self = shared_from_this()](std::error_code error,
                                                 asio::ip::tcp::resolver::results_type results) {
                if (error) return self->connectFailed(error);
                if (self->finished || self->connectTimedOut) return self->connectFailed({});
                asio::async_connect(
                    self->socket, results,
                    self->onStrand([self](std::error_code error, const asio::ip::tcp::endpoint&) {
                        if (error) return self->connectFailed(error);
                        self->connected();
                    }));
            }));
    }

    void connectFailed(std::error_code error) {
        if (connectTimedOut) {
            error = std::make_error_code(std::errc::timed_out);
        } else if (!error || error == asio::error::operation_aborted) {
            return finish(State::closed());
        }
        fail(error.message());
    }

    void connected() {
        transportConnected = true;
        connectTimer.cancel();
        if (finished) return closeTransport();
        TcpSettings::apply(socket);
        std::error_code error;
        const auto peer = socket.remote_endpoint(error);
        if (!error) {
            std::lock_guard lock(infoMutex);
            remote = peer;
        }
        transportReady();
    }

    void transportReady() {
        if (finished) return;
        if (isClient()) {
            auto hello = handshake.clientHello();
            if (!hello) return fail(SecureLink::description(SecureError::badHandshake));
            write(std::move(*hello), nullptr);
        }
        receive();
    }

    // --- receiving ------------------------------------------------------------------------

    void receive() {
        const auto room = inbound.prepare(TcpSettings::maxReceiveBytes);
        socket.async_read_some(
            asio::buffer(room.data(), room.size()),
            onStrand([self = shared_from_this()](std::error_code error, std::size_t count) {
                self->received(error, count);
            }));
    }

    void received(std::error_code error, std::size_t count) {
        // A final state may have been reached while this completion was queued.
        if (finished) return;
        inbound.commit(count);
        if (count > 0) {
            if (auto failure = handleInbound()) return fail(*failure);
            if (finished) return;
        }
        if (error == asio::error::eof) {
            finish(State::closed());
            return closeTransport();
        }
        if (error == asio::error::operation_aborted) return finish(State::closed());
        if (error) return fail(error.message());
        if (inbound.empty() && inbound.capacity() > retainedInboundBytes) inbound.release();
        receive();
    }

    // Handshake bytes first, then records; nothing when all is well.
    std::optional<Failure> handleInbound() {
        if (!session) {
            auto established = handshake.take(inbound);
            if (!established) return established.error();
            if (*established) installSession(std::move(**established));
            if (!session || finished) return std::nullopt;
        }
        return openRecords();
    }

    void installSession(ConnectionHandshake::Established established) {
        if (!established.reply.empty()) write(std::move(established.reply), nullptr);
        if (established.peerFingerprint) {
            std::lock_guard lock(infoMutex);
            peerFingerprint = std::move(established.peerFingerprint);
        }
        session = std::move(established.session);
        handshakeTimer.cancel();
        report(State::ready());
        auto held = std::move(pending);
        pending.clear();
        for (auto& entry : held) sendFrame(std::move(entry.bytes), std::move(entry.completion));
    }

    std::optional<Failure> openRecords() {
        const auto damaged = [] { return SecureLink::description(SecureError::badRecord); };
        while (inbound.size() >= SecureLink::recordHeadLength) {
            const auto bytes = inbound.bytes();
            if (std::memcmp(bytes.data(), SecureLink::recordTag, 4) != 0) return damaged();
            const std::uint64_t length = bigEndian32(bytes.data() + 4);
            if (length > parser.maxBody() + recordAllowance) return damaged();
            if (bytes.size() < SecureLink::recordHeadLength + length) return std::nullopt;
            auto plaintext = session->open(bytes.subspan(SecureLink::recordHeadLength, length));
            inbound.consume(SecureLink::recordHeadLength + length);
            if (!plaintext) return damaged();
            auto frames = parser.feed(*plaintext);
            if (!frames) return description(frames.error());
            for (auto& frame : frames.value()) {
                if (cancelRequested) return std::nullopt;
                auto connection = owner.lock();
                if (!connection) return std::nullopt;
                // A handler that throws ends its own connection, never the program.
                try {
                    connection->onMessage(std::move(frame));
                } catch (const std::exception& error) {
                    return std::string("The message could not be handled: ") + error.what();
                } catch (...) {
                    return std::string("The message could not be handled.");
                }
            }
        }
        return std::nullopt;
    }

    // --- sending --------------------------------------------------------------------------

    void sendFrame(Bytes frame, SendCompletion completion) {
        if (!session) {
            if (finished) return completeSend(completion, SecureError::badHandshake);
            pending.push_back({std::move(frame), std::move(completion)});
            return;
        }
        auto record = session->seal(frame);
        if (!record) return completeSend(completion, record.error());
        write(std::move(*record), std::move(completion));
    }

    void write(Bytes bytes, SendCompletion completion) {
        if (writes.push({std::move(bytes), std::move(completion)})) startWrite();
    }

    void startWrite() {
        asio::async_write(socket, writes.startBatch(),
                          onStrand([self = shared_from_this()](std::error_code error, std::size_t) {
                              if (self->writes.finishBatch(error)) self->startWrite();
                          }));
    }

    // --- owner's requests -----------------------------------------------------------------

    void cancel() {
        closeTransport();
        finish(State::closed());
    }

    // The owner let go: close everything; no callback can reach it any more.
    void detach() {
        finished = true;
        failPending();
        closeTransport();
    }
};

LinkConnection::LinkConnection(std::shared_ptr<Core> core) : core_(std::move(core)) {}

std::shared_ptr<LinkConnection> LinkConnection::adopt(std::shared_ptr<Core> core) {
    std::shared_ptr<LinkConnection> connection(new LinkConnection(core));
    core->owner = connection;
    return connection;
}

std::shared_ptr<LinkConnection> LinkConnection::client(
    LinkRuntime& runtime, Endpoint endpoint, std::optional<std::string> expectedFingerprint) {
    auto& context = runtime.context();
    auto core = std::make_shared<Core>(context, ClientRole{std::move(expectedFingerprint)},
                                       asio::ip::tcp::socket(context), endpoint);
    core->endpointText = endpoint.description();
    return adopt(std::move(core));
}

std::shared_ptr<LinkConnection> LinkConnection::server(asio::ip::tcp::socket socket,
                                                       SecureLink::Identity identity) {
    auto& context = static_cast<asio::io_context&>(socket.get_executor().context());
    std::error_code error;
    const auto peer = socket.remote_endpoint(error);
    auto core = std::make_shared<Core>(context, ServerRole{std::move(identity)}, std::move(socket),
                                       std::nullopt);
    if (!error) {
        core->remote = peer;
        core->endpointText = describe(peer);
    }
    return adopt(std::move(core));
}

LinkConnection::~LinkConnection() {
    core_->post([core = core_] { core->detach(); });
}

const Uuid& LinkConnection::id() const {
    return core_->id;
}

const std::string& LinkConnection::queueLabel() const {
    return core_->label;
}

const LinkConnection::Role& LinkConnection::role() const {
    return core_->role;
}

std::optional<std::string> LinkConnection::peerFingerprint() const {
    std::lock_guard lock(core_->infoMutex);
    return core_->peerFingerprint;
}

void LinkConnection::start() {
    if (core_->started.exchange(true)) return;
    onStateChange(State::connecting());
    const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(handshakeTimeout));
    core_->post([core = core_, timeout] { core->begin(timeout); });
}

void LinkConnection::send(const LinkMessage& message, std::span<const std::uint8_t> body) {
    send(message, body, nullptr);
}

void LinkConnection::send(const LinkMessage& message, std::span<const std::uint8_t> body,
                          SendCompletion completion) {
    // Always queued behind whatever the strand is doing, so that a send made from a callback
    // cannot overtake frames that were held back for the handshake.
    core_->post([core = core_, frame = FrameCodec::encode(message, body),
                 completion = std::move(completion)]() mutable {
        core->sendFrame(std::move(frame), std::move(completion));
    });
}

void LinkConnection::setMaxBody(std::uint64_t maxBody) {
    if (core_->strand.running_in_this_thread()) {
        core_->parser.setMaxBody(maxBody);
    } else {
        core_->post([core = core_, maxBody] { core->parser.setMaxBody(maxBody); });
    }
}

void LinkConnection::cancel() {
    core_->cancelRequested = true;
    core_->post([core = core_] { core->cancel(); });
}

std::string LinkConnection::endpointDescription() const {
    return core_->endpointText;
}

std::optional<asio::ip::tcp::endpoint> LinkConnection::remoteEndpoint() const {
    std::lock_guard lock(core_->infoMutex);
    return core_->remote;
}

}  // namespace pelorin::link
