#include "evaluation/mesh.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "evaluation/model_file.h"

namespace pelorin::evaluation {

namespace fs = std::filesystem;

double Mesh::diagonal() const {
    if (vertices.empty()) return 0;
    Point low = vertices[0], high = vertices[0];
    for (const auto& v : vertices) {
        for (int i = 0; i < 3; ++i) {
            low[i] = std::min(low[i], v[i]);
            high[i] = std::max(high[i], v[i]);
        }
    }
    double sum = 0;
    for (int i = 0; i < 3; ++i) sum += (high[i] - low[i]) * (high[i] - low[i]);
    return std::sqrt(sum);
}

namespace {

pelorin::Expected<Mesh, std::string> loadPly(const fs::path& path) {
    auto read = engine::local::readPlyMesh(path);
    if (!read) return pelorin::unexpected(read.error());
    Mesh mesh;
    mesh.vertices.assign(read->vertices.begin(), read->vertices.end());
    mesh.triangles.assign(read->triangles.begin(), read->triangles.end());
    return mesh;
}

}  // namespace

pelorin::Expected<Mesh, std::string> loadMesh(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    auto failed = [&](const std::string& reason) {
        return pelorin::unexpected(path.string() + ": " + reason);
    };
    Mesh mesh;
    if (extension == ".ply") {
        auto read = loadPly(path);
        if (!read) return failed(read.error());
        mesh = std::move(read).value();
    } else {
        // Its reasons name the file already.
        auto textured = loadTexturedModel(path);
        if (!textured) return pelorin::unexpected(textured.error());
        mesh = geometryOf(*textured);
    }
    // Far-off or non-finite coordinates would break the distance grid's arithmetic.
    for (const auto& vertex : mesh.vertices) {
        for (double c : vertex) {
            if (!(std::abs(c) < 1e9))
                return failed("a vertex lies at a non-finite or absurd place");
        }
    }
    for (const auto& triangle : mesh.triangles) {
        for (auto index : triangle) {
            if (index >= mesh.vertices.size()) return failed("index out of range");
        }
    }
    if (mesh.triangles.empty()) return failed("the mesh has no triangles");
    return mesh;
}

bool saveAsciiPly(const Mesh& mesh, const fs::path& path) {
    std::ofstream out(path);
    out << "ply\nformat ascii 1.0\nelement vertex " << mesh.vertices.size()
        << "\nproperty double x\nproperty double y\nproperty double z\nelement face "
        << mesh.triangles.size() << "\nproperty list uchar int vertex_indices\nend_header\n";
    out.precision(17);
    for (const auto& v : mesh.vertices) out << v[0] << ' ' << v[1] << ' ' << v[2] << '\n';
    for (const auto& t : mesh.triangles) out << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << '\n';
    return static_cast<bool>(out);
}

}  // namespace pelorin::evaluation
