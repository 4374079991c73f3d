#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelorin::link {

// The content of the pairing QR code: which desktop to pair with, the code to send, where to
// reach it, and its identity fingerprint. Written as a "pelorin3d://pair?..." URL.
struct PairingLink {
    static constexpr std::size_t maxNameLength = 120;

    std::string studioName;
    std::string code;
    std::optional<std::string> host;
    std::optional<std::uint16_t> port;
    std::optional<std::string> fingerprint;

    bool operator==(const PairingLink&) const = default;

    std::string url() const;

    // Nothing when the text is not a URL or not an acceptable pairing link.
    static std::optional<PairingLink> parse(std::string_view text);
};

}  // namespace pelorin::link
