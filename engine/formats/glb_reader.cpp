#include "engine/formats/glb_reader.h"

#include <array>
#include <cstring>
#include <map>
#include <stdexcept>
#include <tuple>

#include "common/binary/little_endian.h"
#include "common/files/file_reader.h"
#include "link/records/record_coding.h"

namespace pelorin::engine {

namespace {

using link::Json;

constexpr std::uint32_t glbMagic = 0x46546C67;       // "glTF"
constexpr std::uint32_t jsonChunkType = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t binChunkType = 0x004E4942;   // "BIN\0"
constexpr int floatComponent = 5126;
constexpr int unsignedByteComponent = 5121;
constexpr int unsignedShortComponent = 5123;
constexpr int unsignedIntComponent = 5125;
constexpr int trianglesMode = 4;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& reason) {
    throw Failure(reason);
}

// A non-negative integer member, or the fallback when it is absent.
std::uint64_t unsignedMember(const Json& object, const char* key,
                             std::optional<std::uint64_t> fallback = std::nullopt) {
    const auto found = object.find(key);
    if (found == object.end()) {
        if (!fallback) fail(std::string("missing \"") + key + "\"");
        return *fallback;
    }
    if (!found->is_number_unsigned()) fail(std::string("\"") + key + "\" is not a count");
    return found->get<std::uint64_t>();
}

// The element of a top-level array by index, checked.
const Json& element(const Json& document, const char* array, std::uint64_t index) {
    const auto found = document.find(array);
    if (found == document.end() || !found->is_array() || index >= found->size())
        fail(std::string("no ") + array + "[" + std::to_string(index) + "]");
    const Json& value = (*found)[static_cast<std::size_t>(index)];
    if (!value.is_object()) fail(std::string(array) + " holds something other than objects");
    return value;
}

class Document {
  public:
    Document(const Json& json, std::span<const std::uint8_t> bin) : json_(json), bin_(bin) {}

    // The bytes of a buffer view, inside the BIN chunk.
    std::span<const std::uint8_t> view(std::uint64_t index, std::uint64_t* stride = nullptr) const {
        const Json& view = element(json_, "bufferViews", index);
        if (unsignedMember(view, "buffer") != 0) fail("a buffer view names a second buffer");
        const Json& buffer = element(json_, "buffers", 0);
        if (buffer.contains("uri")) fail("the buffer lies outside the file");
        const std::uint64_t offset = unsignedMember(view, "byteOffset", 0);
        const std::uint64_t length = unsignedMember(view, "byteLength");
        if (offset > bin_.size() || length > bin_.size() - offset)
            fail("buffer view " + std::to_string(index) + " runs past the BIN chunk");
        if (stride) *stride = unsignedMember(view, "byteStride", 0);
        return bin_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    // An accessor's values as doubles, `width` per element, checked against its view.
    std::vector<double> accessor(std::uint64_t index, const std::string& type, bool integral,
                                 std::size_t width) const {
        const Json& accessor = element(json_, "accessors", index);
        const std::string what = "accessor " + std::to_string(index);
        if (accessor.contains("sparse")) fail(what + " is sparse");
        if (!accessor.contains("type") || accessor["type"] != type) fail(what + " is not " + type);
        const std::uint64_t component = unsignedMember(accessor, "componentType");
        std::size_t size = 0;
        if (component == floatComponent && !integral) size = 4;
        if (integral && component == unsignedByteComponent) size = 1;
        if (integral && component == unsignedShortComponent) size = 2;
        if (integral && component == unsignedIntComponent) size = 4;
        if (size == 0) fail(what + " has an unexpected component type");
        const std::uint64_t count = unsignedMember(accessor, "count");
        std::uint64_t stride = 0;
        const auto bytes = view(unsignedMember(accessor, "bufferView"), &stride);
        const std::uint64_t offset = unsignedMember(accessor, "byteOffset", 0);
        const std::uint64_t elementSize = size * width;
        if (stride == 0) stride = elementSize;
        if (stride < elementSize || stride > 252) fail(what + " has a bad stride");
        // Every element must start and end inside the view; count is bounded by the view first,
        // so the products below cannot overflow.
        if (count > 0 && (offset > bytes.size() || count > bytes.size() ||
                          (count - 1) * stride + elementSize > bytes.size() - offset)) {
            fail(what + " runs past its buffer view");
        }
        // Accessors may be shared, but a file naming the same data over and over is built to
        // exhaust memory.
        read_ += count * elementSize;
        if (read_ > 8 * bin_.size() + (1u << 20)) fail("the file names its data too many times");
        std::vector<double> values;
        values.reserve(static_cast<std::size_t>(count * width));
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* at = bytes.data() + offset + i * stride;
            for (std::size_t k = 0; k < width; ++k, at += size) {
                if (size == 1) {
                    values.push_back(*at);
                } else if (size == 2) {
                    std::uint16_t v;
                    std::memcpy(&v, at, 2);
                    values.push_back(v);
                } else if (integral) {
                    std::uint32_t v;
                    std::memcpy(&v, at, 4);
                    values.push_back(v);
                } else {
                    float v;
                    std::memcpy(&v, at, 4);
                    values.push_back(v);
                }
            }
        }
        return values;
    }

