#include "evaluation/model_file.h"

#include <algorithm>

#include "engine/formats/glb_reader.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/usdz_reader.h"

namespace pelorin::evaluation {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

}  // namespace

pelorin::Expected<engine::TexturedMesh, std::string> loadTexturedModel(const fs::path& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".glb") return engine::readGlb(path);
    if (extension == ".usdz") return engine::readUsdz(path);
    if (extension == ".ply") {
        auto mesh = loadMesh(path);
        if (!mesh) return pelorin::unexpected(mesh.error());
        engine::TexturedMesh textured;
        engine::MeshGroup group;
        for (const auto& v : mesh->vertices) {
            for (double c : v) textured.positions.push_back(static_cast<float>(c));
        }
        for (const auto& t : mesh->triangles)
            group.indices.insert(group.indices.end(), t.begin(), t.end());
        textured.normals.assign(textured.positions.size(), 0.0f);
        textured.texcoords.assign(textured.vertexCount() * 2, 0.0f);
        textured.groups.push_back(std::move(group));
        return textured;
    }
    const bool folder = fs::is_directory(path);
    auto file = folder ? engine::ObjReader::findObjFile(path) : std::optional<fs::path>(path);
    if (!file) return pelorin::unexpected("no OBJ file in " + path.string());
    auto parsed = engine::ObjReader::parseOBJ(*file);
    if (!parsed) return pelorin::unexpected(file->string() + ": " + parsed.error().description());
    return std::move(parsed).value();
}

Mesh geometryOf(const engine::TexturedMesh& mesh) {
    Mesh result;
    result.vertices.reserve(mesh.vertexCount());
    for (std::size_t i = 0; i + 2 < mesh.positions.size(); i += 3)
        result.vertices.push_back(
            {mesh.positions[i], mesh.positions[i + 1], mesh.positions[i + 2]});
    for (const auto& group : mesh.groups) {
        for (std::size_t i = 0; i + 2 < group.indices.size(); i += 3)
            result.triangles.push_back(
                {group.indices[i], group.indices[i + 1], group.indices[i + 2]});
    }
    return result;
}

}  // namespace pelorin::evaluation
