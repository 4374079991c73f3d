#include "link/security/crypto.h"

#include <gtest/gtest.h>

#include <functional>

#include "link/security/openssl_faults.h"

namespace pelorin::link::crypto {
namespace {

TEST(P256Keys, NewKeysAreCompactAndRoundTripThroughTheirScalar) {
    for (int i = 0; i < 20; ++i) {
        auto key = P256Key::generate();
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->hasPrivate());
        const auto pub = key->publicKey();
        ASSERT_TRUE(pub);
        EXPECT_EQ((*pub)[0], 0x04);
        // y <= p - y: with p odd this means y is at most (p - 1) / 2, whose top byte is 0x7F.
        EXPECT_LE((*pub)[33], 0x7F);
        const auto scalar = key->privateScalar();
        ASSERT_TRUE(scalar);
        auto again = P256Key::fromPrivateScalar(*scalar);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->publicKey(), pub);
        auto signature = signDer(*key, Bytes{1, 2, 3});
        ASSERT_TRUE(signature);
        EXPECT_TRUE(verifyDer(*P256Key::fromPublicKey(*pub), Bytes{1, 2, 3}, *signature));
    }
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(32, 0)));
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(32, 0xFF)));
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(31, 1)));
    EXPECT_FALSE(P256Key::fromPublicKey(Bytes(65, 0)));
}

TEST(P256Keys, AKeyThatCannotGiveItsPointHasNoPublicKey) {
    for (const auto& unexportable : testing::unexportableKeys()) {
        SCOPED_TRACE(unexportable.name);
        const P256Key key = unexportable.make();
        EXPECT_FALSE(key.publicKey());
        const auto scalar = key.privateScalar();
        EXPECT_EQ(scalar.has_value(), unexportable.scalarReadable);
        if (scalar) {
            EXPECT_NE(*scalar, (std::array<std::uint8_t, privateKeySize>{}));
        }
    }
}

TEST(P256Keys, APublicKeyHasNoScalar) {
    const auto key = P256Key::generate();
    ASSERT_TRUE(key);
    const auto pub = P256Key::fromPublicKey(key->publicKey().value());
    ASSERT_TRUE(pub);
    EXPECT_FALSE(pub->hasPrivate());
    EXPECT_FALSE(pub->privateScalar());
}

// Every primitive that needs an algorithm reports its absence rather than handing back bytes.
TEST(Primitives, WithoutAlgorithmsNothingIsProduced) {
    // Made while OpenSSL still has its algorithms (which also sets up the curve).
    const auto key = P256Key::generate();
    ASSERT_TRUE(key);
    const auto pub = key->publicKey().value();
    const auto scalar = key->privateScalar().value();
    const Bytes key32(32, 1), nonce(12, 2), data(40, 3);
    const Bytes sealed = aesGcmSeal(key32, nonce, data).value();

    const testing::WithoutAlgorithms bare;
    const std::vector<std::pair<const char*, std::function<bool()>>> produced = {
        {"sha256", [&] { return sha256(data).has_value(); }},
        {"random bytes",
         [] {
             std::array<std::uint8_t, 16> out{};
             return randomBytes(out);
         }},
        {"generate", [] { return P256Key::generate().has_value(); }},
        {"from public key", [&] { return P256Key::fromPublicKey(pub).has_value(); }},
        {"from private scalar", [&] { return P256Key::fromPrivateScalar(scalar).has_value(); }},
        {"hkdf", [&] { return hkdfSha256(key32, data, data, 64).has_value(); }},
        {"seal", [&] { return aesGcmSeal(key32, nonce, data).has_value(); }},
        {"open", [&] { return aesGcmOpen(key32, nonce, sealed).has_value(); }},
    };
    for (const auto& [name, run] : produced) EXPECT_FALSE(run()) << name;
}

}  // namespace
}  // namespace pelorin::link::crypto
