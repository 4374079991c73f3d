// Opens arbitrary bytes as records of an established session; nothing may open by chance.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/security/secure_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin::link::SecureLink;
    std::array<std::uint8_t, 32> key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 7);
    Session session(key, key, 0);
    if (session.open(std::span(data, size))) std::abort();
    return 0;
}
