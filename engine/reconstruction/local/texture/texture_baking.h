#pragma once

#include <array>
#include <filesystem>
#include <stop_token>
#include <vector>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"

namespace pelorin::engine::local {

// A registered photo and its undistorted image (BGR) at the size of its camera.
struct TextureView {
    RegisteredView view;
    cv::Mat image;
};

// A mesh with one texture: each triangle's three corners carry their own texture coordinate
// (u right, v up from the atlas's bottom edge).
struct BakedModel {
    SurfaceMesh mesh;
    std::vector<std::array<std::array<float, 2>, 3>> texcoords;  // per triangle, per corner
    cv::Mat atlas;                                               // BGR, square
};

struct BakeOptions {
    // Edge of the square atlas in pixels.
    int atlasSize = 4096;
    // Pixels of colour spread beyond each chart's edge so that filtering shows no seams.
    int gutter = 4;
    // Photos averaged into each texel, weighted by the square root of how well they see its
    // face; 1 copies the best photo alone. More average out the photos' noise and small
    // misalignments: on a real capture six gave 0.2 dB more held-out PSNR than three, and once
    // photos that disagree on a face were left out, twenty 0.3 dB more than six.
    int blendedViews = 20;
    // Only photos that see the face at least this share as well as the best one are averaged;
    // much worse ones would blur it.
    float blendShare = 0.05f;
    // Photos compared at each face to find the colour most of them show there, the better ones
    // counting more. Those that show another (something in front that the surface lacks, the
    // light through a hole) are left out of it: on a real capture 0.5 dB more held-out PSNR.
    int comparedViews = 20;
    // Distance between two photos' colours of a face (8-bit BGR) beyond which they disagree.
    float disagreement = 30;
    // Each photo's colours are levelled against the others' before any is copied
    // (exposureGains).
    bool levelExposure = true;
    // Threads to use.
    unsigned threads = 2;
};

// Turns each triangle to face the photos that see it, picks for each the photo that sees it
// best (near, head-on, not hidden, from either side), gathers
// neighbouring triangles with the same photo into charts, packs the charts into one atlas,
// levels the photos' exposures, copies their pixels from the photos and blends in the next best
// photos that agree on the face's colour inside the faces.
// Once `stop` is requested it returns early with an unfinished model, for the caller to throw
// away.
BakedModel bakeTexture(const SurfaceMesh& mesh, std::vector<TextureView> views,
                       const BakeOptions& options = {}, std::stop_token stop = {});

// The baked model as the model writers take it, the atlas encoded as PNG: a vertex for each
// triangle corner, with normals computed from the surface. Fails with a one-line reason.
pelorin::Expected<TexturedMesh, std::string> texturedMesh(const BakedModel& model);

}  // namespace pelorin::engine::local
