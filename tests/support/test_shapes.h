#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "engine/formats/textured_mesh.h"
#include "evaluation/alignment.h"
#include "evaluation/mesh.h"

// Shapes and transforms that several evaluation tests measure.
namespace pelorin::evaluation::fixtures {

// A closed, lumpy, asymmetric solid about 2.5 units across: no rotation maps it onto itself.
// With an offset, every vertex moves that far out along its normal.
Mesh lumpySolid(double offset = 0);

// A turn about (1, 2, 3), 40 degrees unless told, scaled by `scale` and moved by (5, -3, 12).
Similarity someSimilarity(double scale = 0.37, double degrees = 40);

// The image encoded as PNG.
std::vector<std::uint8_t> png(const cv::Mat& image);

// The mesh with per-vertex normals and texture coordinates from its vertices' positions, its
// triangles split between two groups with different images and a third that shares the first
// one's image.
engine::TexturedMesh texturedOf(const Mesh& mesh);

}  // namespace pelorin::evaluation::fixtures
