#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "engine/reconstruction/local/texture/texture_baking.h"

namespace pelorin::engine::local {

struct ExposureOptions {
    // The photos are sampled this many times smaller, each sample the mean of a block, so that
    // noise and fine texture do not pass for exposure.
    int sampleReduction = 4;
    // A photo takes part for a face only when it sees it at least this share as well as the
    // photo that sees it best: grazing views smear colours.
    double leastShareOfBest = 0.25;
    // Samples darker or brighter than these (any channel) are clipped or noise and tell nothing.
    int darkest = 8;
    int brightest = 247;
    // Samples that disagree with the face's levelled colour by more than this (natural log)
    // after the first rounds are taken for occlusion or glare and left out.
    double outlier = 0.2;
    // Pull of each gain towards 1, as a share of its photo's samples.
    double regularisation = 0.01;
    // Gains stay within [1 / most, most].
    double mostGain = 1.6;
};

// Per photo, the blue, green and red gains that bring its colours in line with the other photos
// of the faces they both see: exposure and white balance move from frame to frame on a phone,
// and show as seams where neighbouring charts come from different photos. Their geometric mean
// is 1, so the model keeps the capture's overall brightness. `scores[v][f]` says how well view v
// sees face f (0 when it does not).
std::vector<cv::Vec3d> exposureGains(const SurfaceMesh& mesh, const std::vector<TextureView>& views,
                                     const std::vector<std::vector<float>>& scores,
                                     const ExposureOptions& options = {});

// Multiplies each view's image by its gains, saturating.
void applyGains(std::vector<TextureView>& views, const std::vector<cv::Vec3d>& gains);

}  // namespace pelorin::engine::local
