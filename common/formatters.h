#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The texts the window, the phone status and the engine's messages share for durations, file
// sizes and progress, so that one job never reads "1 min 0 s" in one place and "60 s" in another.
namespace pelorin::common::Formatters {

// "42 s", "1 min 0 s", "1 h 5 min"; none for none, a negative or a non-finite count of seconds.
std::optional<std::string> duration(std::optional<double> seconds);

// Decimal units as file managers show them: "512 bytes", "12 KB", "1.2 GB"; none for none or a
// negative count.
std::optional<std::string> bytes(std::optional<std::int64_t> count);

// "0%" to "100%": the fraction clamped to 0...1 and rounded.
std::string percent(double fraction);

}  // namespace pelorin::common::Formatters
