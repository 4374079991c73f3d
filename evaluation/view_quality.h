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
    // Structural similarity (Gaussian window of 1.5 pixels, the three channels averaged), the
    // mean over the object's pixels; 1 when the two agree.
    double ssim = 0;
    // Share of the object's pixels that the model covers.
    double coverage = 0;
    // Share of the frame the object fills.
    double frameShare = 0;
    // The object's pixels.
    std::size_t pixels = 0;
};

// Compares a rendering with a photo of the same size over the mask's non-zero pixels; pixels
// the rendering does not cover count as black.
pelorin::Expected<ViewQuality, std::string> compareInMask(const Rendering& rendering,
                                                          const cv::Mat& photo,
                                                          const cv::Mat& mask);

// Renders the model, moved onto the truth by `toTruth`, through the photo's camera (already
// sized to the photo) and compares it with the photo inside the true object's silhouette. The
// rendering is handed to `rendered` when given, to be looked at.
pelorin::Expected<ViewQuality, std::string> judgeView(const engine::TexturedMesh& model,
                                                      const Similarity& toTruth, const Mesh& truth,
                                                      const PinholeCamera& camera,
                                                      const cv::Mat& photo,
                                                      Rendering* rendered = nullptr);

// Renders the model through the camera of a photo that it was not made from (already sized to
// the photo, in the model's own frame) and compares it with the photo inside the model's own
// silhouette. Without a truth there is no object to measure against: a model that shrinks
// fills less of the frame, and its misplaced texture scores worse.
pelorin::Expected<ViewQuality, std::string> judgeOwnView(const engine::TexturedMesh& model,
                                                         const PinholeCamera& camera,
                                                         const cv::Mat& photo,
                                                         Rendering* rendered = nullptr);

}  // namespace pelorin::evaluation
