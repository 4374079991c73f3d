#pragma once

#include <optional>
#include <vector>

#include "engine/reconstruction/local/stereo/depth_fusion.h"

namespace pelorin::engine::local {

// The height (along +Y, up) just above the surface an upright object stands on (a table, a
// plinth, the floor): the lowest level in the cloud's lower third at which many points face
// straight up. Nothing when there is none.
std::optional<double> supportHeight(const std::vector<DensePoint>& points);

}  // namespace pelorin::engine::local
