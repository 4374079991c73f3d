#include "engine/formats/usdz_reader.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "common/files/file_reader.h"
#include "common/zip/stored_zip.h"

namespace pelorin::engine {

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& reason) {
    throw Failure(reason);
}

// The body between the first "{" at or after `from` and its matching "}".
std::string_view blockAt(std::string_view text, std::size_t from) {
    const std::size_t open = text.find('{', from);
    if (open == std::string_view::npos) fail("a definition has no body");
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '{') ++depth;
        if (text[i] == '}' && --depth == 0) return text.substr(open + 1, i - open - 1);
    }
    fail("unbalanced braces in the layer");
}

// Every `def <kind> "<name>"` block directly or deeper inside text, with its name.
std::vector<std::pair<std::string, std::string_view>> definitions(std::string_view text,
                                                                  std::string_view kind) {
    std::vector<std::pair<std::string, std::string_view>> found;
    const std::string opening = "def " + std::string(kind) + " \"";
    for (std::size_t at = text.find(opening); at != std::string_view::npos;
         at = text.find(opening, at + 1)) {
        const std::size_t nameStart = at + opening.size();
        const std::size_t nameEnd = text.find('"', nameStart);
        if (nameEnd == std::string_view::npos) fail("an unterminated name");
        found.emplace_back(std::string(text.substr(nameStart, nameEnd - nameStart)),
                           blockAt(text, nameEnd));
    }
    return found;
}

// What follows "<declaration> = " in text, when it is declared there.
std::optional<std::string_view> valueOf(std::string_view text, std::string_view declaration) {
    const std::string pattern = std::string(declaration) + " = ";
    const std::size_t at = text.find(pattern);
    if (at == std::string_view::npos) return std::nullopt;
    return text.substr(at + pattern.size());
}

// The numbers of an array value such as "[(1, 2), (3, 4)]", `width` to a tuple. Floats are
// read as floats, so that the writer's shortest spellings give back the very same values.
template <class T>
std::vector<T> numbers(std::string_view value, std::size_t width, const char* what) {
    if (value.empty() || value.front() != '[') fail(std::string(what) + " is not an array");
    std::vector<T> result;
    const char* p = value.data() + 1;
    const char* end = value.data() + value.size();
    while (true) {
        while (p < end && (std::isspace(static_cast<unsigned char>(*p)) || *p == ',' || *p == '(' ||
                           *p == ')')) {
            ++p;
        }
        if (p == end) fail(std::string(what) + " is cut short");
        if (*p == ']') break;
        T number;
        const auto parsed = std::from_chars(p, end, number);
        if (parsed.ec != std::errc()) fail(std::string(what) + " holds something not a number");
        result.push_back(number);
        p = parsed.ptr;
    }
    if (result.size() % width != 0)
        fail(std::string(what) + " does not hold whole tuples of " + std::to_string(width));
    return result;
}

template <class T>
std::vector<T> required(std::string_view body, std::string_view declaration, std::size_t width,
                        const char* what) {
    const auto value = valueOf(body, declaration);
    if (!value) fail(std::string("the mesh has no ") + what);
    return numbers<T>(*value, width, what);
}

// The material a "rel material:binding = </Model/Materials/Name>" names: its last component.
std::optional<std::string> boundMaterial(std::string_view body) {
    const auto value = valueOf(body, "rel material:binding");
    if (!value) return std::nullopt;
    const std::size_t close = value->find('>');
    if (value->empty() || value->front() != '<' || close == std::string_view::npos)
        fail("a malformed material binding");
    const std::string_view path = value->substr(1, close - 1);
    return std::string(path.substr(path.rfind('/') + 1));
}

std::uint32_t vertexIndex(double value, std::size_t vertices) {
    if (!(value >= 0 && value < static_cast<double>(vertices)) || value != std::floor(value))
        fail("a face names a point that does not exist");
    return static_cast<std::uint32_t>(value);
}

struct Layer {
    engine::TexturedMesh mesh;
    // The package path of each group's image; empty for none.
    std::vector<std::string> images;
};

