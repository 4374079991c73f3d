// Hands arbitrary bytes to both halves of the handshake: the server's answer to a client hello
// and the client's check of a server hello.
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/security/secure_link.h"

using namespace pelorin::link;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const SecureLink::Identity identity(*crypto::P256Key::generate());
    static const crypto::P256Key ephemeral = *crypto::P256Key::generate();
    static const auto client = SecureLink::ClientHandshake::init();
    const std::span<const std::uint8_t> bytes(data, size);
    (void)SecureLink::respond(identity, bytes, ephemeral);
    // A forged server hello must never pass: no one here holds a key that signs for it.
    if (client->finish(bytes)) __builtin_trap();
    return 0;
}
