#pragma once

#include <stop_token>
#include <utility>
#include <vector>

#include "engine/reconstruction/local/colmap/colmap_database.h"

namespace pelorin::engine::local {

struct PairSelectionOptions {
    // Features of each photo compared with every other photo, largest scale first: they are
    // the ones most likely seen again from elsewhere, and few enough that all pairs are cheap.
    int featuresPerPhoto = 300;
    // A match counts when its nearest descriptor is nearer than this share of the second's
    // distance, both ways.
    double ratio = 0.8;
    // Matches that must agree on one epipolar geometry before two photos count as partners;
    // unrelated photos share a handful by chance.
    int leastAgreeingMatches = 16;
    // Best partners kept for each photo.
    int partnersPerPhoto = 8;
    // Pixels off the epipolar line a match may lie and still agree.
    double epipolarPixels = 3;
    unsigned threads = 2;
};

// Scores every pair of photos by the matches of their strongest features that agree on one
// geometry, then keeps the pairs worth matching in full: each photo's best partners, the
// links that join every group of photos that can be joined (so the rings of a capture link
// up), and, when the photos were taken in `ordered` sequence, each photo's best partner before
// and after it. Pairs are (i, j) with i < j, indices into `photos`, sorted; none once `stop`
// is requested.
std::vector<std::pair<int, int>> selectPairs(const std::vector<PhotoFeatures>& photos, bool ordered,
                                             const PairSelectionOptions& options = {},
                                             std::stop_token stop = {});

// The pairs, and every pair of a photo that has none with each other photo: the cheap pass may
// miss a weakly textured photo, and full matching still places it when it can be placed.
std::vector<std::pair<int, int>> withLonePhotosMatchedInFull(std::vector<std::pair<int, int>> pairs,
                                                             int photos);

}  // namespace pelorin::engine::local