Layer parseLayer(std::string_view text) {
    if (!text.starts_with("#usda ")) fail("the package's first entry is not a text layer");
    const auto meshes = definitions(text, "Mesh");
    if (meshes.size() != 1) fail("the layer holds " + std::to_string(meshes.size()) + " meshes");
    const std::string_view body = meshes[0].second;
    // The mesh's own properties come before its subsets.
    const std::string_view own = body.substr(0, body.find("def GeomSubset"));

    Layer layer;
    engine::TexturedMesh& mesh = layer.mesh;
    const auto points = required<float>(own, "point3f[] points", 3, "points");
    const std::size_t vertices = points.size() / 3;
    if (vertices >= std::numeric_limits<std::uint32_t>::max()) fail("too many points");
    mesh.positions = points;
    if (const auto value = valueOf(own, "normal3f[] normals")) {
        mesh.normals = numbers<float>(*value, 3, "normals");
        if (mesh.normals.size() != points.size()) fail("normals do not match the points");
        mesh.hasNormals = true;
    } else {
        mesh.normals.assign(points.size(), 0.0f);
    }
    if (const auto value = valueOf(own, "texCoord2f[] primvars:st")) {
        mesh.texcoords = numbers<float>(*value, 2, "texture coordinates");
        if (mesh.texcoords.size() != vertices * 2)
            fail("texture coordinates do not match the points");
        mesh.hasTexcoords = true;
    } else {
        mesh.texcoords.assign(vertices * 2, 0.0f);
    }

    // Faces, split into triangles; each face's first triangle, for the subsets.
    const auto counts = required<double>(own, "int[] faceVertexCounts", 1, "face vertex counts");
    const auto indices = required<double>(own, "int[] faceVertexIndices", 1, "face vertex indices");
    std::vector<std::uint32_t> triangles;
    std::vector<std::size_t> faceStart;
    std::size_t corner = 0;
    for (double count : counts) {
        if (!(count >= 3) || count > static_cast<double>(indices.size() - corner))
            fail("face vertex counts do not match the indices");
        const auto n = static_cast<std::size_t>(count);
        faceStart.push_back(triangles.size() / 3);
        const std::uint32_t first = vertexIndex(indices[corner], vertices);
        for (std::size_t k = 1; k + 1 < n; ++k) {
            triangles.insert(triangles.end(), {first, vertexIndex(indices[corner + k], vertices),
                                               vertexIndex(indices[corner + k + 1], vertices)});
        }
        corner += n;
    }
    if (corner != indices.size()) fail("face vertex counts do not match the indices");
    faceStart.push_back(triangles.size() / 3);

    std::map<std::string, std::string> materialImages;
    for (const auto& [name, material] : definitions(text, "Material")) {
        std::string image;
        if (const auto value = valueOf(material, "asset inputs:file")) {
            const std::size_t close = value->find('@', 1);
            if (!value->starts_with("@") || close == std::string_view::npos)
                fail("a malformed texture path");
            image = std::string(value->substr(1, close - 1));
        }
        materialImages[name] = image;
    }
    auto addGroup = [&](std::vector<std::uint32_t> groupIndices, std::optional<std::string> name) {
        engine::MeshGroup group;
        group.indices = std::move(groupIndices);
        group.material = name.value_or("");
        if (name && !materialImages.contains(*name))
            fail("a binding names the missing material " + *name);
        layer.images.push_back(name ? materialImages[*name] : "");
        mesh.groups.push_back(std::move(group));
    };

    const auto subsets = definitions(body, "GeomSubset");
    if (subsets.empty()) {
        addGroup(std::move(triangles), boundMaterial(own));
    } else {
        std::vector<bool> used(counts.size(), false);
        for (const auto& [name, subset] : subsets) {
            std::vector<std::uint32_t> groupIndices;
            for (double face : required<double>(subset, "int[] indices", 1, "subset indices")) {
                if (!(face >= 0 && face < static_cast<double>(counts.size())))
                    fail("subset " + name + " names a face that does not exist");
                const auto f = static_cast<std::size_t>(face);
                // A partition: a face listed twice would only multiply the triangles.
                if (used[f]) fail("a face belongs to more than one subset");
                used[f] = true;
                groupIndices.insert(groupIndices.end(), triangles.begin() + 3 * faceStart[f],
                                    triangles.begin() + 3 * faceStart[f + 1]);
            }
            addGroup(std::move(groupIndices), boundMaterial(subset));
        }
        // Faces that no subset claims keep the mesh's own binding.
        std::vector<std::uint32_t> rest;
        for (std::size_t f = 0; f < counts.size(); ++f) {
            if (!used[f])
                rest.insert(rest.end(), triangles.begin() + 3 * faceStart[f],
                            triangles.begin() + 3 * faceStart[f + 1]);
        }
        if (!rest.empty()) addGroup(std::move(rest), boundMaterial(own));
    }
    return layer;
}

std::string mimeOf(std::string_view path) {
    std::string extension(path.substr(path.rfind('.') + 1));
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png") return "image/png";
    if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
    return "application/octet-stream";
}

engine::TexturedMesh parse(std::span<const std::uint8_t> bytes,
                           const std::shared_ptr<const void>& owner) {
    auto entries = common::readStoredZip(bytes);
    if (!entries) fail(entries.error());
    if (entries->empty()) fail("an empty package");
    const common::StoredEntry& first = entries->front();
    if (!first.name.ends_with(".usda"))
        fail("the package's first entry, " + first.name + ", is not a text layer");
    Layer layer = parseLayer({reinterpret_cast<const char*>(first.data.data()), first.data.size()});
    std::map<std::string, engine::TextureImage> images;
    for (std::size_t g = 0; g < layer.mesh.groups.size(); ++g) {
        const std::string& path = layer.images[g];
        if (path.empty()) continue;
        if (!images.contains(path)) {
            const common::StoredEntry* found = nullptr;
            for (const auto& entry : *entries) {
                if (entry.name == path) found = &entry;
            }
            if (!found) fail("the layer names " + path + ", which the package lacks");
            images.emplace(path, owner
                                     ? engine::TextureImage{found->data, owner, mimeOf(path)}
                                     : engine::TextureImage::fromBytes(
                                           {found->data.begin(), found->data.end()}, mimeOf(path)));
        }
        layer.mesh.groups[g].texture = images.at(path);
    }
    bool anyTriangle = false;
    for (const auto& group : layer.mesh.groups) anyTriangle = anyTriangle || !group.indices.empty();
    if (!anyTriangle) fail("no triangles");
    return std::move(layer.mesh);
}

}  // namespace

pelorin::Expected<engine::TexturedMesh, std::string> parseUsdz(std::span<const std::uint8_t> bytes,
                                                               std::shared_ptr<const void> owner) {
    try {
        return parse(bytes, owner);
    } catch (const Failure& failure) {
        return pelorin::unexpected(std::string(failure.what()));
    }
}

pelorin::Expected<engine::TexturedMesh, std::string> readUsdz(const std::filesystem::path& file) {
    auto mapped = common::readFile(file, 1ull << 32);
    if (!mapped) return pelorin::unexpected(file.string() + ": " + mapped.error().description());
    const auto owner = std::make_shared<common::MappedFile>(std::move(mapped.value()));
    auto mesh = parseUsdz(owner->bytes(), owner);
    if (!mesh) return pelorin::unexpected(file.string() + ": " + mesh.error());
    return mesh;
}

}  // namespace pelorin::engine
