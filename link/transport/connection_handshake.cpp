#include "link/transport/connection_handshake.h"

namespace pelorin::link {

namespace {

using SecureLink::SecureError;

pelorin::Unexpected<std::string> failure(SecureError error) {
    return pelorin::unexpected(SecureLink::description(error));
}

}  // namespace

std::optional<Bytes> ConnectionHandshake::clientHello() {
    client_ = SecureLink::ClientHandshake::init();
    if (!client_) return std::nullopt;
    const auto hello = client_->helloBytes();
    return Bytes(hello.begin(), hello.end());
}

Expected<std::optional<ConnectionHandshake::Established>, std::string> ConnectionHandshake::take(
    ByteQueue& inbound) {
    if (std::holds_alternative<LinkConnection::ClientRole>(role_)) return checkAnswer(inbound);
    return answerHello(inbound);
}

Expected<std::optional<ConnectionHandshake::Established>, std::string>
ConnectionHandshake::answerHello(ByteQueue& inbound) const {
    if (inbound.size() < SecureLink::clientHelloLength) return std::optional<Established>();
    const auto hello = inbound.bytes().first(SecureLink::clientHelloLength);
    auto ephemeral = crypto::P256Key::generate();
    if (!ephemeral) return failure(SecureError::badHandshake);
    auto response = SecureLink::respond(std::get<LinkConnection::ServerRole>(role_).identity, hello,
                                        *ephemeral);
    if (!response) return failure(response.error());
    inbound.consume(SecureLink::clientHelloLength);
    return std::optional<Established>(
        Established{std::move(response->session), std::move(response->serverHello), {}});
}

Expected<std::optional<ConnectionHandshake::Established>, std::string>
ConnectionHandshake::checkAnswer(ByteQueue& inbound) {
    constexpr std::size_t fixed = SecureLink::serverHelloFixedLength;
    if (inbound.size() < fixed) return std::optional<Established>();
    const auto bytes = inbound.bytes();
    const std::size_t signatureLength = std::size_t{bytes[134]} << 8 | bytes[135];
    // Refused at once rather than waited for: no P-256 signature in DER is this long.
    if (signatureLength > 128) return failure(SecureError::badHandshake);
    if (inbound.size() < fixed + signatureLength || !client_) return std::optional<Established>();
    auto result = client_->finish(bytes.first(fixed + signatureLength));
    if (!result) return failure(result.error());
    inbound.consume(fixed + signatureLength);
    auto fingerprint = SecureLink::fingerprint(result->serverIdentity);
    if (!fingerprint) return failure(SecureError::badHandshake);
    const auto& expected = std::get<LinkConnection::ClientRole>(role_).expectedFingerprint;
    if (expected && *expected != *fingerprint) return failure(SecureError::identityMismatch);
    client_.reset();
    return std::optional<Established>(
        Established{std::move(result->session), {}, std::move(*fingerprint)});
}

}  // namespace pelorin::link
