#include "engine/reconstruction/local/surface/mesh_decimation.h"

#include <algorithm>
#include <array>
#include <optional>
#include <queue>

#include <opencv2/core.hpp>

#include "engine/reconstruction/local/parallel_for.h"

namespace pelorin::engine::local {

namespace {

// The sum of squared distances to a set of planes, as a symmetric 4x4 matrix.
struct Quadric {
    std::array<double, 10> q{};  // a2 ab ac ad b2 bc bd c2 cd d2

    static Quadric plane(const Vec3& n, double d, double weight) {
        const double a = n[0], b = n[1], c = n[2];
        return {{weight * a * a, weight * a * b, weight * a * c, weight * a * d, weight * b * b,
                 weight * b * c, weight * b * d, weight * c * c, weight * c * d, weight * d * d}};
    }
    Quadric& operator+=(const Quadric& other) {
        for (int i = 0; i < 10; ++i) q[i] += other.q[i];
        return *this;
    }
    double error(const Vec3& p) const {
        const double x = p[0], y = p[1], z = p[2];
        return q[0] * x * x + 2 * q[1] * x * y + 2 * q[2] * x * z + 2 * q[3] * x + q[4] * y * y +
               2 * q[5] * y * z + 2 * q[6] * y + q[7] * z * z + 2 * q[8] * z + q[9];
    }
    // The point of least error, when the quadric fixes one.
    std::optional<Vec3> minimum() const {
        const cv::Matx33d a(q[0], q[1], q[2], q[1], q[4], q[5], q[2], q[5], q[7]);
        if (std::abs(cv::determinant(a)) < 1e-15) return std::nullopt;
        const cv::Vec3d x = a.solve(cv::Vec3d(-q[3], -q[6], -q[8]), cv::DECOMP_LU);
        return Vec3{x[0], x[1], x[2]};
    }
};

struct Candidate {
    std::uint32_t a, b;
    std::uint32_t stampA, stampB;
    Vec3 position;
};

// The queue holds only a price and where its candidate lies: popping sifts through millions of
// entries, and small ones keep that in the cache.
struct Price {
    float cost;
    std::uint32_t slot;
    bool operator>(const Price& other) const { return cost > other.cost; }
};

class Decimator {
  public:
    // `locked` vertices (none when empty) never move, nor do their edges collapse.
    explicit Decimator(const SurfaceMesh& mesh, std::vector<bool> locked = {})
        : vertices_(mesh.vertices),
          triangles_(mesh.triangles),
          alive_(mesh.triangles.size(), true),
          facesOf_(mesh.vertices.size()),
          quadrics_(mesh.vertices.size()),
          stamp_(mesh.vertices.size(), 0),
          locked_(std::move(locked)),
          refused_(mesh.vertices.size(), false) {
        locked_.resize(vertices_.size(), false);
        // Every edge once per face it borders, as (low << 32 | high), sorted.
        std::vector<std::uint64_t> edges;
        edges.reserve(3 * triangles_.size());
        for (std::uint32_t f = 0; f < triangles_.size(); ++f) {
            const auto& t = triangles_[f];
            Vec3 n = cross(vertices_[t[1]] - vertices_[t[0]], vertices_[t[2]] - vertices_[t[0]]);
            const double area = 0.5 * norm(n);
            n = normalized(n);
            const Quadric q = Quadric::plane(n, -dot(n, vertices_[t[0]]), area);
            for (auto v : t) {
                facesOf_[v].push_back(f);
                quadrics_[v] += q;
            }
            for (int e = 0; e < 3; ++e) edges.push_back(edgeKey(t[e], t[(e + 1) % 3]));
        }
        std::sort(edges.begin(), edges.end());
        const auto uses = [&](std::uint64_t key) {
            const auto range = std::equal_range(edges.begin(), edges.end(), key);
            return range.second - range.first;
        };
        // Edges of one face only are the outline: planes across them keep it in place.
        for (std::uint32_t f = 0; f < triangles_.size(); ++f) {
            const auto& t = triangles_[f];
            const Vec3 n = normalized(
                cross(vertices_[t[1]] - vertices_[t[0]], vertices_[t[2]] - vertices_[t[0]]));
            for (int e = 0; e < 3; ++e) {
                const auto a = t[e], b = t[(e + 1) % 3];
                if (uses(edgeKey(a, b)) != 1) continue;
                const Vec3 along = vertices_[b] - vertices_[a];
                const Vec3 across = normalized(cross(along, n));
                const Quadric q =
                    Quadric::plane(across, -dot(across, vertices_[a]), 100 * dot(along, along));
                quadrics_[a] += q;
                quadrics_[b] += q;
            }
        }
        edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
        for (const auto key : edges) push(std::uint32_t(key >> 32), std::uint32_t(key));
        liveFaces_ = triangles_.size();
    }

