#pragma once

#include "engine/formats/textured_mesh.h"

namespace pelorin::evaluation {

// Figures of a model's surface that need no truth, each a share of its whole area.
struct SurfaceFigures {
    // Faces whose three texture coordinates are one point: the grey no photo saw.
    double unseen = 0;
    // The largest plane: faces within half a percent of the model's diagonal of one plane and
    // facing along it (a wall or a floor left in the model).
    double largestPlane = 0;
    // Pieces (faces joined at corners) that each hold under 1% of the area, together.
    double smallParts = 0;
};

SurfaceFigures surfaceFigures(const engine::TexturedMesh& model);

}  // namespace pelorin::evaluation
