#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelorin {

// A 128-bit UUID. Written as 36-character hyphenated upper-case text; read in either case.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A fresh random (version 4) UUID from the system's secure random generator.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;

    auto operator<=>(const Uuid&) const = default;
};

}  // namespace pelorin
