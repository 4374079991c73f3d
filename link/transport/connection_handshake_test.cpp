#include "link/transport/connection_handshake.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pelorin::link {
namespace {

using Established = ConnectionHandshake::Established;

SecureLink::Identity newIdentity() {
    return SecureLink::Identity(*crypto::P256Key::generate());
}

void append(ByteQueue& queue, std::span<const std::uint8_t> bytes) {
    auto room = queue.prepare(bytes.size());
    std::copy(bytes.begin(), bytes.end(), room.begin());
    queue.commit(bytes.size());
}

// Gives the handshake the message and the bytes after it in two receives, split `at` bytes in:
// nothing may come of the first, and the second must leave exactly the bytes after the message.
struct Fed {
    std::optional<Established> established;
    std::optional<std::string> failure;
};
Fed feed(ConnectionHandshake& handshake, const Bytes& message, std::size_t at) {
    static const Bytes following = {'P', 'L', 'S', '1', 0, 0, 0, 5};
    ByteQueue inbound;
    Bytes all = message;
    all.insert(all.end(), following.begin(), following.end());
    append(inbound, std::span(all).first(at));
    auto early = handshake.take(inbound);
    EXPECT_TRUE(early && !*early) << "something came of " << at << " bytes";
    append(inbound, std::span(all).subspan(at));
    auto step = handshake.take(inbound);
    if (!step) return {std::nullopt, step.error()};
    if (!*step) return {};
    EXPECT_TRUE(std::ranges::equal(inbound.bytes(), following)) << "split at " << at;
    return {std::move(**step), std::nullopt};
}

struct Ends {
    LinkConnection::Role clientRole;
    LinkConnection::Role serverRole;
    ConnectionHandshake client{clientRole};
    ConnectionHandshake server{serverRole};

    Ends(std::optional<std::string> pin, const SecureLink::Identity& identity)
        : clientRole(LinkConnection::ClientRole{std::move(pin)}),
          serverRole(LinkConnection::ServerRole{identity}) {}
};

// The sessions the two ends make are mirror images.
void expectMirrored(Established& client, Established& server) {
    auto record = client.session.seal(Bytes{1, 2, 3});
    ASSERT_TRUE(record);
    const auto opened =
        server.session.open(std::span(*record).subspan(SecureLink::recordHeadLength));
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, (Bytes{1, 2, 3}));
}

TEST(ConnectionHandshake, EachHelloIsTakenWholeWhereverItIsSplit) {
    const SecureLink::Identity identity = newIdentity();
    for (std::size_t at = 0; at < SecureLink::clientHelloLength; ++at) {
        Ends ends(std::nullopt, identity);
        auto answered = feed(ends.server, ends.client.clientHello().value(), at);
        ASSERT_TRUE(answered.established) << at << ": " << answered.failure.value_or("");
        EXPECT_FALSE(answered.established->peerFingerprint);
    }
    // Signatures vary in length (72 bytes at most): a split past this answer is skipped.
    constexpr std::size_t longestAnswer = SecureLink::serverHelloFixedLength + 72;
    for (std::size_t at = 0; at < longestAnswer; ++at) {
        Ends ends(std::nullopt, identity);
        auto answered = feed(ends.server, ends.client.clientHello().value(), 0);
        ASSERT_TRUE(answered.established);
        if (at >= answered.established->reply.size()) continue;
        auto checked = feed(ends.client, answered.established->reply, at);
        ASSERT_TRUE(checked.established) << at << ": " << checked.failure.value_or("");
        EXPECT_TRUE(checked.established->reply.empty());
        expectMirrored(*checked.established, *answered.established);
    }
}

TEST(ConnectionHandshake, TheClientReportsAndChecksTheDesktopsFingerprint) {
    const SecureLink::Identity identity = newIdentity();
    const std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> pins = {
        {std::nullopt, std::nullopt},
        {identity.fingerprint(), std::nullopt},
        {newIdentity().fingerprint(),
         SecureLink::description(SecureLink::SecureError::identityMismatch)},
    };
    for (const auto& [pin, failure] : pins) {
        SCOPED_TRACE(pin.value_or("no pin"));
        Ends ends(pin, identity);
        auto answered = feed(ends.server, ends.client.clientHello().value(), 0);
        ASSERT_TRUE(answered.established);
        auto checked = feed(ends.client, answered.established->reply, 0);
        EXPECT_EQ(checked.failure, failure);
        if (!failure) {
            ASSERT_TRUE(checked.established);
            EXPECT_EQ(checked.established->peerFingerprint, identity.fingerprint());
        }
    }
}

}  // namespace
}  // namespace pelorin::link