  private:
    const Json& json_;
    std::span<const std::uint8_t> bin_;
    mutable std::uint64_t read_ = 0;
};

std::optional<std::uint64_t> optionalIndex(const Json& object, const char* key) {
    if (!object.contains(key)) return std::nullopt;
    return unsignedMember(object, key);
}

engine::TexturedMesh parse(std::span<const std::uint8_t> bytes,
                           const std::shared_ptr<const void>& owner) {
    if (bytes.size() < 20) fail("too short for a GLB file");
    if (common::readLittleEndian<std::uint32_t>(bytes, 0) != glbMagic) fail("not a GLB file");
    if (common::readLittleEndian<std::uint32_t>(bytes, 4) != 2)
        fail("GLB version " + std::to_string(common::readLittleEndian<std::uint32_t>(bytes, 4)));
    const std::uint64_t total = common::readLittleEndian<std::uint32_t>(bytes, 8);
    if (total > bytes.size())
        fail("truncated: the header gives " + std::to_string(total) + " bytes, the file has " +
             std::to_string(bytes.size()));
    // The chunks, in order: JSON first, then at most one BIN.
    std::span<const std::uint8_t> jsonChunk, binChunk;
    std::uint64_t at = 12;
    for (int chunk = 0; at + 8 <= total; ++chunk) {
        const std::uint64_t length =
            common::readLittleEndian<std::uint32_t>(bytes, static_cast<std::size_t>(at));
        const std::uint32_t type =
            common::readLittleEndian<std::uint32_t>(bytes, static_cast<std::size_t>(at + 4));
        if (length > total - at - 8) fail("chunk " + std::to_string(chunk) + " runs past the end");
        const auto data =
            bytes.subspan(static_cast<std::size_t>(at + 8), static_cast<std::size_t>(length));
        if (chunk == 0 && type != jsonChunkType) fail("the first chunk is not JSON");
        if (chunk == 0) jsonChunk = data;
        if (chunk == 1 && type == binChunkType) binChunk = data;
        at += 8 + length;
    }
    if (jsonChunk.empty()) fail("no JSON chunk");

    Json json;
    try {
        json = link::coding::parse(
            {reinterpret_cast<const char*>(jsonChunk.data()), jsonChunk.size()});
    } catch (const std::exception& problem) {
        fail(std::string("JSON chunk: ") + problem.what());
    }
    if (!json.is_object()) fail("the JSON chunk is not an object");
    const Document document(json, binChunk);

    engine::TexturedMesh mesh;
    // Primitives that share their vertex attributes (our writer's groups) share vertices.
    std::map<std::tuple<std::uint64_t, std::optional<std::uint64_t>, std::optional<std::uint64_t>>,
             std::pair<std::uint32_t, std::size_t>>
        vertexBases;
    std::map<std::uint64_t, engine::TextureImage> images;
    const auto meshes = json.find("meshes");
    if (meshes == json.end() || !meshes->is_array()) fail("no meshes");
    for (std::size_t m = 0; m < meshes->size(); ++m) {
        const Json& primitives = element(json, "meshes", m).value("primitives", Json::array());
        if (!primitives.is_array()) fail("primitives is not a list");
        for (const Json& primitive : primitives) {
            if (!primitive.is_object()) fail("a primitive is not an object");
            if (unsignedMember(primitive, "mode", trianglesMode) != trianglesMode)
                fail("a primitive is not made of triangles");
            if (!primitive.contains("attributes") || !primitive["attributes"].is_object())
                fail("a primitive has no attributes");
            const Json& attributes = primitive["attributes"];
            const std::uint64_t position = unsignedMember(attributes, "POSITION");
            const auto normal = optionalIndex(attributes, "NORMAL");
            const auto texcoord = optionalIndex(attributes, "TEXCOORD_0");
            const auto key = std::make_tuple(position, normal, texcoord);
            auto base = vertexBases.find(key);
            if (base == vertexBases.end()) {
                const auto positions = document.accessor(position, "VEC3", false, 3);
                const std::size_t count = positions.size() / 3;
                if (mesh.vertexCount() + count >= std::numeric_limits<std::uint32_t>::max())
                    fail("too many vertices");
                base = vertexBases
                           .emplace(key, std::pair(static_cast<std::uint32_t>(mesh.vertexCount()),
                                                   count))
                           .first;
                for (double v : positions) mesh.positions.push_back(static_cast<float>(v));
                if (normal) {
                    const auto normals = document.accessor(*normal, "VEC3", false, 3);
                    if (normals.size() != positions.size()) fail("normals do not match positions");
                    for (double v : normals) mesh.normals.push_back(static_cast<float>(v));
                    mesh.hasNormals = true;
                } else {
                    mesh.normals.insert(mesh.normals.end(), count * 3, 0.0f);
                }
                if (texcoord) {
                    const auto texcoords = document.accessor(*texcoord, "VEC2", false, 2);
                    if (texcoords.size() != count * 2)
                        fail("texture coordinates do not match positions");
                    for (std::size_t i = 0; i < texcoords.size(); i += 2) {
                        mesh.texcoords.push_back(static_cast<float>(texcoords[i]));
                        // glTF puts v = 0 at the top of the image.
                        mesh.texcoords.push_back(static_cast<float>(1 - texcoords[i + 1]));
                    }
                    mesh.hasTexcoords = true;
                } else {
                    mesh.texcoords.insert(mesh.texcoords.end(), count * 2, 0.0f);
                }
            }
            const auto [first, count] = base->second;
            engine::MeshGroup group;
            if (const auto indices = optionalIndex(primitive, "indices")) {
                for (double index : document.accessor(*indices, "SCALAR", true, 1)) {
                    if (index >= count) fail("an index is past the last vertex");
                    group.indices.push_back(first + static_cast<std::uint32_t>(index));
                }
            } else {
                for (std::size_t i = 0; i < count; ++i)
                    group.indices.push_back(first + static_cast<std::uint32_t>(i));
            }
            if (group.indices.size() % 3 != 0) fail("an index count is not a multiple of three");
            if (const auto material = optionalIndex(primitive, "material")) {
                const Json& found = element(json, "materials", *material);
                group.material = found.value("name", "");
                const Json pbr = found.value("pbrMetallicRoughness", Json::object());
                const Json colour = pbr.is_object() ? pbr.value("baseColorTexture", Json::object())
                                                    : Json::object();
                if (const auto texture =
                        colour.is_object() ? optionalIndex(colour, "index") : std::nullopt) {
                    const auto source =
                        optionalIndex(element(json, "textures", *texture), "source");
                    if (source && !images.contains(*source)) {
                        const Json& image = element(json, "images", *source);
                        if (const auto view = optionalIndex(image, "bufferView")) {
                            const auto data = document.view(*view);
                            const std::string mime = image.value("mimeType", "");
                            images.emplace(*source, owner ? engine::TextureImage{data, owner, mime}
                                                          : engine::TextureImage::fromBytes(
                                                                {data.begin(), data.end()}, mime));
                        }
                    }
                    if (source && images.contains(*source)) group.texture = images.at(*source);
                }
            }
            mesh.groups.push_back(std::move(group));
        }
    }
    bool anyTriangle = false;
    for (const auto& group : mesh.groups) anyTriangle = anyTriangle || !group.indices.empty();
    if (!anyTriangle) fail("no triangles");
    return mesh;
}

}  // namespace

pelorin::Expected<engine::TexturedMesh, std::string> parseGlb(std::span<const std::uint8_t> bytes,
                                                              std::shared_ptr<const void> owner) {
    try {
        return parse(bytes, owner);
    } catch (const Failure& failure) {
        return pelorin::unexpected(std::string(failure.what()));
    } catch (const std::exception& failure) {
        // JSON values of an unexpected type.
        return pelorin::unexpected(std::string("malformed JSON chunk: ") + failure.what());
    }
}

pelorin::Expected<engine::TexturedMesh, std::string> readGlb(const std::filesystem::path& file) {
    auto mapped = common::readFile(file, 1ull << 32);
    if (!mapped) return pelorin::unexpected(file.string() + ": " + mapped.error().description());
    const auto owner = std::make_shared<common::MappedFile>(std::move(mapped.value()));
    auto mesh = parseGlb(owner->bytes(), owner);
    if (!mesh) return pelorin::unexpected(file.string() + ": " + mesh.error());
    return mesh;
}

}  // namespace pelorin::engine
