#pragma once

#include <optional>
#include <string_view>

namespace pelorin::engine::local {

// How far one COLMAP command has got, read from a line of its log: "Processed file [i/n]"
// (feature extraction), "Matching image [i/n]" (sequential matching), "Matching block
// [a/b, c/d]" (exhaustive matching) and "Registering image #k (n)" (mapping, n images
// registered so far out of `imageCount`). Nothing for any other line.
std::optional<double> colmapLineFraction(std::string_view line, int imageCount);

}  // namespace pelorin::engine::local
