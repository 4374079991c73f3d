#pragma once

#include <string_view>

namespace pelorin::engine {

// The order a file browser shows names in: case-insensitive, runs of digits compared by value
// (IMG_2 before IMG_10). True when a sorts before b.
bool naturalLess(std::string_view a, std::string_view b);

}  // namespace pelorin::engine
