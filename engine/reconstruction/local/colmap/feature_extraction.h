#pragma once

#include <opencv2/core.hpp>

#include "engine/reconstruction/local/colmap/colmap_database.h"

namespace pelorin::engine::local {

struct FeatureExtractionOptions {
    // At most this many blobs a photo, the largest kept: they are the likeliest to be seen again
    // from elsewhere.
    int maxFeatures = 4000;
    // A blob with several clear directions gives a feature for each, up to this many.
    int orientations = 2;
    // How far a blob must stand out of its surroundings, as a share of the grey range, to be a
    // feature: COLMAP's own threshold, which finds about as many as its extractor did. OpenCV's
    // default (0.04) counts differently and finds about half as many.
    double contrastThreshold = 0.02;
    // Blobs stretched along an edge beyond this ratio of their curvatures are dropped: where they
    // sit along the edge is unsure.
    double edgeThreshold = 10;
};

// The SIFT features of a grey photo, where `mask` (empty, or the photo's size) is non-zero.
// Points are in COLMAP's pixel convention, the top left pixel's centre at (0.5, 0.5); scales
// are in the photo's pixels; descriptors are COLMAP's root-normalised bytes. The smallest scale
// found is the photo's own pixels: a doubled photo's features are rarely seen again and cost
// four times as much. Photos too small to hold one feature give none.
PhotoFeatures findFeatures(const cv::Mat& grey, const cv::Mat& mask,
                           const FeatureExtractionOptions& options);

}  // namespace pelorin::engine::local
