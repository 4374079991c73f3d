// Parses arbitrary text as a pairing link; what parses must write and parse back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link/discovery/pairing_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto link = pelorin::link::PairingLink::parse(text);
    if (!link) return 0;
    auto again = pelorin::link::PairingLink::parse(link->url());
    if (!again || !(*again == *link)) std::abort();
    return 0;
}
