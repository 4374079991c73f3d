#pragma once

#include <array>

namespace pelorin::studio {

// Where the preview puts a model: scaled so that its largest side measures 0.5 and moved so that
// its bounding box is centred on the origin. A box without extent (a point) keeps scale 1.
struct PreviewPlacement {
    float scale = 1;
    std::array<float, 3> offset{};  // applied after the scale
};

PreviewPlacement placeModel(const std::array<float, 3>& min, const std::array<float, 3>& max);

}  // namespace pelorin::studio
