#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <variant>

#include <asio/ip/tcp.hpp>

#include "common/uuid.h"
#include "link/frames/frame.h"
#include "link/messages/link_message.h"
#include "link/runtime/callback_slot.h"
#include "link/runtime/link_endpoint.h"
#include "link/runtime/link_runtime.h"
#include "link/security/secure_link.h"

namespace pelorin::link {

// One protected, framed conversation over one TCP connection, in either role: the handshake,
// then every frame sealed into one record each way.
//
// Everything runs on the connection's own strand of the shared runtime: transport events, the
// handshake, record opening, frame parsing and the callbacks. The owner keeps the connection
// alive through its shared_ptr; nothing inside holds it strongly, so dropping the last
// reference tears the connection down (the transport is closed, pending sends complete with an
// error, and no callback runs afterwards), even while events are in flight.
class LinkConnection {
  public:
    struct ClientRole {
        // When given, the desktop's identity must have exactly this fingerprint.
        std::optional<std::string> expectedFingerprint;
    };
    struct ServerRole {
        SecureLink::Identity identity;
    };
    using Role = std::variant<ClientRole, ServerRole>;

    struct State {
        enum class Kind { connecting, waiting, ready, failed, closed };
        Kind kind = Kind::connecting;
        // waiting: why the transport cannot proceed; failed: the description of the error.
        // This transport has no waiting condition: a connection that cannot be made fails
        // with the system's text (or "Connection timed out" after 8 s).
        std::string text;

        static State connecting() { return {Kind::connecting, {}}; }
        static State waiting(std::string why) { return {Kind::waiting, std::move(why)}; }
        static State ready() { return {Kind::ready, {}}; }
        static State failed(std::string why) { return {Kind::failed, std::move(why)}; }
        static State closed() { return {Kind::closed, {}}; }

        bool isFinal() const { return kind == Kind::failed || kind == Kind::closed; }
        bool operator==(const State&) const = default;
    };

    // Why a send whose completion was asked for did not reach the transport: the link ended
    // before its handshake (badHandshake), or the transport's own error.
    using SendError = std::variant<SecureLink::SecureError, std::error_code>;
    // Called once, on the connection's strand, when the sealed record was handed to the
    // socket (no error) or could not be.
    using SendCompletion = std::function<void(std::optional<SendError>)>;

    // A client that will connect to the endpoint once started.
    static std::shared_ptr<LinkConnection> client(
        LinkRuntime& runtime, Endpoint endpoint,
        std::optional<std::string> expectedFingerprint = std::nullopt);
    // A server-role connection for an accepted socket of the runtime's context.
    static std::shared_ptr<LinkConnection> server(asio::ip::tcp::socket socket,
                                                  SecureLink::Identity identity);

    ~LinkConnection();
    LinkConnection(const LinkConnection&) = delete;
    LinkConnection& operator=(const LinkConnection&) = delete;

    // Every decoded frame, in arrival order, always after `ready`.
    CallbackSlot<Frame> onMessage;
    // connecting (on the thread that calls start), then waiting or ready, then at most one of
    // failed and closed; nothing after that.
    CallbackSlot<const State&> onStateChange;
    // Seconds from start until the handshake must be complete, in both roles. Change it before
    // start only.
    double handshakeTimeout = 10.0;

    const Uuid& id() const;
    // "pelorinlink.connection." and eight characters of a fresh UUID, for logs.
    const std::string& queueLabel() const;
    const Role& role() const;
    // Client role: the desktop's fingerprint, known before `ready` is reported.
    std::optional<std::string> peerFingerprint() const;

    // Starts the transport and the handshake timer. A connection starts once.
    void start();

    // Encodes the frame and queues it. Frames sent before `ready` go out, in order, right
    // after it; after the end they go nowhere.
    void send(const LinkMessage& message, std::span<const std::uint8_t> body = {});
    // The same, and the completion says when the record was handed to the socket, or why not.
    // It is called exactly once, on the connection's strand, so it must not block that strand
    // waiting for another send of this connection.
    void send(const LinkMessage& message, std::span<const std::uint8_t> body,
              SendCompletion completion);

    // The largest frame body accepted from now on (capped at LinkConstants::maxBodyBytes by
    // the parser). Called from onMessage it applies to the very next frame examined.
    void setMaxBody(std::uint64_t maxBody);

    // Closes the transport; `closed` follows unless the connection has already ended.
    void cancel();

    // The remote endpoint as text: the address a server-role connection was accepted from, or
    // the endpoint a client was asked to reach.
    std::string endpointDescription() const;
    // The address and port of the peer, once the transport is connected.
    std::optional<asio::ip::tcp::endpoint> remoteEndpoint() const;

    struct Core;

  private:
    explicit LinkConnection(std::shared_ptr<Core> core);
    static std::shared_ptr<LinkConnection> adopt(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};

std::string description(const LinkConnection::SendError& error);

}  // namespace pelorin::link
