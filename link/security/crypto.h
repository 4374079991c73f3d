#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/expected.h"

// The cryptographic primitives of the secure link, on OpenSSL's EVP interfaces: P-256 keys,
// ECDSA with SHA-256, ECDH, HKDF-SHA-256 and AES-256-GCM. Every function fails softly (an empty
// optional or false) on bad input or when OpenSSL fails; none throws, and none hands back
// bytes it did not fully compute.
namespace pelorin::link::crypto {

using ByteView = std::span<const std::uint8_t>;

// The uncompressed X9.63 form of a P-256 public key: 0x04, X, Y.
constexpr std::size_t publicKeySize = 65;
constexpr std::size_t privateKeySize = 32;

// An owned P-256 key (private and public, or public only).
class P256Key {
  public:
    P256Key();
    ~P256Key();
    P256Key(P256Key&&) noexcept;
    P256Key& operator=(P256Key&&) noexcept;
    P256Key(const P256Key&) = delete;
    P256Key& operator=(const P256Key&) = delete;

    // A fresh private key whose public y is the smaller of y and p - y.
    [[nodiscard]] static std::optional<P256Key> generate();
    // A private key from its 32-byte big-endian scalar; nothing unless 0 < scalar < n.
    [[nodiscard]] static std::optional<P256Key> fromPrivateScalar(ByteView scalar);
    // A public key from its 65-byte uncompressed form; nothing unless the point is on the curve.
    [[nodiscard]] static std::optional<P256Key> fromPublicKey(ByteView x963);

    [[nodiscard]] bool hasPrivate() const;
    // The uncompressed point; nothing when OpenSSL cannot give exactly that form.
    [[nodiscard]] std::optional<std::array<std::uint8_t, publicKeySize>> publicKey() const;
    // The 32-byte big-endian private scalar; nothing for a key without one.
    [[nodiscard]] std::optional<std::array<std::uint8_t, privateKeySize>> privateScalar() const;

    // Defined in p256_key_handle.h.
    struct Handle;
    Handle* handle() const { return handle_.get(); }

  private:
    std::unique_ptr<Handle> handle_;
};

// Fills the buffer from the system's secure random generator.
[[nodiscard]] bool randomBytes(std::span<std::uint8_t> out);

[[nodiscard]] std::optional<std::array<std::uint8_t, 32>> sha256(ByteView data);

// ECDSA over SHA-256 of the message, signature in DER.
[[nodiscard]] std::optional<Bytes> signDer(const P256Key& key, ByteView message);
[[nodiscard]] bool verifyDer(const P256Key& publicKey, ByteView message, ByteView derSignature);

// The X coordinate of the shared point.
[[nodiscard]] std::optional<std::array<std::uint8_t, 32>> ecdh(const P256Key& privateKey,
                                                               const P256Key& peer);

// RFC 5869 with SHA-256; nothing when the length is beyond 255 * 32 bytes.
[[nodiscard]] std::optional<Bytes> hkdfSha256(ByteView inputKey, ByteView salt, ByteView info,
                                              std::size_t length);

// AES-256-GCM with a 12-byte nonce, a 16-byte tag and no additional data. Seal writes
// ciphertext followed by the tag; open takes the same and fails when the tag does not verify.
[[nodiscard]] std::optional<Bytes> aesGcmSeal(ByteView key, ByteView nonce, ByteView plaintext);
[[nodiscard]] std::optional<Bytes> aesGcmOpen(ByteView key, ByteView nonce,
                                              ByteView ciphertextAndTag);
// The same without allocating: `out` holds plaintext.size() + 16 bytes when sealing and
// ciphertextAndTag.size() - 16 when opening.
[[nodiscard]] bool aesGcmSealInto(ByteView key, ByteView nonce, ByteView plaintext,
                                  std::span<std::uint8_t> out);
[[nodiscard]] bool aesGcmOpenInto(ByteView key, ByteView nonce, ByteView ciphertextAndTag,
                                  std::span<std::uint8_t> out);

}  // namespace pelorin::link::crypto
