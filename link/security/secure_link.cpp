#include "link/security/secure_link.h"

#include <openssl/crypto.h>

#include <cstring>
#include <limits>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::link::SecureLink {

namespace {

constexpr auto ownerOnlyPermissions =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

// Both ends build the transcript and derive keys with these labels; they never travel.
constexpr std::string_view transcriptLabel = "pelorin-link-1";
constexpr std::string_view keyLabel = "link-keys";
static_assert(transcriptLabel.size() == 14 && keyLabel.size() == 9);

constexpr std::size_t transcriptLength = 225;

void append(Bytes& out, ByteView bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

Bytes transcript(ByteView clientEphemeral, ByteView clientRandom, ByteView serverEphemeral,
                 ByteView serverIdentity) {
    Bytes t;
    t.reserve(transcriptLength);
    append(t, bytesOf(transcriptLabel));
    append(t, clientEphemeral);
    append(t, clientRandom);
    append(t, serverEphemeral);
    append(t, serverIdentity);
    return t;
}

struct KeyPair {
    std::array<std::uint8_t, 32> k1{};
    std::array<std::uint8_t, 32> k2{};
};

std::optional<KeyPair> deriveKeys(const crypto::P256Key& mine, const crypto::P256Key& peer,
                                  ByteView transcriptBytes) {
    auto shared = crypto::ecdh(mine, peer);
    if (!shared) return std::nullopt;
    const auto salt = crypto::sha256(transcriptBytes);
    auto okm = salt ? crypto::hkdfSha256(*shared, *salt, bytesOf(keyLabel), 64) : std::nullopt;
    OPENSSL_cleanse(shared->data(), shared->size());
    if (!okm) return std::nullopt;
    KeyPair keys;
    std::memcpy(keys.k1.data(), okm->data(), 32);
    std::memcpy(keys.k2.data(), okm->data() + 32, 32);
    OPENSSL_cleanse(okm->data(), okm->size());
    return keys;
}

std::array<std::uint8_t, 12> nonce(std::uint32_t direction, std::uint64_t counter) {
    std::array<std::uint8_t, 12> n{};
    for (int i = 0; i < 4; ++i) n[i] = static_cast<std::uint8_t>(direction >> (24 - 8 * i));
    for (int i = 0; i < 8; ++i) n[4 + i] = static_cast<std::uint8_t>(counter >> (56 - 8 * i));
    return n;
}

}  // namespace

std::string description(SecureError error) {
    switch (error) {
        case SecureError::badHandshake:
            return "The secure link could not be set up.";
        case SecureError::badSignature:
            return "The computer could not prove who it is.";
        case SecureError::identityMismatch:
            return "This computer is not the one you paired with. Pair again with the QR code "
                   "shown in Studio.";
        case SecureError::badRecord:
            return "The secure link was damaged.";
        case SecureError::handshakeTimedOut:
            return "The computer did not answer. Check that Pelorin Studio is open.";
    }
    return {};
}

std::optional<std::string> fingerprint(ByteView publicKey) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const auto digest = crypto::sha256(publicKey);
    if (!digest) return std::nullopt;
    // 16 bytes make 128 bits: 21 full 6-bit groups and 2 bits left over.
    std::string text;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        bits = bits << 8 | (*digest)[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            text.push_back(alphabet[(bits >> count) & 0x3F]);
        }
    }
    if (count > 0) text.push_back(alphabet[(bits << (6 - count)) & 0x3F]);
    return text;
}

std::string displayFingerprint(const std::string& fingerprint) {
    std::string text;
    for (std::size_t i = 0; i < fingerprint.size(); i += 4) {
        if (i > 0) text.push_back(' ');
        text.append(fingerprint, i, 4);
    }
    return text;
}

Identity::Identity(crypto::P256Key key)
    : key_(std::make_shared<crypto::P256Key>(std::move(key))), publicKey_(key_->publicKey()) {}

pelorin::Expected<Identity, std::string> Identity::loadOrCreate(const std::filesystem::path& file) {
    if (auto mapped = common::readFile(file, crypto::privateKeySize);
        mapped && mapped->bytes().size() == crypto::privateKeySize) {
        if (auto key = crypto::P256Key::fromPrivateScalar(mapped->bytes())) {
            return Identity(std::move(*key));
        }
    }
    auto key = crypto::P256Key::generate();
    if (!key) return pelorin::unexpected(std::string("No secure random numbers are available."));
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    if (error) return pelorin::unexpected(error.message());
    auto scalar = key->privateScalar();
    if (!scalar)
        return pelorin::unexpected(std::string("A new key for the secure link could not be made."));
    auto written = common::writeFileAtomically(file, *scalar, ownerOnlyPermissions);
    OPENSSL_cleanse(scalar->data(), scalar->size());
    if (!written) return pelorin::unexpected(written.error().reason);
    // The temporary file was already created 0600; this only mends an older file's mode.
    std::filesystem::permissions(file, ownerOnlyPermissions, error);
    return Identity(std::move(*key));
}

std::optional<std::string> Identity::fingerprint() const {
    if (!publicKey_) return std::nullopt;
    return SecureLink::fingerprint(*publicKey_);
}

Session::Session(std::array<std::uint8_t, 32> sendKey, std::array<std::uint8_t, 32> receiveKey,
                 std::uint32_t sendDirection)
    : sendKey_(sendKey), receiveKey_(receiveKey), sendDirection_(sendDirection) {}

