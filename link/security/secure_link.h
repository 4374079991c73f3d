#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/expected.h"
#include "link/security/crypto.h"

// The protection of the stream between a phone and the desktop: the desktop's signing identity,
// a two-message handshake (P-256 ECDH, the desktop authenticated by an ECDSA signature, keys from
// HKDF-SHA-256) and sealed AES-256-GCM records with counted nonces.
namespace pelorin::link::SecureLink {

using ByteView = std::span<const std::uint8_t>;
using PublicKey = std::array<std::uint8_t, crypto::publicKeySize>;

inline constexpr std::uint8_t clientHelloTag[4] = {'P', 'L', 'H', '1'};
inline constexpr std::uint8_t serverHelloTag[4] = {'P', 'L', 'H', '2'};
inline constexpr std::uint8_t recordTag[4] = {'P', 'L', 'S', '1'};
inline constexpr std::size_t clientHelloLength = 85;
inline constexpr std::size_t serverHelloFixedLength = 136;
inline constexpr std::size_t recordHeadLength = 8;
inline constexpr std::size_t tagLength = 16;

// clang-format 14 takes the attribute for the start of an initializer list.
// clang-format off
enum class [[nodiscard]] SecureError {
    badHandshake,
    badSignature,
    identityMismatch,
    badRecord,
    handshakeTimedOut
};
// clang-format on
std::string description(SecureError error);

// The fingerprint of a 65-byte public key: the first 16 bytes of its SHA-256, URL-safe Base64
// without padding (22 characters); nothing when the digest cannot be made.
[[nodiscard]] std::optional<std::string> fingerprint(ByteView publicKey);
// Groups of four characters separated by single spaces.
std::string displayFingerprint(const std::string& fingerprint);

// The desktop's long-lived signing identity. One whose key cannot give its public point has
// no public key or fingerprint, and every handshake with it fails.
class Identity {
  public:
    explicit Identity(crypto::P256Key key);

    // The identity stored in the file, or a new one stored there (atomically, mode 0600) when
    // the file is missing or holds no valid key. Fails only when a new one cannot be made or
    // stored, with the system's description.
    static pelorin::Expected<Identity, std::string> loadOrCreate(const std::filesystem::path& file);

    const std::optional<PublicKey>& publicKeyData() const { return publicKey_; }
    std::optional<std::string> fingerprint() const;
    const crypto::P256Key& key() const { return *key_; }

  private:
    std::shared_ptr<crypto::P256Key> key_;
    std::optional<PublicKey> publicKey_;
};

// The keys and counters of one established link; the two ends hold mirror images.
class Session {
  public:
    Session(std::array<std::uint8_t, 32> sendKey, std::array<std::uint8_t, 32> receiveKey,
            std::uint32_t sendDirection);

    // One complete record: tag, length, ciphertext and tag. Fails (badRecord) only when the
    // counter is spent or the frame is too large for one record, never reusing a nonce.
    pelorin::Expected<Bytes, SecureError> seal(ByteView frame);
    // Opens the bytes that follow a record's 8-byte head.
    pelorin::Expected<Bytes, SecureError> open(ByteView sealed);

    std::uint32_t sendDirection() const { return sendDirection_; }
    std::uint64_t sendCounter() const { return sendCounter_; }
    std::uint64_t receiveCounter() const { return receiveCounter_; }

  private:
    friend class SessionTestAccess;

    std::array<std::uint8_t, 32> sendKey_;
    std::array<std::uint8_t, 32> receiveKey_;
    std::uint32_t sendDirection_;
    std::uint64_t sendCounter_ = 0;
    std::uint64_t receiveCounter_ = 0;
};

// The phone's state between sending its hello and checking the desktop's answer.
class ClientHandshake {
  public:
    // A fresh ephemeral key and random value; nothing if the system cannot provide them.
    static std::optional<ClientHandshake> init();

    std::array<std::uint8_t, clientHelloLength> helloBytes() const;

    struct Result {
        Session session;
        PublicKey serverIdentity;
    };
    // Checks the server hello and derives the client's session.
    pelorin::Expected<Result, SecureError> finish(ByteView serverHello) const;

  private:
    ClientHandshake(std::shared_ptr<crypto::P256Key> ephemeral, PublicKey ephemeralPublic,
                    std::array<std::uint8_t, 16> random);

    std::shared_ptr<crypto::P256Key> ephemeral_;
    PublicKey ephemeralPublic_;
    std::array<std::uint8_t, 16> random_;
};

struct ServerResponse {
    Bytes serverHello;
    Session session;
};

// The server's half of the handshake: answers the 85-byte client hello with a fresh ephemeral
// key. Fails (badHandshake) when either key cannot give its public point.
pelorin::Expected<ServerResponse, SecureError> respond(const Identity& identity,
                                                       ByteView clientHello,
                                                       const crypto::P256Key& ephemeral);

}  // namespace pelorin::link::SecureLink
