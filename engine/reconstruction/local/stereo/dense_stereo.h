#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "engine/reconstruction/local/colmap/sparse_model.h"

namespace pelorin::engine::local {

// A photo as stereo sees it: its pose and pinhole camera at the working size, the image as
// single-channel floats, and optionally where the object is (non-zero) in the same size.
struct StereoView {
    RegisteredView view;
    cv::Mat grey;  // CV_32F
    cv::Mat mask;  // CV_8U or empty
};

struct StereoOptions {
    // Depth hypotheses, spread evenly in inverse depth across the range.
    int planes = 160;
    // Side of the square window compared between photos, in pixels.
    int window = 7;
    // How many of the neighbours' scores count at each pixel (the best ones), so that a part
    // hidden from one neighbour can still be found in the others.
    int bestNeighbours = 2;
    // Correlation a depth needs to be kept.
    double minimumCorrelation = 0.55;
    // Standard deviation below which a window has too little texture to match (grey levels).
    double minimumTexture = 1.5;
    // Image pyramid levels. Every plane is swept on the coarsest image only; each finer level
    // tries a few depths around the coarser answer, which costs a fraction of a sweep and
    // halves the depth step at each level. 1 sweeps the image at its own size.
    int levels = 2;
    // Depths tried either side of a coarser answer, in steps of the finer level.
    int refineSteps = 3;
    // Window of the coarsest level's sweep when there are finer levels. Each of its pixels
    // spans several of the photo's, so a smaller window holds up on slanted surfaces: on the
    // statue the surface's error fell by an eighth against the finest level's window.
    int coarseWindow = 5;
    // Pixels the coarsest sweep's window may shift either way: each pixel takes the best of the
    // windows that hold it, not only the one centred on it, and the finer level checks the
    // answer with centred windows. On the statue's faint, uneven texture the body's depth maps
    // had fewer holes and the held-out PSNR rose by 0.5 dB at about the same error.
    int coarseShift = 1;
};

// Depth along the viewing axis per pixel of the reference view; 0 where nothing was found.
struct DepthMap {
    RegisteredView view;  // camera at the map's size
    cv::Mat depth;        // CV_32F
};

// Plane-sweep stereo with normalised cross-correlation between the reference photo and its
// neighbours over [nearest, farthest], refined coarse to fine.
DepthMap computeDepthMap(const StereoView& reference, const std::vector<StereoView>& neighbours,
                         double nearest, double farthest, const StereoOptions& options = {});

// The same view's camera for its image resized to `size` (pixel corners stay aligned). Each
// axis scales by its own ratio: rounding gives a scaled image's two sides different ones.
RegisteredView viewAtSize(const RegisteredView& view, cv::Size size);

}  // namespace pelorin::engine::local
