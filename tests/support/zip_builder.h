#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace pelorin::testing {

// A stored ZIP with the given (name, data) entries, laid out as a package writer does: local
// headers and data, the central directory, the end record and an archive comment of
// `commentLength` bytes. CRCs are left 0: the readers under test do not check them.
Bytes storedZip(const std::vector<std::pair<std::string, std::string>>& entries,
                std::size_t commentLength = 0);

}  // namespace pelorin::testing
