#include "engine/formats/glb_writer.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/binary/little_endian.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine::GlbWriter {

namespace {

using nlohmann::json;

constexpr std::uint32_t arrayBuffer = 34962;
constexpr std::uint32_t elementArrayBuffer = 34963;
constexpr std::uint32_t floatComponent = 5126;
constexpr std::uint32_t unsignedIntComponent = 5125;

std::size_t paddedTo4(std::size_t length) {
    return (length + 3) & ~std::size_t{3};
}

constexpr std::uint8_t zeros[4] = {};

// The BIN chunk as a list of blocks at 4-byte aligned offsets, only referenced, so that large
// arrays and images are not copied before they reach the file.
class BinaryChunk {
  public:
    std::size_t addView(std::span<const std::uint8_t> block, std::optional<std::uint32_t> target) {
        length_ = paddedTo4(length_);
        json view = {{"buffer", 0}, {"byteOffset", length_}, {"byteLength", block.size()}};
        if (target) view["target"] = *target;
        views_.push_back(std::move(view));
        blocks_.push_back({block, length_});
        length_ += block.size();
        return views_.size() - 1;
    }

    std::size_t paddedLength() const { return paddedTo4(length_); }
    json& views() { return views_; }

    // The blocks with the zero padding between and after them.
    void appendPieces(std::vector<std::span<const std::uint8_t>>& pieces) const {
        std::size_t at = 0;
        for (const auto& [block, offset] : blocks_) {
            if (offset > at) pieces.emplace_back(zeros, offset - at);
            pieces.push_back(block);
            at = offset + block.size();
        }
        if (paddedLength() > at) pieces.emplace_back(zeros, paddedLength() - at);
    }

  private:
    struct Block {
        std::span<const std::uint8_t> bytes;
        std::size_t offset;
    };
    std::vector<Block> blocks_;
    json views_ = json::array();
    std::size_t length_ = 0;
};

json floatAccessor(std::size_t view, std::size_t count, const char* type) {
    return {
        {"bufferView", view}, {"componentType", floatComponent}, {"count", count}, {"type", type}};
}

std::vector<float> unitNormals(const std::vector<float>& normals) {
    std::vector<float> unit;
    unit.reserve(normals.size());
    for (std::size_t i = 0; i + 2 < normals.size(); i += 3) {
        const float x = normals[i], y = normals[i + 1], z = normals[i + 2];
        const float length = std::sqrt(x * x + y * y + z * z);
        if (length <= 1e-8f || !std::isfinite(length)) {
            unit.insert(unit.end(), {0.0f, 1.0f, 0.0f});
        } else {
            unit.insert(unit.end(), {x / length, y / length, z / length});
        }
    }
    return unit;
}

// OBJ puts v = 0 at the bottom of the image, glTF at the top.
std::vector<float> flippedTexcoords(const std::vector<float>& texcoords) {
    std::vector<float> flipped(texcoords);
    for (std::size_t i = 1; i < flipped.size(); i += 2) flipped[i] = 1.0f - flipped[i];
    return flipped;
}

// Index of the image with the same bytes, adding it when it is new.
std::size_t imageIndex(std::vector<const TextureImage*>& images, const TextureImage& texture) {
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (images[i]->sameImage(texture)) return i;
    }
    images.push_back(&texture);
    return images.size() - 1;
}

// A GLB file as the ordered pieces that make it up: the header and JSON chunk, then the BIN
// chunk's blocks, which stay in the mesh (or here, for converted attributes). Not movable,
// because the pieces point into it.
class GlbFile {
  public:
    explicit GlbFile(const TexturedMesh& mesh);
    GlbFile(const GlbFile&) = delete;
    GlbFile& operator=(const GlbFile&) = delete;

    std::uint64_t size() const { return size_; }
    const std::vector<std::span<const std::uint8_t>>& pieces() const { return pieces_; }

  private:
    std::vector<float> normals_;
    std::vector<float> texcoords_;
    Bytes head_;
    std::vector<std::span<const std::uint8_t>> pieces_;
    std::uint64_t size_ = 0;
};

