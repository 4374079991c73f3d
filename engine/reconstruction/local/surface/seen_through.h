#pragma once

#include <stop_token>
#include <vector>

#include "engine/geometry/surface_mesh.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/view_selection.h"

namespace pelorin::engine::local {

struct SeenThroughOptions {
    // Share of a vertex's depth by which what a view sees must lie beyond it for the view to
    // see through it. On the statue 2% left a sixth more error in the surface than 1%.
    double margin = 0.01;
    // Views that must see through a vertex before it goes.
    int leastViews = 2;
    // Pixels either way of a vertex's projection that must all lie beyond it, so that a vertex
    // at an object's edge is not judged by the background beside it.
    int reach = 1;
    // Support (the surface's own measure of the points behind it) from which a vertex counts as
    // measured: a view that sees through it must then see something its three best neighbours'
    // depth maps find too, since a stray far depth in one map would open holes in real surface
    // (under the statue's chin, along the legs). Below it the surface is the solver's guess,
    // and one map's depth disproves it.
    float measuredSupport = 7;
    // Of those neighbours, how many must find what is seen beyond a measured vertex.
    int confirmedBy = 2;
    // Relative depth difference within which a neighbour's map finds it.
    double agreement = 0.01;
    unsigned threads = 2;
};

// Which of the points more views see through than find there.
std::vector<bool> seenThrough(const std::vector<Vec3>& points, const std::vector<float>& support,
                              const std::vector<DepthMap>& maps,
                              const std::vector<ViewNeighbours>& neighbours,
                              const SeenThroughOptions& options = {}, std::stop_token stop = {});

// The surface without the triangles at a vertex that more views see through (their depth maps
// find something farther behind it) than find it there: surface the photos show to be empty
// space. `support` holds each vertex's support; without one for every vertex, every vertex
// counts as measured. `neighbours` runs in the order of `maps`. The vertices stay as they were,
// unused ones included. Once `stop` is requested it returns early with an unfinished surface.
SurfaceMesh removeSeenThrough(const SurfaceMesh& mesh, const std::vector<float>& support,
                              const std::vector<DepthMap>& maps,
                              const std::vector<ViewNeighbours>& neighbours,
                              const SeenThroughOptions& options = {}, std::stop_token stop = {});

}  // namespace pelorin::engine::local
