#pragma once

#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/expected.h"
#include "link/security/secure_link.h"
#include "link/transport/byte_queue.h"
#include "link/transport/link_connection.h"

namespace pelorin::link {

// A connection's handshake, apart from its socket: the hello a client sends first, then the
// peer's hello or answer taken off the front of the received bytes, leaving whatever follows it
// for the records. Failures are the sentences the connection fails with.
class ConnectionHandshake {
  public:
    // The role outlives the handshake.
    explicit ConnectionHandshake(const LinkConnection::Role& role) : role_(role) {}

    struct Established {
        SecureLink::Session session;
        Bytes reply;                                 // server: its hello, sent before any record
        std::optional<std::string> peerFingerprint;  // client: the desktop's
    };

    // A client's hello, with a fresh ephemeral key; nothing if the system cannot provide one.
    std::optional<Bytes> clientHello();

    // The session once the peer's whole message is in; nothing while it is still arriving.
    Expected<std::optional<Established>, std::string> take(ByteQueue& inbound);

  private:
    Expected<std::optional<Established>, std::string> answerHello(ByteQueue& inbound) const;
    Expected<std::optional<Established>, std::string> checkAnswer(ByteQueue& inbound);

    const LinkConnection::Role& role_;
    std::optional<SecureLink::ClientHandshake> client_;
};

}  // namespace pelorin::link