GlbFile::GlbFile(const TexturedMesh& mesh) {
    BinaryChunk bin;
    json accessors = json::array();
    json attributes = json::object();
    const std::size_t vertexCount = mesh.vertexCount();

    float low[3], high[3];
    for (int axis = 0; axis < 3; ++axis) {
        low[axis] = std::numeric_limits<float>::max();
        high[axis] = -std::numeric_limits<float>::max();
    }
    for (std::size_t i = 0; i < vertexCount * 3; i += 3) {
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], mesh.positions[i + axis]);
            high[axis] = std::max(high[axis], mesh.positions[i + axis]);
        }
    }
    json position = floatAccessor(bin.addView(common::asBytes(mesh.positions), arrayBuffer),
                                  vertexCount, "VEC3");
    position["min"] = json::array({low[0], low[1], low[2]});
    position["max"] = json::array({high[0], high[1], high[2]});
    accessors.push_back(std::move(position));
    attributes["POSITION"] = 0;

    if (mesh.hasNormals) {
        normals_ = unitNormals(mesh.normals);
        attributes["NORMAL"] = accessors.size();
        accessors.push_back(floatAccessor(bin.addView(common::asBytes(normals_), arrayBuffer),
                                          vertexCount, "VEC3"));
    }
    if (mesh.hasTexcoords) {
        texcoords_ = flippedTexcoords(mesh.texcoords);
        attributes["TEXCOORD_0"] = accessors.size();
        accessors.push_back(floatAccessor(bin.addView(common::asBytes(texcoords_), arrayBuffer),
                                          vertexCount, "VEC2"));
    }

    json materials = json::array(), primitives = json::array(), images = json::array();
    std::vector<const TextureImage*> imageSources;
    for (const auto& group : mesh.groups) {
        const std::size_t indexView =
            bin.addView(common::asBytes(group.indices), elementArrayBuffer);
        accessors.push_back({{"bufferView", indexView},
                             {"componentType", unsignedIntComponent},
                             {"count", group.indices.size()},
                             {"type", "SCALAR"}});
        json pbr = {{"metallicFactor", 0}, {"roughnessFactor", 1}};
        if (group.texture) {
            const std::size_t known = imageSources.size();
            const std::size_t image = imageIndex(imageSources, *group.texture);
            if (image == known) {
                const std::size_t view = bin.addView(group.texture->bytes, std::nullopt);
                images.push_back({{"bufferView", view}, {"mimeType", group.texture->mime}});
            }
            pbr["baseColorTexture"] = {{"index", image}};
        }
        materials.push_back({{"name", group.material.empty() ? "Material" : group.material},
                             {"pbrMetallicRoughness", std::move(pbr)},
                             {"doubleSided", false}});
        primitives.push_back({{"attributes", attributes},
                              {"indices", accessors.size() - 1},
                              {"material", materials.size() - 1},
                              {"mode", 4}});
    }

    json document = {
        {"asset", {{"version", "2.0"}, {"generator", "Pelorin Studio"}}},
        {"scene", 0},
        {"scenes", json::array({{{"nodes", json::array({0})}}})},
        {"nodes", json::array({{{"mesh", 0}, {"name", "Model"}}})},
        {"meshes", json::array({{{"name", "Model"}, {"primitives", std::move(primitives)}}})},
        {"materials", std::move(materials)},
        {"accessors", std::move(accessors)},
        {"bufferViews", std::move(bin.views())},
        {"buffers", json::array({{{"byteLength", bin.paddedLength()}}})},
    };
    if (!images.empty()) {
        json textures = json::array();
        for (std::size_t i = 0; i < images.size(); ++i)
            textures.push_back({{"sampler", 0}, {"source", i}});
        document["samplers"] = json::array(
            {{{"magFilter", 9729}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}});
        document["images"] = std::move(images);
        document["textures"] = std::move(textures);
    }
    // Names come from text checked to be UTF-8, so replacement never actually happens.
    std::string text = document.dump(-1, ' ', false, json::error_handler_t::replace);
    text.resize(paddedTo4(text.size()), ' ');

    size_ = 12 + 8 + text.size() + 8 + bin.paddedLength();
    const auto length32 = [](std::uint64_t value) { return static_cast<std::uint32_t>(value); };
    head_.reserve(28 + text.size());
    common::appendLittleEndian<std::uint32_t>(head_, 0x46546C67);  // "glTF"
    common::appendLittleEndian<std::uint32_t>(head_, 2);
    common::appendLittleEndian(head_, length32(size_));
    common::appendLittleEndian(head_, length32(text.size()));
    common::appendLittleEndian<std::uint32_t>(head_, 0x4E4F534A);  // "JSON"
    common::appendBytes(head_, text.data(), text.size());
    common::appendLittleEndian(head_, length32(bin.paddedLength()));
    common::appendLittleEndian<std::uint32_t>(head_, 0x004E4942);  // "BIN\0"
    pieces_.push_back(head_);
    bin.appendPieces(pieces_);
}

bool fitsGlb(const GlbFile& file) {
    return file.size() <= std::numeric_limits<std::uint32_t>::max();
}

}  // namespace

Expected<Bytes, GlbError> buildGLB(const TexturedMesh& mesh) {
    const GlbFile file(mesh);
    if (!fitsGlb(file)) return unexpected(GlbError::tooLarge);
    Bytes out;
    out.reserve(static_cast<std::size_t>(file.size()));
    for (const auto& piece : file.pieces()) common::appendBytes(out, piece.data(), piece.size());
    return out;
}

Expected<std::monostate, Error> write(const TexturedMesh& mesh,
                                      const std::filesystem::path& destination) {
    // Written piece by piece: the mesh arrays and the images go to the file without a copy.
    const GlbFile file(mesh);
    if (!fitsGlb(file)) return unexpected(Error(GlbError::tooLarge));
    const auto written = common::writeFileAtomically(destination, file.pieces());
    if (!written) return unexpected(Error(written.error()));
    return std::monostate{};
}

Expected<std::monostate, Error> convert(const std::filesystem::path& objFolder,
                                        const std::filesystem::path& destination) {
    const auto mesh = ObjReader::readObjFolder(objFolder);
    if (!mesh) return unexpected(mesh.error());
    return write(*mesh, destination);
}

}  // namespace pelorin::engine::GlbWriter
