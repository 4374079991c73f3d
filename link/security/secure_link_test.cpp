#include "link/security/secure_link.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/uuid.h"
#include "link/security/openssl_faults.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::link::SecureLink {

class SessionTestAccess {
  public:
    static void setSendCounter(Session& session, std::uint64_t value) {
        session.sendCounter_ = value;
    }
};

namespace {

Identity newIdentity() {
    return Identity(*crypto::P256Key::generate());
}

struct Pair {
    Session client;
    Session server;
};

Pair handshake(const Identity& identity) {
    auto client = ClientHandshake::init();
    EXPECT_TRUE(client);
    const auto hello = client->helloBytes();
    auto response = respond(identity, hello, *crypto::P256Key::generate());
    EXPECT_TRUE(response);
    auto finished = client->finish(response->serverHello);
    EXPECT_TRUE(finished);
    EXPECT_EQ(finished->serverIdentity, identity.publicKeyData());
    return {finished->session, response->session};
}

// The L bytes after a record's head.
Bytes body(const Bytes& record) {
    return Bytes(record.begin() + 8, record.end());
}

TEST(Fingerprint, ShapeAndDisplayForm) {
    const auto fp = newIdentity().fingerprint();
    ASSERT_TRUE(fp);
    ASSERT_EQ(fp->size(), 22u);
    EXPECT_EQ(
        fp->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
        std::string::npos);
    // The first 16 bytes of SHA-256 over 65 zero bytes, in URL-safe Base64 without padding
    // (worked out with another implementation).
    EXPECT_EQ(fingerprint(Bytes(65, 0)), "mM5C3u9R1AJp1UL1MUvvLA");
    EXPECT_EQ(displayFingerprint("mM5C3u9R1AJp1UL1MUvvLA"), "mM5C 3u9R 1AJp 1UL1 MUvv LA");
}

TEST(Fingerprint, NothingWithoutADigest) {
    const crypto::testing::WithoutAlgorithms bare;
    EXPECT_FALSE(fingerprint(Bytes(65, 0)));
}

TEST(Handshake, EndsInMirrorImageSessions) {
    const Identity identity = newIdentity();
    auto [client, server] = handshake(identity);
    EXPECT_EQ(client.sendDirection(), 0u);
    EXPECT_EQ(server.sendDirection(), 1u);
    const Bytes frame = {1, 2, 3, 4, 5};
    auto record = client.seal(frame);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), frame.size() + 24);
    EXPECT_EQ(Bytes(record->begin(), record->begin() + 4), (Bytes{'P', 'L', 'S', '1'}));
    EXPECT_EQ(Bytes(record->begin() + 4, record->begin() + 8), (Bytes{0, 0, 0, 21}));
    EXPECT_EQ(server.open(body(*record)).value(), frame);
    auto back = server.seal(Bytes{9});
    EXPECT_EQ(client.open(body(*back)).value(), Bytes{9});
    // An empty frame still makes a record.
    EXPECT_EQ(server.open(body(client.seal(Bytes{}).value())).value(), Bytes{});
    // The server's records do not open as the client's.
    auto own = client.seal(frame);
    EXPECT_EQ(client.open(body(*own)).error(), SecureError::badRecord);
}

TEST(Handshake, ClientHelloMustBeExact) {
    const Identity identity = newIdentity();
    const auto ephemeral = *crypto::P256Key::generate();
    const auto hello = ClientHandshake::init()->helloBytes();
    const Bytes bytes(hello.begin(), hello.end());
    Bytes shorter(bytes.begin(), bytes.end() - 1), longer = bytes, wrongTag = bytes,
                                                   offCurve = bytes;
    longer.push_back(0);
    wrongTag[3] = '2';
    offCurve[40] ^= 1;
    for (const Bytes& bad : {shorter, longer, wrongTag, offCurve})
        EXPECT_EQ(respond(identity, bad, ephemeral).error(), SecureError::badHandshake);
}

TEST(Handshake, ServerHelloIsChecked) {
    const Identity identity = newIdentity();
    auto client = *ClientHandshake::init();
    const auto hello = client.helloBytes();
    const Bytes answer = respond(identity, hello, *crypto::P256Key::generate())->serverHello;

    EXPECT_EQ(client.finish(Bytes(answer.begin(), answer.begin() + 136)).error(),
              SecureError::badHandshake);
    Bytes longer = answer;
    longer.push_back(0);
    EXPECT_EQ(client.finish(longer).error(), SecureError::badHandshake);
    Bytes wrongTag = answer;
    wrongTag[0] = 'X';
    EXPECT_EQ(client.finish(wrongTag).error(), SecureError::badHandshake);
    Bytes badDer = answer;
    badDer[136] = 0x31;
    EXPECT_EQ(client.finish(badDer).error(), SecureError::badSignature);
    Bytes otherIdentity = answer;
    const auto stranger = newIdentity().publicKeyData().value();
    std::copy(stranger.begin(), stranger.end(), otherIdentity.begin() + 69);
    EXPECT_EQ(client.finish(otherIdentity).error(), SecureError::badSignature);

    // A signature over another client's random does not verify here.
    Bytes otherHello(hello.begin(), hello.end());
    otherHello[80] ^= 0xFF;
    const Bytes forOther = respond(identity, otherHello, *crypto::P256Key::generate())->serverHello;
    EXPECT_EQ(client.finish(forOther).error(), SecureError::badSignature);
}

