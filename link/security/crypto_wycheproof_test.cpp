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

// Runs `check(group, test, result, where)` over every vector of the file; the number run.
template <class Check>
int forEachVector(const std::string& name, Check check) {
    int checked = 0;
    const json file = load(name);
    for (const auto& group : file.at("testGroups")) {
        for (const auto& test : group["tests"]) {
            const std::string where = "tcId " + std::to_string(test.value("tcId", 0)) + " (" +
                                      test.value("comment", "") + ")";
            check(group, test, test["result"].get<std::string>(), where);
            ++checked;
        }
    }
    return checked;
}

TEST(Wycheproof, EcdsaP256Sha256Der) {
    const int checked =
        forEachVector("ecdsa_secp256r1_sha256_test.json", [](const json& group, const json& test,
                                                             const std::string& result,
                                                             const std::string& where) {
            auto key = P256Key::fromPublicKey(hex(group["publicKey"]["uncompressed"]));
            ASSERT_TRUE(key) << where;
            const bool verified = verifyDer(*key, hex(test["msg"]), hex(test["sig"]));
            if (result != "acceptable") {
                EXPECT_EQ(verified, result == "valid") << where;
            }
        });
    EXPECT_GT(checked, 400);
}

TEST(Wycheproof, EcdhP256RawPoints) {
    const int checked = forEachVector(
        "ecdh_secp256r1_ecpoint_test.json",
        [](const json&, const json& test, const std::string& result, const std::string& where) {
            auto mine = P256Key::fromPrivateScalar(scalar32(test["private"]));
            ASSERT_TRUE(mine) << where;
            auto peer = P256Key::fromPublicKey(hex(test["public"]));
            std::optional<std::array<std::uint8_t, 32>> shared;
            if (peer) shared = ecdh(*mine, *peer);
            if (result == "valid") {
                ASSERT_TRUE(shared) << where;
                EXPECT_EQ(Bytes(shared->begin(), shared->end()), hex(test["shared"])) << where;
            }
            if (result == "invalid") {
                EXPECT_FALSE(shared) << where;
            }
        });
    EXPECT_GT(checked, 300);
}

TEST(Wycheproof, Aes256GcmWithoutAdditionalData) {
    int used = 0;
    forEachVector("aes_gcm_test.json", [&](const json& group, const json& test,
                                           const std::string& result, const std::string& where) {
        if (group["keySize"] != 256 || group["ivSize"] != 96 || group["tagSize"] != 128 ||
            !test["aad"].get<std::string>().empty())
            return;
        ++used;
        const Bytes key = hex(test["key"]), nonce = hex(test["iv"]), message = hex(test["msg"]);
        Bytes sealed = hex(test["ct"]);
        const Bytes tag = hex(test["tag"]);
        sealed.insert(sealed.end(), tag.begin(), tag.end());
        auto opened = aesGcmOpen(key, nonce, sealed);
        if (result == "valid") {
            EXPECT_EQ(aesGcmSeal(key, nonce, message), sealed) << where;
            ASSERT_TRUE(opened) << where;
            EXPECT_EQ(*opened, message) << where;
        }
        if (result == "invalid") {
            EXPECT_FALSE(opened && *opened == message) << where;
        }
    });
    EXPECT_GT(used, 10);
}

TEST(Wycheproof, HkdfSha256) {
    const int checked = forEachVector(
        "hkdf_sha256_test.json",
        [](const json&, const json& test, const std::string& result, const std::string& where) {
            auto okm = hkdfSha256(hex(test["ikm"]), hex(test["salt"]), hex(test["info"]),
                                  test["size"].get<std::size_t>());
            if (result == "valid") {
                ASSERT_TRUE(okm) << where;
                EXPECT_EQ(*okm, hex(test["okm"])) << where;
            }
            if (result == "invalid") {
                EXPECT_FALSE(okm) << where;
            }
        });
    EXPECT_GT(checked, 50);
}

}  // namespace
}  // namespace pelorin::link::crypto
