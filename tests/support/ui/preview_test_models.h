#pragma once

#include <QColor>

#include <cstdint>
#include <vector>

namespace pelorin::studio::testing {

using Bytes = std::vector<std::uint8_t>;

// USDZ packages made with the project's own writer, for the preview's tests and benchmark.

// A cube of the given side (metres) centred on `centre`. Its texture is `upper` in the image's
// top half and `lower` in the bottom half, and every face samples only the top half, so a model
// drawn upside down in texture space shows `lower`. Without a texture the cube has no image.
Bytes cubeModel(float side, const QColor& upper, const QColor& lower, bool textured = true,
                float centreX = 0);

// A sphere of about `triangles` triangles with a colourful `textureSide` square JPEG texture.
Bytes sphereModel(int triangles, int textureSide);

}  // namespace pelorin::studio::testing