pelorin::Expected<Bytes, SecureError> Session::seal(ByteView frame) {
    const std::uint64_t length = frame.size() + tagLength;
    if (sendCounter_ == std::numeric_limits<std::uint64_t>::max() ||
        length > std::numeric_limits<std::uint32_t>::max()) {
        return pelorin::unexpected(SecureError::badRecord);
    }
    Bytes record(recordHeadLength + length);
    std::memcpy(record.data(), recordTag, 4);
    for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    const auto n = nonce(sendDirection_, sendCounter_);
    if (!crypto::aesGcmSealInto(sendKey_, n, frame, std::span(record).subspan(recordHeadLength))) {
        return pelorin::unexpected(SecureError::badRecord);
    }
    ++sendCounter_;
    return record;
}

pelorin::Expected<Bytes, SecureError> Session::open(ByteView sealed) {
    if (sealed.size() < tagLength || receiveCounter_ == std::numeric_limits<std::uint64_t>::max()) {
        return pelorin::unexpected(SecureError::badRecord);
    }
    Bytes frame(sealed.size() - tagLength);
    const auto n = nonce(1 - sendDirection_, receiveCounter_);
    if (!crypto::aesGcmOpenInto(receiveKey_, n, sealed, frame)) {
        return pelorin::unexpected(SecureError::badRecord);
    }
    ++receiveCounter_;
    return frame;
}

ClientHandshake::ClientHandshake(std::shared_ptr<crypto::P256Key> ephemeral,
                                 PublicKey ephemeralPublic, std::array<std::uint8_t, 16> random)
    : ephemeral_(std::move(ephemeral)), ephemeralPublic_(ephemeralPublic), random_(random) {}

std::optional<ClientHandshake> ClientHandshake::init() {
    auto key = crypto::P256Key::generate();
    std::array<std::uint8_t, 16> random{};
    if (!key || !crypto::randomBytes(random)) return std::nullopt;
    const auto ephemeralPublic = key->publicKey();
    if (!ephemeralPublic) return std::nullopt;
    return ClientHandshake(std::make_shared<crypto::P256Key>(std::move(*key)), *ephemeralPublic,
                           random);
}

std::array<std::uint8_t, clientHelloLength> ClientHandshake::helloBytes() const {
    std::array<std::uint8_t, clientHelloLength> hello{};
    std::memcpy(hello.data(), clientHelloTag, 4);
    std::memcpy(hello.data() + 4, ephemeralPublic_.data(), ephemeralPublic_.size());
    std::memcpy(hello.data() + 69, random_.data(), random_.size());
    return hello;
}

pelorin::Expected<ClientHandshake::Result, SecureError> ClientHandshake::finish(
    ByteView answer) const {
    if (answer.size() <= serverHelloFixedLength ||
        std::memcmp(answer.data(), serverHelloTag, 4) != 0) {
        return pelorin::unexpected(SecureError::badHandshake);
    }
    const std::size_t signatureLength = std::size_t{answer[134]} << 8 | answer[135];
    if (answer.size() != serverHelloFixedLength + signatureLength) {
        return pelorin::unexpected(SecureError::badHandshake);
    }
    const ByteView serverEphemeral = answer.subspan(4, 65);
    const ByteView serverIdentity = answer.subspan(69, 65);
    const Bytes t = transcript(ephemeralPublic_, random_, serverEphemeral, serverIdentity);

    auto identityKey = crypto::P256Key::fromPublicKey(serverIdentity);
    if (!identityKey ||
        !crypto::verifyDer(*identityKey, t, answer.subspan(serverHelloFixedLength))) {
        return pelorin::unexpected(SecureError::badSignature);
    }
    auto peer = crypto::P256Key::fromPublicKey(serverEphemeral);
    if (!peer) return pelorin::unexpected(SecureError::badHandshake);
    auto keys = deriveKeys(*ephemeral_, *peer, t);
    if (!keys) return pelorin::unexpected(SecureError::badHandshake);
    Result result{Session(keys->k1, keys->k2, 0), {}};
    std::memcpy(result.serverIdentity.data(), serverIdentity.data(), serverIdentity.size());
    return result;
}

pelorin::Expected<ServerResponse, SecureError> respond(const Identity& identity,
                                                       ByteView clientHello,
                                                       const crypto::P256Key& ephemeral) {
    if (clientHello.size() != clientHelloLength ||
        std::memcmp(clientHello.data(), clientHelloTag, 4) != 0) {
        return pelorin::unexpected(SecureError::badHandshake);
    }
    const ByteView clientEphemeral = clientHello.subspan(4, 65);
    const ByteView clientRandom = clientHello.subspan(69, 16);
    const auto serverEphemeral = ephemeral.publicKey();
    const auto& serverIdentity = identity.publicKeyData();
    if (!serverEphemeral || !serverIdentity) return pelorin::unexpected(SecureError::badHandshake);
    const Bytes t = transcript(clientEphemeral, clientRandom, *serverEphemeral, *serverIdentity);

    auto signature = crypto::signDer(identity.key(), t);
    auto peer = crypto::P256Key::fromPublicKey(clientEphemeral);
    if (!signature || !peer) return pelorin::unexpected(SecureError::badHandshake);
    auto keys = deriveKeys(ephemeral, *peer, t);
    if (!keys) return pelorin::unexpected(SecureError::badHandshake);

    Bytes hello;
    hello.reserve(serverHelloFixedLength + signature->size());
    append(hello, ByteView(serverHelloTag, 4));
    append(hello, *serverEphemeral);
    append(hello, *serverIdentity);
    hello.push_back(static_cast<std::uint8_t>(signature->size() >> 8));
    hello.push_back(static_cast<std::uint8_t>(signature->size() & 0xFF));
    append(hello, *signature);
    return ServerResponse{std::move(hello), Session(keys->k2, keys->k1, 1)};
}

}  // namespace pelorin::link::SecureLink