    // `sources`, when given, receives each kept vertex's index in the mesh given.
    SurfaceMesh run(std::size_t target, const std::stop_token& stop,
                    std::vector<std::uint32_t>* sources = nullptr) {
        // Checked now and then: a large mesh takes seconds, and a cancel should not wait.
        for (std::size_t step = 1; liveFaces_ > target && !queue_.empty(); ++step) {
            if (step % 4096 == 0 && stop.stop_requested()) break;
            const std::uint32_t slot = queue_.top().slot;
            queue_.pop();
            const Candidate c = candidates_[slot];
            freeSlots_.push_back(slot);
            if (stamp_[c.a] != c.stampA || stamp_[c.b] != c.stampB) continue;  // outdated
            collapse(c);
        }
        SurfaceMesh result;
        std::vector<std::uint32_t> remap(vertices_.size(), UINT32_MAX);
        for (std::size_t f = 0; f < triangles_.size(); ++f) {
            if (!alive_[f]) continue;
            Triangle out;
            for (int k = 0; k < 3; ++k) {
                auto& target = remap[triangles_[f][k]];
                if (target == UINT32_MAX) {
                    target = static_cast<std::uint32_t>(result.vertices.size());
                    result.vertices.push_back(vertices_[triangles_[f][k]]);
                    if (sources) sources->push_back(triangles_[f][k]);
                }
                out[k] = target;
            }
            result.triangles.push_back(out);
        }
        return result;
    }

  private:
    static std::uint64_t edgeKey(std::uint32_t a, std::uint32_t b) {
        return std::uint64_t(std::min(a, b)) << 32 | std::max(a, b);
    }

    void push(std::uint32_t a, std::uint32_t b) {
        if (locked_[a] || locked_[b]) return;
        Quadric q = quadrics_[a];
        q += quadrics_[b];
        const Vec3 middle = 0.5 * (vertices_[a] + vertices_[b]);
        Vec3 best = middle;
        double cost = q.error(middle);
        // Millions of edges are priced: no allocation here.
        std::array<Vec3, 3> options = {vertices_[a], vertices_[b], middle};
        std::size_t count = 2;
        if (auto optimum = q.minimum();
            optimum && norm(*optimum - middle) < 2 * norm(vertices_[a] - vertices_[b]))
            options[count++] = *optimum;
        for (std::size_t k = 0; k < count; ++k) {
            const double e = q.error(options[k]);
            if (e < cost) cost = e, best = options[k];
        }
        const Candidate candidate{a, b, stamp_[a], stamp_[b], best};
        std::uint32_t slot;
        if (freeSlots_.empty()) {
            slot = std::uint32_t(candidates_.size());
            candidates_.push_back(candidate);
        } else {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
            candidates_[slot] = candidate;
        }
        queue_.push({float(std::max(cost, 0.0)), slot});
    }

