#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "common/expected.h"
#include "engine/reconstruction/local/geometry.h"

namespace pelorin::engine::local {

// Gives the photos of a COLMAP database the positions the phone measured (by image name), so
// that matching can pair each photo with its nearest neighbours in space, across the rings of
// a capture. Returns how many photos took a position; fails with a one-line reason.
pelorin::Expected<int, std::string> setPositionPriors(const std::filesystem::path& database,
                                                      const std::map<std::string, Vec3>& positions);

}  // namespace pelorin::engine::local
