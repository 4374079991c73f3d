#pragma once

#include <cstddef>

#include <opencv2/core.hpp>

#include "evaluation/mesh.h"
#include "evaluation/truth_cameras.h"

namespace pelorin::samples {

// How well features matched between two rendered views agree with the exported cameras and
// the true mesh. Catches a camera or mesh in the wrong frame, a flipped axis or a principal
// point off by half a pixel.
struct ViewPairCheck {
    std::size_t matches = 0;
    // Matches within 2 pixels of their epipolar lines: a floor of repeated tiles gives some
    // wrong matches whatever the cameras, wrong cameras leave few right ones.
    std::size_t consistent = 0;
    // Median distance of the consistent matches from their epipolar lines, both ways, in
    // pixels.
    double medianEpipolarPixels = 0;
    // Triangulated matches on the statue: distance from the true surface, in metres.
    std::size_t onStatue = 0;
    double medianSurfaceMetres = 0;
};

// Matches SIFT features of two photos of the same size as their cameras' intrinsics assume.
ViewPairCheck checkViewPair(const cv::Mat& imageA, const cv::Mat& imageB,
                            const evaluation::TruthView& a, const evaluation::TruthView& b,
                            const evaluation::Mesh& statue, const link::ObjectBounds& bounds);

}  // namespace pelorin::samples