    // Moving a and b to p must not turn any surviving face over.
    bool flips(std::uint32_t moved, std::uint32_t other, const Vec3& p) const {
        for (auto f : facesOf_[moved]) {
            if (!alive_[f]) continue;
            const auto& t = triangles_[f];
            if (t[0] == other || t[1] == other || t[2] == other) continue;  // goes away
            Vec3 corners[3], moves[3];
            for (int k = 0; k < 3; ++k) {
                corners[k] = vertices_[t[k]];
                moves[k] = t[k] == moved ? p : corners[k];
            }
            const Vec3 before = cross(corners[1] - corners[0], corners[2] - corners[0]);
            const Vec3 after = cross(moves[1] - moves[0], moves[2] - moves[0]);
            if (dot(before, after) <= 0.2 * norm(before) * norm(after)) return true;
        }
        return false;
    }

    void collapse(const Candidate& c) {
        const std::uint32_t a = c.a, b = c.b;
        if (flips(a, b, c.position) || flips(b, a, c.position)) {
            // Tried again once the faces around it move.
            refused_[a] = refused_[b] = true;
            return;
        }
        vertices_[a] = c.position;
        quadrics_[a] += quadrics_[b];
        for (auto f : facesOf_[b]) {
            if (!alive_[f]) continue;
            auto& t = triangles_[f];
            if (t[0] == a || t[1] == a || t[2] == a) {
                alive_[f] = false;
                --liveFaces_;
                continue;
            }
            for (auto& v : t)
                if (v == b) v = a;
            facesOf_[a].push_back(f);
        }
        facesOf_[b].clear();
        std::erase_if(facesOf_[a], [&](std::uint32_t f) { return !alive_[f]; });
        ++stamp_[a];
        ++stamp_[b];
        // Only a's edges change price, and the refused edges of its neighbours may now fold
        // without turning a face over; every other edge nearby keeps its quadrics and its ends,
        // so its entry stays valid.
        repriced_.clear();
        for (auto f : facesOf_[a])
            for (auto w : triangles_[f])
                if (w != a) repriced_.push_back(edgeKey(a, w));
        for (auto f : facesOf_[a])
            for (auto v : triangles_[f]) {
                if (v == a || !refused_[v]) continue;
                refused_[v] = false;
                for (auto g : facesOf_[v])
                    if (alive_[g])
                        for (auto w : triangles_[g])
                            if (w != v && w != a) repriced_.push_back(edgeKey(v, w));
            }
        std::sort(repriced_.begin(), repriced_.end());
        repriced_.erase(std::unique(repriced_.begin(), repriced_.end()), repriced_.end());
        for (const auto key : repriced_) push(std::uint32_t(key >> 32), std::uint32_t(key));
    }

