#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "common/expected.h"

namespace pelorin::evaluation {

// Positions of `chosen` items spread evenly over `count` in order: the middle of each of
// `chosen` equal stretches. Empty unless 0 < chosen <= count.
std::vector<std::size_t> spreadChoice(std::size_t count, std::size_t chosen);

// Copies the regular files directly inside `folder` to `destination` (created), leaving out
// the named photos; the capture's record, when there is one, is rewritten without their
// records. Fails with a one-line reason, also when the record cannot be read: copied as it is,
// it would still describe the photos left out.
pelorin::Expected<std::monostate, std::string> copyWithout(
    const std::filesystem::path& folder, const std::vector<std::string>& leftOut,
    const std::filesystem::path& destination);

}  // namespace pelorin::evaluation
