#include "engine/formats/usdz_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "common/zip/zip_writer.h"
#include "engine/formats/obj_reader.h"

namespace pelorin::engine::UsdzWriter {

namespace {

// Layer text for large arrays, built without a stream or a temporary per number.
class LayerText {
  public:
    LayerText& operator<<(std::string_view text) {
        text_ += text;
        return *this;
    }

    LayerText& number(float value) {
        if (!std::isfinite(value)) value = 0;  // the layer has no spelling for them
        return append(value);
    }

    LayerText& integer(std::size_t value) { return append(value); }

    // "[(a, b), (c, d)]" for `width` numbers per tuple.
    LayerText& tuples(const std::vector<float>& values, std::size_t width) {
        text_ += '[';
        for (std::size_t i = 0; i + width <= values.size(); i += width) {
            text_ += i == 0 ? "(" : ", (";
            for (std::size_t k = 0; k < width; ++k) {
                if (k > 0) text_ += ", ";
                number(values[i + k]);
            }
            text_ += ')';
        }
        text_ += ']';
        return *this;
    }

    // "[first, first + 1, ..., last - 1]" or the given values.
    template <class Values>
    LayerText& integers(const Values& values) {
        text_ += '[';
        bool first = true;
        for (const auto value : values) {
            if (!first) text_ += ", ";
            first = false;
            integer(value);
        }
        text_ += ']';
        return *this;
    }

    void reserve(std::size_t size) { text_.reserve(size); }
    std::string take() { return std::move(text_); }

  private:
    template <class T>
    LayerText& append(T value) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }

