#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"
#include "evaluation/alignment.h"
#include "evaluation/mesh.h"
#include "evaluation/pinhole_camera.h"

namespace pelorin::evaluation {

// A model drawn through a camera.
struct Rendering {
    // 8-bit blue, green, red, as cv::imread gives photos; black where nothing is drawn.
    cv::Mat colour;
    // 255 where some triangle covers the pixel's centre, else 0.
    cv::Mat coverage;
};

// Draws a textured mesh, first moved into the camera's world by `toWorld`: nearest surface per
// pixel centre, texture coordinates interpolated in perspective, base-colour images sampled
// bilinearly with their edges clamped. Triangles are seen from both sides and clipped at the
// camera's near plane. Groups without an image are light grey. Fails when an image cannot be
// decoded.
pelorin::Expected<Rendering, std::string> renderTextured(const engine::TexturedMesh& mesh,
                                                         const Similarity& toWorld,
                                                         const PinholeCamera& camera);

// The pixels whose centres some triangle of the mesh covers: 255, else 0.
cv::Mat renderSilhouette(const Mesh& mesh, const PinholeCamera& camera);

// The depth (along the camera's axis) of the nearest surface at each pixel centre, as doubles;
// infinity where nothing is drawn.
cv::Mat renderDepth(const Mesh& mesh, const PinholeCamera& camera);

}  // namespace pelorin::evaluation
