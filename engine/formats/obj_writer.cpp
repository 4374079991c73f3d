#include "engine/formats/obj_writer.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "common/files/atomic_file.h"

namespace pelorin::engine::ObjWriter {

namespace {

using Triple = std::array<float, 3>;

// The line number (1-based) of each distinct value, in the order first met.
class Numbering {
  public:
    std::size_t number(const Triple& value, std::string& lines, const char* format) {
        auto [it, added] = numbers_.try_emplace(value, numbers_.size() + 1);
        if (added) {
            char line[96];
            std::snprintf(line, sizeof line, format, value[0], value[1], value[2]);
            lines += line;
        }
        return it->second;
    }

  private:
    struct Hash {
        std::size_t operator()(const Triple& value) const {
            std::uint32_t bits[3];
            std::memcpy(bits, value.data(), sizeof bits);
            return (std::size_t(bits[0]) * 73856093u) ^ (std::size_t(bits[1]) * 19349663u) ^
                   (std::size_t(bits[2]) * 83492791u);
        }
    };
    std::unordered_map<Triple, std::size_t, Hash> numbers_;
};

}  // namespace

Expected<std::monostate, ModelFailure> write(const TexturedMesh& mesh,
                                             const std::filesystem::path& folder,
                                             const std::string& stem) {
    const std::size_t vertices = mesh.vertexCount();
    if (vertices == 0 || mesh.groups.empty()) return unexpected(ModelFailure(ModelError::empty));
    if (mesh.normals.size() != 3 * vertices || mesh.texcoords.size() != 2 * vertices)
        return unexpected(ModelFailure(ModelError::invalidMesh));
    for (const auto& group : mesh.groups) {
        if (group.indices.size() % 3 != 0) return unexpected(ModelFailure(ModelError::invalidMesh));
        for (auto index : group.indices)
            if (index >= vertices) return unexpected(ModelFailure(ModelError::invalidMesh));
    }

    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return unexpected(ModelFailure(
            common::FileError{common::FileError::Operation::write, folder, error.message()}));
    }

    std::string positions, normals, texcoords;
    std::vector<std::size_t> positionOf(vertices), normalOf(vertices);
    Numbering positionNumbers, normalNumbers;
    char line[96];
    for (std::size_t v = 0; v < vertices; ++v) {
        positionOf[v] = positionNumbers.number(
            {mesh.positions[3 * v], mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]},
            positions, "v %.6f %.6f %.6f\n");
        normalOf[v] = normalNumbers.number(
            {mesh.normals[3 * v], mesh.normals[3 * v + 1], mesh.normals[3 * v + 2]}, normals,
            "vn %.5f %.5f %.5f\n");
        std::snprintf(line, sizeof line, "vt %.6f %.6f\n", mesh.texcoords[2 * v],
                      mesh.texcoords[2 * v + 1]);
        texcoords += line;
    }

    // One image file per distinct texture.
    std::vector<const TextureImage*> images;
    std::string mtl;
    std::string faces;
    faces.reserve(mesh.groups.size() * 64);
    for (std::size_t g = 0; g < mesh.groups.size(); ++g) {
        const auto& group = mesh.groups[g];
        const std::string material = "material" + std::to_string(g);
        mtl += "newmtl " + material + "\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 1\n";
        if (group.texture) {
            std::size_t image = 0;
            while (image < images.size() && !images[image]->sameImage(*group.texture)) ++image;
            if (image == images.size()) images.push_back(&*group.texture);
            const std::string extension = group.texture->mime == "image/jpeg" ? ".jpg" : ".png";
            mtl += "map_Kd " + stem + (image == 0 ? "" : "-" + std::to_string(image)) + extension +
                   "\n";
        }
        faces += "usemtl " + material + "\n";
        for (std::size_t i = 0; i < group.indices.size(); i += 3) {
            faces += 'f';
            for (std::size_t c = 0; c < 3; ++c) {
                const auto v = group.indices[i + c];
                std::snprintf(line, sizeof line, " %zu/%zu/%zu", positionOf[v], std::size_t(v) + 1,
                              normalOf[v]);
                faces += line;
            }
            faces += '\n';
        }
    }

    const auto put = [&](const std::string& name,
                         std::span<const std::uint8_t> bytes) -> std::optional<ModelFailure> {
        if (auto written = common::writeFileAtomically(folder / name, bytes); !written)
            return ModelFailure(written.error());
        return std::nullopt;
    };
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string extension = images[i]->mime == "image/jpeg" ? ".jpg" : ".png";
        if (auto failed =
                put(stem + (i == 0 ? "" : "-" + std::to_string(i)) + extension, images[i]->bytes))
            return unexpected(std::move(*failed));
    }
    if (auto failed = put(stem + ".mtl", bytesOf(mtl))) return unexpected(std::move(*failed));
    const std::string obj = "mtllib " + stem + ".mtl\n" + positions + normals + texcoords + faces;
    if (auto failed = put(stem + ".obj", bytesOf(obj))) return unexpected(std::move(*failed));
    return std::monostate{};
}

}  // namespace pelorin::engine::ObjWriter