    std::string text_;
};

// The numbers first..last-1 without materialising them.
struct Range {
    std::size_t first, last;
    struct Iterator {
        std::size_t value;
        std::size_t operator*() const { return value; }
        Iterator& operator++() {
            ++value;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return value != other.value; }
    };
    Iterator begin() const { return {first}; }
    Iterator end() const { return {last}; }
};

// A count that repeats one value, for faceVertexCounts.
struct Repeat {
    std::size_t value, count;
    struct Iterator {
        std::size_t value, left;
        std::size_t operator*() const { return value; }
        Iterator& operator++() {
            --left;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return left != other.left; }
    };
    Iterator begin() const { return {value, count}; }
    Iterator end() const { return {value, 0}; }
};

std::optional<UsdzError> validate(const TexturedMesh& mesh) {
    const std::size_t vertices = mesh.vertexCount();
    if (mesh.positions.size() != vertices * 3 ||
        (mesh.hasNormals && mesh.normals.size() != vertices * 3) ||
        (mesh.hasTexcoords && mesh.texcoords.size() != vertices * 2)) {
        return UsdzError::invalidMesh;
    }
    // Face vertex indices are signed 32-bit numbers in the layer.
    if (vertices > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return UsdzError::tooLarge;
    }
    bool anyTriangle = false;
    for (const auto& group : mesh.groups) {
        if (group.indices.size() % 3 != 0) return UsdzError::invalidMesh;
        for (const std::uint32_t index : group.indices) {
            if (index >= vertices) return UsdzError::invalidMesh;
        }
        anyTriangle = anyTriangle || !group.indices.empty();
    }
    return anyTriangle ? std::nullopt : std::optional(UsdzError::empty);
}

using Groups = std::vector<const MeshGroup*>;

struct Image {
    const TextureImage* texture;
    std::string path;  // inside the package
};

// The package path of each group's image ("" without one), sharing files between identical
// images; images receives the distinct ones in first-use order.
std::vector<std::string> imagePaths(const Groups& groups, std::vector<Image>& images) {
    std::vector<std::string> paths;
    for (const MeshGroup* groupPointer : groups) {
        const MeshGroup& group = *groupPointer;
        std::string path;
        if (group.texture) {
            for (const auto& image : images) {
                if (image.texture->sameImage(*group.texture)) {
                    path = image.path;
                    break;
                }
            }
            if (path.empty()) {
                path = "textures/texture_" + std::to_string(images.size()) +
                       (group.texture->mime == "image/png" ? ".png" : ".jpg");
                images.push_back({&*group.texture, path});
            }
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

void writeMaterial(LayerText& out, const std::string& name, const std::string& image) {
    const std::string prim = "</Model/Materials/" + name;
    out << "        def Material \"" << name << "\"\n        {\n"
        << "            token outputs:surface.connect = " << prim << "/Surface.outputs:surface>\n\n"
        << "            def Shader \"Surface\"\n            {\n"
        << "                uniform token info:id = \"UsdPreviewSurface\"\n";
    if (image.empty()) {
        out << "                color3f inputs:diffuseColor = (0.8, 0.8, 0.8)\n";
    } else {
        out << "                color3f inputs:diffuseColor.connect = " << prim
            << "/BaseColor.outputs:rgb>\n";
    }
    out << "                float inputs:metallic = 0\n"
        << "                float inputs:roughness = 1\n"
        << "                token outputs:surface\n            }\n";
    if (!image.empty()) {
        out << "\n            def Shader \"BaseColor\"\n            {\n"
            << "                uniform token info:id = \"UsdUVTexture\"\n"
            << "                asset inputs:file = @" << image << "@\n"
            << "                float2 inputs:st.connect = " << prim
            << "/TexCoords.outputs:result>\n"
            << "                token inputs:wrapS = \"clamp\"\n"
            << "                token inputs:wrapT = \"clamp\"\n"
            << "                float3 outputs:rgb\n            }\n\n"
            << "            def Shader \"TexCoords\"\n            {\n"
            << "                uniform token info:id = \"UsdPrimvarReader_float2\"\n"
            << "                string inputs:varname = \"st\"\n"
            << "                float2 outputs:result\n            }\n";
    }
    out << "        }\n";
}

std::string layer(const TexturedMesh& mesh, const Groups& groups,
                  const std::vector<std::string>& images) {
    std::size_t triangles = 0;
    for (const MeshGroup* group : groups) triangles += group->indices.size() / 3;
    std::vector<float> bounds = {
        std::numeric_limits<float>::max(),  std::numeric_limits<float>::max(),
        std::numeric_limits<float>::max(),  -std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()};
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const float value = std::isfinite(mesh.positions[i]) ? mesh.positions[i] : 0.0f;
        bounds[i % 3] = std::min(bounds[i % 3], value);
        bounds[3 + i % 3] = std::max(bounds[3 + i % 3], value);
    }
    const bool single = groups.size() == 1;
    auto materialName = [](std::size_t group) { return "Material_" + std::to_string(group); };

    LayerText out;
    out.reserve(mesh.positions.size() * 12 + mesh.normals.size() * 12 + mesh.texcoords.size() * 12 +
                triangles * 30 + 4096);
    out << "#usda 1.0\n(\n    defaultPrim = \"Model\"\n    metersPerUnit = 1\n"
        << "    upAxis = \"Y\"\n)\n\n"
        << "def Xform \"Model\" (\n    kind = \"component\"\n)\n{\n"
        << "    def Mesh \"Mesh\" (\n        prepend apiSchemas = [\"MaterialBindingAPI\"]\n    "
           ")\n    {\n"
        << "        float3[] extent = ";
    out.tuples(bounds, 3) << "\n        int[] faceVertexCounts = ";
    out.integers(Repeat{3, triangles}) << "\n        int[] faceVertexIndices = [";
    bool first = true;
    for (const MeshGroup* group : groups) {
        for (const std::uint32_t index : group->indices) {
            out << (first ? "" : ", ");
            out.integer(index);
            first = false;
        }
    }
    out << "]\n";
    if (single)
        out << "        rel material:binding = </Model/Materials/" << materialName(0) << ">\n";
    if (mesh.hasNormals) {
        out << "        normal3f[] normals = ";
        out.tuples(mesh.normals, 3) << " (\n            interpolation = \"vertex\"\n        )\n";
    }
    out << "        point3f[] points = ";
    out.tuples(mesh.positions, 3) << "\n";
    if (mesh.hasTexcoords) {
        out << "        texCoord2f[] primvars:st = ";
        out.tuples(mesh.texcoords, 2) << " (\n            interpolation = \"vertex\"\n        )\n";
    }
    out << "        uniform token subdivisionScheme = \"none\"\n";
    if (!single) {
        out << "        uniform token subsetFamily:materialBind:familyType = \"partition\"\n";
        std::size_t face = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const std::size_t faces = groups[g]->indices.size() / 3;
            out << "\n        def GeomSubset \"" << materialName(g) << "\" (\n"
                << "            prepend apiSchemas = [\"MaterialBindingAPI\"]\n        )\n        "
                   "{\n"
                << "            uniform token elementType = \"face\"\n"
                << "            uniform token familyName = \"materialBind\"\n"
                << "            int[] indices = ";
            out.integers(Range{face, face + faces})
                << "\n            rel material:binding = </Model/Materials/" << materialName(g)
                << ">\n        }\n";
            face += faces;
        }
    }
    out << "    }\n\n    def Scope \"Materials\"\n    {\n";
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g > 0) out << "\n";
        writeMaterial(out, materialName(g), images[g]);
    }
    out << "    }\n}\n";
    return out.take();
}

}  // namespace

Expected<Bytes, UsdzError> buildUSDZ(const TexturedMesh& mesh) {
    if (const auto problem = validate(mesh)) return unexpected(*problem);
    // Groups without triangles would become empty subsets.
    Groups groups;
    for (const auto& group : mesh.groups) {
        if (!group.indices.empty()) groups.push_back(&group);
    }
    std::vector<Image> images;
    const std::vector<std::string> paths = imagePaths(groups, images);
    const std::string text = layer(mesh, groups, paths);

    common::ZipWriter zip;
    bool fits = zip.add(layerName, bytesOf(text));
    for (const auto& image : images) fits = fits && zip.add(image.path, image.texture->bytes);
    if (!fits) return unexpected(UsdzError::tooLarge);
    return zip.finish();
}

Expected<std::monostate, Error> write(const TexturedMesh& mesh,
                                      const std::filesystem::path& destination) {
    const auto package = buildUSDZ(mesh);
    if (!package) return unexpected(Error(package.error()));
    const auto written = common::writeFileAtomically(destination, *package);
    if (!written) return unexpected(Error(written.error()));
    return std::monostate{};
}

Expected<std::monostate, Error> convert(const std::filesystem::path& objFolder,
                                        const std::filesystem::path& destination) {
    const auto mesh = ObjReader::readObjFolder(objFolder);
    if (!mesh) return unexpected(mesh.error());
    return write(*mesh, destination);
}

}  // namespace pelorin::engine::UsdzWriter
