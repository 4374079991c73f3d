#include "engine/reconstruction/local/surface/seen_through.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/reconstruction/local/parallel_for.h"
#include "engine/reconstruction/local/stereo/depth_fusion.h"

namespace pelorin::engine::local {

namespace {

// How many views see through each vertex, and how many find it.
struct Votes {
    std::vector<std::uint16_t> through, found;
    explicit Votes(std::size_t count) : through(count, 0), found(count, 0) {}
};

void voteFrom(std::size_t m, const std::vector<Vec3>& points, const std::vector<float>& support,
              const std::vector<DepthMap>& maps, const std::vector<ViewNeighbours>& neighbours,
              const SeenThroughOptions& options, Votes& votes) {
    const DepthMap& map = maps[m];
    const auto& all = m < neighbours.size() ? neighbours[m].neighbours : std::vector<std::size_t>{};
    const std::size_t asked = std::min<std::size_t>(all.size(), 3);
    const int reach = std::max(0, options.reach);
    // A support that does not run beside the points says nothing of them.
    const bool supported = support.size() == points.size();
    for (std::size_t v = 0; v < points.size(); ++v) {
        const Vec3 p = map.view.project(points[v]);
        if (p[2] <= 0) continue;
        const int x = int(std::floor(p[0])), y = int(std::floor(p[1]));
        if (x < reach || y < reach || x + reach >= map.depth.cols || y + reach >= map.depth.rows)
            continue;
        const float own = map.depth.at<float>(y, x);
        if (own > 0 && std::abs(own - p[2]) <= options.margin * p[2]) {
            ++votes.found[v];
            continue;
        }
        // Seen through only when every depth around lies beyond the vertex.
        bool beyond = true;
        float some = 0;
        for (int dy = -reach; dy <= reach && beyond; ++dy) {
            const float* depths = map.depth.ptr<float>(y + dy);
            for (int dx = -reach; dx <= reach; ++dx) {
                const float depth = depths[x + dx];
                if (depth <= 0) continue;
                some = depth;
                beyond = beyond && depth > p[2] * (1 + options.margin);
            }
        }
        if (some <= 0 || !beyond) continue;
        const bool measured = !supported || support[v] >= options.measuredSupport;
        if (measured && options.confirmedBy > 0) {
            // The pixel's own depth, or where it has none one around it.
            const Vec3 seen = backProject(map.view, x, y, own > 0 ? own : some);
            int agreeing = 0;
            for (std::size_t k = 0; k < asked && agreeing < options.confirmedBy; ++k)
                agreeing += agrees(maps[all[k]], seen, options.agreement);
            if (agreeing < options.confirmedBy) continue;
        }
        ++votes.through[v];
    }
}

}  // namespace

std::vector<bool> seenThrough(const std::vector<Vec3>& points, const std::vector<float>& support,
                              const std::vector<DepthMap>& maps,
                              const std::vector<ViewNeighbours>& neighbours,
                              const SeenThroughOptions& options, std::stop_token stop) {
    const std::size_t count = points.size();
    const unsigned threads = std::max(1u, options.threads);
    std::vector<Votes> votes(threads, Votes(count));
    parallelFor(
        "seen through", maps.size(), threads,
        [&](std::size_t m, unsigned worker) {
            voteFrom(m, points, support, maps, neighbours, options, votes[worker]);
        },
        stop);
    std::vector<bool> empty(count, false);
    for (std::size_t v = 0; v < count; ++v) {
        int through = 0, found = 0;
        for (const auto& worker : votes) through += worker.through[v], found += worker.found[v];
        empty[v] = through >= options.leastViews && through > found;
    }
    return empty;
}

SurfaceMesh removeSeenThrough(const SurfaceMesh& mesh, const std::vector<float>& support,
                              const std::vector<DepthMap>& maps,
                              const std::vector<ViewNeighbours>& neighbours,
                              const SeenThroughOptions& options, std::stop_token stop) {
    const std::vector<bool> empty =
        seenThrough(mesh.vertices, support, maps, neighbours, options, std::move(stop));
    SurfaceMesh kept;
    kept.vertices = mesh.vertices;
    for (const auto& t : mesh.triangles)
        if (!empty[t[0]] && !empty[t[1]] && !empty[t[2]]) kept.triangles.push_back(t);
    return kept;
}

}  // namespace pelorin::engine::local
