#pragma once

#include <cstddef>
#include <string>

#include <opencv2/core.hpp>

#include "common/expected.h"
#include "engine/formats/textured_mesh.h"
#include "evaluation/alignment.h"
#include "evaluation/mesh.h"
#include "evaluation/pinhole_camera.h"
#include "evaluation/rasteriser.h"

namespace pelorin::evaluation {

// How well a model's rendering matches a photo over the object.
struct ViewQuality {
    // Peak signal-to-noise ratio in decibels, 8-bit, over blue, green and red together;
    // infinite when the two agree exactly.
    double psnr = 0;
    // Share of the object's pixels that the model covers.
    double coverage = 0;
    // The object's pixels.
    std::size_t pixels = 0;
};

// Compares a rendering with a photo of the same size over the mask's non-zero pixels; pixels
// the rendering does not cover count as black.
pelorin::Expected<ViewQuality, std::string> compareInMask(const Rendering& rendering,
                                                          const cv::Mat& photo,
                                                          const cv::Mat& mask);

// Renders the model, moved onto the truth by `toTruth`, through the photo's camera (already
// sized to the photo) and compares it with the photo inside the true object's silhouette.
pelorin::Expected<ViewQuality, std::string> judgeView(const engine::TexturedMesh& model,
                                                      const Similarity& toTruth, const Mesh& truth,
                                                      const PinholeCamera& camera,
                                                      const cv::Mat& photo);

}  // namespace pelorin::evaluation
