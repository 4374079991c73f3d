#include "studio/app/preview_placement.h"

#include <algorithm>
#include <cmath>

namespace pelorin::studio {

PreviewPlacement placeModel(const std::array<float, 3>& min, const std::array<float, 3>& max) {
    float extent = 0;
    for (int axis = 0; axis < 3; ++axis) extent = std::max(extent, max[axis] - min[axis]);
    PreviewPlacement placement;
    placement.scale = extent > 0 && std::isfinite(extent) ? 0.5f / extent : 1.0f;
    for (int axis = 0; axis < 3; ++axis)
        placement.offset[axis] = -(min[axis] + max[axis]) / 2 * placement.scale;
    return placement;
}

}  // namespace pelorin::studio
