#pragma once

#include <vector>

#include "engine/geometry/vector_math.h"
#include "engine/reconstruction/local/stereo/depth_fusion.h"

namespace pelorin::engine::local {

struct BackgroundOptions {
    // Points within this share of the cloud's size from a plane, facing along its normal, lie
    // on it.
    double planeTolerance = 0.006;
    // A plane is large when it holds at least this share of the cloud's points.
    double leastPlaneShare = 0.06;
    // Something stands out of a plane when this share of the points lies in front of it, and
    // they reach out of it by at least `standOut` of their width along it: a relief or a
    // facade stands out less than that.
    double leastStandingShare = 0.02;
    double standOut = 0.25;
    // Photos see little behind a wall or under a floor: a plane with more behind it than this
    // share of what stands out of it runs through the object instead, and stays.
    double mostBehind = 0.5;
    // Planes looked for at most: a floor, a table, two walls.
    int planes = 5;
    // Random plane guesses for each plane, and the points they are tried on at most.
    int trials = 400;
    std::size_t sampled = 60000;
    // A piece of what remains (points linked within this share of the cloud's size) stays when
    // it holds at least `leastPieceShare` of them.
    double pieceLink = 0.02;
    double leastPieceShare = 0.01;
};

// Takes the background out of a cloud of an object: every large plane that all cameras stay
// on one side of and that something stands out of towards them (a wall behind a mounted
// object, a table, a floor) goes, with everything behind it, and then the small pieces left
// apart. A plane nothing stands out of is the capture itself (a facade, a relief) and stays.
// Returns how many planes were removed.
int removeBackground(std::vector<DensePoint>& points, const std::vector<Vec3>& cameras,
                     const BackgroundOptions& options = {});

}  // namespace pelorin::engine::local
