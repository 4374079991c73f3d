#pragma once

#include <QByteArray>
#include <QSize>
#include <QVector3D>

#include <cstddef>
#include <vector>

#include "studio/app/preview_placement.h"

namespace pelorin::studio {

// A model as the preview's worker hands it to the main thread: buffers ready for the GPU, nothing
// that needs the file any more.
struct PreviewModel {
    // Position, normal and texture coordinate of each vertex: eight floats, 32 bytes.
    static constexpr int stride = 8 * sizeof(float);

    struct Subset {
        QByteArray indices;  // 32-bit, three per triangle
        QByteArray texture;  // RGBA8888 pixels, top row first; empty when the subset has no image
        QSize textureSize;
    };

    QByteArray vertices;
    std::size_t vertexCount = 0;
    QVector3D boundsMin;
    QVector3D boundsMax;
    PreviewPlacement placement;
    std::vector<Subset> subsets;
};

}  // namespace pelorin::studio