// Before, such a key went out as a short or all-zero point in the server hello.
TEST(Handshake, AKeyThatCannotGiveItsPointFailsTheHandshake) {
    const Identity identity = newIdentity();
    const auto ephemeral = *crypto::P256Key::generate();
    const auto hello = ClientHandshake::init()->helloBytes();
    ASSERT_TRUE(respond(identity, hello, ephemeral));
    for (const auto& unexportable : crypto::testing::unexportableKeys()) {
        SCOPED_TRACE(unexportable.name);
        EXPECT_EQ(respond(identity, hello, unexportable.make()).error(), SecureError::badHandshake);
        const Identity broken(unexportable.make());
        EXPECT_FALSE(broken.publicKeyData());
        EXPECT_FALSE(broken.fingerprint());
        EXPECT_EQ(respond(broken, hello, ephemeral).error(), SecureError::badHandshake);
    }
}

TEST(Records, AnyDamageOrReplayFails) {
    auto [client, server] = handshake(newIdentity());
    const Bytes first = body(client.seal(Bytes(100, 1)).value());
    const Bytes second = body(client.seal(Bytes(100, 2)).value());
    // Out of order.
    EXPECT_EQ(server.open(second).error(), SecureError::badRecord);
    EXPECT_EQ(server.receiveCounter(), 0u);
    EXPECT_TRUE(server.open(first));
    // Twice.
    EXPECT_EQ(server.open(first).error(), SecureError::badRecord);
    EXPECT_TRUE(server.open(second));

    const Bytes third = body(client.seal(Bytes(40, 3)).value());
    for (std::size_t byte = 0; byte < third.size(); byte += 7) {
        for (int bit = 0; bit < 8; bit += 3) {
            Bytes damaged = third;
            damaged[byte] ^= static_cast<std::uint8_t>(1 << bit);
            EXPECT_EQ(server.open(damaged).error(), SecureError::badRecord) << byte << ":" << bit;
        }
    }
    EXPECT_EQ(server.open(Bytes(15, 0)).error(), SecureError::badRecord);
    EXPECT_EQ(server.open(Bytes{}).error(), SecureError::badRecord);
    EXPECT_TRUE(server.open(third));
}

TEST(Records, ASpentCounterFailsInsteadOfReusingANonce) {
    auto [client, server] = handshake(newIdentity());
    SessionTestAccess::setSendCounter(client, ~0ULL - 1);
    EXPECT_TRUE(client.seal(Bytes{1}));
    EXPECT_EQ(client.sendCounter(), ~0ULL);
    EXPECT_EQ(client.seal(Bytes{1}).error(), SecureError::badRecord);
    EXPECT_EQ(client.sendCounter(), ~0ULL);
}

class IdentityFile : public ::testing::Test {
  protected:
    Bytes contents() const { return pelorin::testing::readBytes(file()); }
    unsigned mode() const {
        struct stat info {};
        EXPECT_EQ(stat(file().c_str(), &info), 0);
        return info.st_mode & 0777;
    }
    std::filesystem::path file() const { return folder_ / "nested" / "link-identity.key"; }
    pelorin::testing::ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path();
};

TEST_F(IdentityFile, CreatedOnceThenKept) {
    auto first = Identity::loadOrCreate(file());
    ASSERT_TRUE(first) << first.error();
    const Bytes stored = contents();
    EXPECT_EQ(stored.size(), 32u);
    EXPECT_EQ(mode(), 0600u);
    for (int i = 0; i < 3; ++i) {
        auto again = Identity::loadOrCreate(file());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->fingerprint(), first->fingerprint());
        EXPECT_EQ(contents(), stored);
    }
}

TEST_F(IdentityFile, InvalidContentsAreReplaced) {
    for (const Bytes& junk : {Bytes(31, 7), Bytes(33, 7), Bytes(32, 0), Bytes(32, 0xFF)}) {
        pelorin::testing::writeFile(file(), junk);
        std::filesystem::permissions(file(), std::filesystem::perms::all);
        auto identity = Identity::loadOrCreate(file());
        ASSERT_TRUE(identity);
        const Bytes stored = contents();
        EXPECT_EQ(stored.size(), 32u);
        EXPECT_NE(stored, junk);
        EXPECT_EQ(mode(), 0600u);
        EXPECT_EQ(Identity::loadOrCreate(file())->fingerprint(), identity->fingerprint());
    }
}

TEST_F(IdentityFile, UnwritableLocationFails) {
    pelorin::testing::writeFile(folder_ / "nested", "a file where a folder should be");
    auto identity = Identity::loadOrCreate(file());
    ASSERT_FALSE(identity);
    EXPECT_FALSE(identity.error().empty());
}

}  // namespace
}  // namespace pelorin::link::SecureLink