    std::vector<Vec3> vertices_;
    std::vector<Triangle> triangles_;
    std::vector<bool> alive_;
    std::vector<std::vector<std::uint32_t>> facesOf_;
    std::vector<Quadric> quadrics_;
    std::vector<std::uint32_t> stamp_;
    std::vector<bool> locked_;
    std::vector<bool> refused_;  // a collapse of one of its edges would have turned a face over
    std::priority_queue<Price, std::vector<Price>, std::greater<>> queue_;
    std::vector<Candidate> candidates_;
    std::vector<std::uint32_t> freeSlots_;
    std::size_t liveFaces_ = 0;
    std::vector<std::uint64_t> repriced_;  // kept to spare an allocation per collapse
};

// Below this many triangles one thread decimates sooner than splitting and joining would.
constexpr std::size_t leastToSplit = 200000;

// The mesh cut in two across its longest side, each half's vertices on the cut locked so that
// the halves still meet when joined.
struct Half {
    SurfaceMesh mesh;
    std::vector<bool> locked;
    std::vector<std::uint32_t> original;  // each vertex's index in the whole mesh
};

std::array<Half, 2> halves(const SurfaceMesh& mesh) {
    Vec3 low = mesh.vertices[0], high = low;
    for (const auto& v : mesh.vertices)
        for (int a = 0; a < 3; ++a)
            low[a] = std::min(low[a], v[a]), high[a] = std::max(high[a], v[a]);
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (high[a] - low[a] > high[axis] - low[axis]) axis = a;
    std::vector<double> along(mesh.triangles.size());
    for (std::size_t f = 0; f < along.size(); ++f) {
        const auto& t = mesh.triangles[f];
        along[f] =
            mesh.vertices[t[0]][axis] + mesh.vertices[t[1]][axis] + mesh.vertices[t[2]][axis];
    }
    std::vector<double> sorted = along;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double middle = sorted[sorted.size() / 2];
    std::vector<std::uint8_t> sides(mesh.vertices.size(), 0);  // bit 0: first half, bit 1: second
    for (std::size_t f = 0; f < along.size(); ++f)
        for (auto v : mesh.triangles[f]) sides[v] |= along[f] < middle ? 1 : 2;
    std::array<Half, 2> result;
    std::vector<std::uint32_t> local(mesh.vertices.size());
    for (int h = 0; h < 2; ++h) {
        Half& half = result[h];
        std::fill(local.begin(), local.end(), UINT32_MAX);
        for (std::size_t f = 0; f < along.size(); ++f) {
            if ((along[f] < middle) != (h == 0)) continue;
            Triangle out;
            for (int k = 0; k < 3; ++k) {
                const auto v = mesh.triangles[f][k];
                if (local[v] == UINT32_MAX) {
                    local[v] = std::uint32_t(half.mesh.vertices.size());
                    half.mesh.vertices.push_back(mesh.vertices[v]);
                    half.locked.push_back(sides[v] == 3);
                    half.original.push_back(v);
                }
                out[k] = local[v];
            }
            half.mesh.triangles.push_back(out);
        }
    }
    return result;
}

// The decimated halves as one mesh, the vertices they share made one again.
SurfaceMesh joined(const std::array<Half, 2>& parts, std::size_t originalVertices) {
    SurfaceMesh whole;
    std::vector<std::uint32_t> shared(originalVertices, UINT32_MAX);
    for (const Half& half : parts) {
        std::vector<std::uint32_t> index(half.mesh.vertices.size());
        for (std::size_t v = 0; v < index.size(); ++v) {
            auto& slot = half.locked[v] ? shared[half.original[v]] : index[v];
            if (!half.locked[v] || slot == UINT32_MAX) {
                slot = std::uint32_t(whole.vertices.size());
                whole.vertices.push_back(half.mesh.vertices[v]);
            }
            index[v] = slot;
        }
        for (const auto& t : half.mesh.triangles)
            whole.triangles.push_back({index[t[0]], index[t[1]], index[t[2]]});
    }
    return whole;
}

}  // namespace

SurfaceMesh decimate(const SurfaceMesh& mesh, std::size_t targetTriangles, std::stop_token stop,
                     unsigned threads) {
    if (mesh.triangles.size() <= targetTriangles) return mesh;
    if (threads < 2 || mesh.triangles.size() < leastToSplit)
        return Decimator(mesh).run(targetTriangles, stop);
    // The greedy order is one thread's: each half goes its own way to its share of the budget,
    // then one pass over the whole finishes the strip along the cut.
    auto parts = halves(mesh);
    parallelFor(
        "decimation", 2, 2,
        [&](std::size_t h, unsigned) {
            Half& half = parts[h];
            const std::size_t share =
                targetTriangles * half.mesh.triangles.size() / mesh.triangles.size();
            std::vector<std::uint32_t> sources;
            half.mesh = Decimator(half.mesh, half.locked).run(share, stop, &sources);
            // The run renumbers the vertices: their records follow.
            std::vector<bool> locked(sources.size());
            std::vector<std::uint32_t> original(sources.size());
            for (std::size_t v = 0; v < sources.size(); ++v) {
                locked[v] = half.locked[sources[v]];
                original[v] = half.original[sources[v]];
            }
            half.locked = std::move(locked);
            half.original = std::move(original);
        },
        stop);
    if (stop.stop_requested()) return mesh;
    return Decimator(joined(parts, mesh.vertices.size())).run(targetTriangles, stop);
}

}  // namespace pelorin::engine::local
