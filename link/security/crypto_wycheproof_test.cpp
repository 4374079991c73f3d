#include "link/security/crypto.h"

#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

// Runs the primitives against the Wycheproof test vectors kept in the repository's test data.
namespace pelorin::link::crypto {
namespace {

using nlohmann::json;

json load(const std::string& name) {
    std::ifstream in(std::string(PELORIN_TEST_DATA) + "/wycheproof/" + name);
    EXPECT_TRUE(in) << name;
    return in ? json::parse(in) : json::object();
}

Bytes hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Wycheproof writes scalars as signed big-endian integers of any length.
Bytes scalar32(const std::string& text) {
    Bytes bytes = hex(text);
    while (bytes.size() > 32 && bytes.front() == 0) bytes.erase(bytes.begin());
    while (bytes.size() < 32) bytes.insert(bytes.begin(), 0);
    return bytes;
}

std::string describe(const json& test) {
    return "tcId " + std::to_string(test.value("tcId", 0)) + " (" + test.value("comment", "") + ")";
}

TEST(Wycheproof, EcdsaP256Sha256Der) {
    const json file = load("ecdsa_secp256r1_sha256_test.json");
    int checked = 0;
    for (const auto& group : file["testGroups"]) {
        auto key = P256Key::fromPublicKey(hex(group["publicKey"]["uncompressed"]));
        ASSERT_TRUE(key);
        for (const auto& test : group["tests"]) {
            const std::string result = test["result"];
            const bool verified = verifyDer(*key, hex(test["msg"]), hex(test["sig"]));
            if (result == "valid") {
                EXPECT_TRUE(verified) << describe(test);
            }
            if (result == "invalid") {
                EXPECT_FALSE(verified) << describe(test);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 400);
}

TEST(Wycheproof, EcdhP256RawPoints) {
    const json file = load("ecdh_secp256r1_ecpoint_test.json");
    int checked = 0;
    for (const auto& group : file["testGroups"]) {
        for (const auto& test : group["tests"]) {
            const std::string result = test["result"];
            auto mine = P256Key::fromPrivateScalar(scalar32(test["private"]));
            ASSERT_TRUE(mine) << describe(test);
            auto peer = P256Key::fromPublicKey(hex(test["public"]));
            std::optional<std::array<std::uint8_t, 32>> shared;
            if (peer) shared = ecdh(*mine, *peer);
            if (result == "valid") {
                ASSERT_TRUE(shared) << describe(test);
                EXPECT_EQ(Bytes(shared->begin(), shared->end()), hex(test["shared"]))
                    << describe(test);
            }
            if (result == "invalid") {
                EXPECT_FALSE(shared) << describe(test);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 300);
}

TEST(Wycheproof, Aes256GcmWithoutAdditionalData) {
    const json file = load("aes_gcm_test.json");
    int checked = 0;
    for (const auto& group : file["testGroups"]) {
        if (group["keySize"] != 256 || group["ivSize"] != 96 || group["tagSize"] != 128) continue;
        for (const auto& test : group["tests"]) {
            if (!test["aad"].get<std::string>().empty()) continue;
            const std::string result = test["result"];
            const Bytes key = hex(test["key"]), nonce = hex(test["iv"]), message = hex(test["msg"]);
            Bytes sealed = hex(test["ct"]);
            const Bytes tag = hex(test["tag"]);
            sealed.insert(sealed.end(), tag.begin(), tag.end());
            auto opened = aesGcmOpen(key, nonce, sealed);
            if (result == "valid") {
                EXPECT_EQ(aesGcmSeal(key, nonce, message), sealed) << describe(test);
                ASSERT_TRUE(opened) << describe(test);
                EXPECT_EQ(*opened, message) << describe(test);
            }
            if (result == "invalid") {
                EXPECT_FALSE(opened && *opened == message) << describe(test);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
}

TEST(Wycheproof, HkdfSha256) {
    const json file = load("hkdf_sha256_test.json");
    int checked = 0;
    for (const auto& group : file["testGroups"]) {
        for (const auto& test : group["tests"]) {
            const std::string result = test["result"];
            auto okm = hkdfSha256(hex(test["ikm"]), hex(test["salt"]), hex(test["info"]),
                                  test["size"].get<std::size_t>());
            if (result == "valid") {
                ASSERT_TRUE(okm) << describe(test);
                EXPECT_EQ(*okm, hex(test["okm"])) << describe(test);
            }
            if (result == "invalid") {
                EXPECT_FALSE(okm) << describe(test);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

TEST(P256Keys, NewKeysAreCompactAndRoundTripThroughTheirScalar) {
    for (int i = 0; i < 20; ++i) {
        auto key = P256Key::generate();
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->hasPrivate());
        const auto pub = key->publicKey();
        EXPECT_EQ(pub[0], 0x04);
        // y <= p - y: with p odd this means y is at most (p - 1) / 2, whose top byte is 0x7F.
        EXPECT_LE(pub[33], 0x7F);
        auto again = P256Key::fromPrivateScalar(key->privateScalar());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->publicKey(), pub);
        auto signature = signDer(*key, Bytes{1, 2, 3});
        ASSERT_TRUE(signature);
        EXPECT_TRUE(verifyDer(*P256Key::fromPublicKey(pub), Bytes{1, 2, 3}, *signature));
    }
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(32, 0)));
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(32, 0xFF)));
    EXPECT_FALSE(P256Key::fromPrivateScalar(Bytes(31, 1)));
    EXPECT_FALSE(P256Key::fromPublicKey(Bytes(65, 0)));
}

}  // namespace
}  // namespace pelorin::link::crypto
