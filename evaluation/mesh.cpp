#include "evaluation/mesh.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "engine/formats/ply.h"
#include "evaluation/model_file.h"

namespace pelorin::evaluation {

namespace fs = std::filesystem;

namespace {

pelorin::Expected<Mesh, std::string> loadPly(const fs::path& path) {
    return engine::readPlyMesh(path);
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

}  // namespace pelorin::evaluation
