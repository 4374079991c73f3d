#include "engine/reconstruction/local/surface/surface_mesh.h"

#include <numeric>

namespace pelorin::engine::local {

namespace {

SurfaceMesh compact(const SurfaceMesh& mesh, const std::vector<bool>& keepTriangle) {
    SurfaceMesh result;
    std::vector<std::uint32_t> remap(mesh.vertices.size(), UINT32_MAX);
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        if (!keepTriangle[t]) continue;
        Triangle out;
        for (int c = 0; c < 3; ++c) {
            auto& target = remap[mesh.triangles[t][c]];
            if (target == UINT32_MAX) {
                target = static_cast<std::uint32_t>(result.vertices.size());
                result.vertices.push_back(mesh.vertices[mesh.triangles[t][c]]);
            }
            out[c] = target;
        }
        result.triangles.push_back(out);
    }
    return result;
}

std::uint32_t findRoot(std::vector<std::uint32_t>& parent, std::uint32_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
}

}  // namespace

SurfaceMesh keepInside(const SurfaceMesh& mesh, const std::function<bool(const Vec3&)>& keep) {
    std::vector<bool> inside(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) inside[v] = keep(mesh.vertices[v]);
    std::vector<bool> keepTriangle(mesh.triangles.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& [a, b, c] = mesh.triangles[t];
        keepTriangle[t] = inside[a] && inside[b] && inside[c];
    }
    return compact(mesh, keepTriangle);
}

SurfaceMesh largestComponent(const SurfaceMesh& mesh) {
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    std::iota(parent.begin(), parent.end(), 0u);
    for (const auto& t : mesh.triangles) {
        const auto a = findRoot(parent, t[0]);
        parent[findRoot(parent, t[1])] = a;
        parent[findRoot(parent, t[2])] = a;
    }
    std::vector<std::size_t> size(mesh.vertices.size(), 0);
    std::uint32_t biggest = 0;
    for (const auto& t : mesh.triangles) {
        const auto root = findRoot(parent, t[0]);
        if (++size[root] > size[biggest]) biggest = root;
    }
    std::vector<bool> keepTriangle(mesh.triangles.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t)
        keepTriangle[t] = findRoot(parent, mesh.triangles[t][0]) == biggest;
    return compact(mesh, keepTriangle);
}

}  // namespace pelorin::engine::local
