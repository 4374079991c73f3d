// Feeds arbitrary bytes to the USDZ and GLB readers (the preview reads every model through the
// first). Whatever they accept must be a mesh the renderer can index safely: whole vertices,
// normals and coordinates for each, triangles whose indices stay within the vertices, and
// texture bytes that lie inside the file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/formats/glb_reader.h"
#include "engine/formats/usdz_reader.h"

using namespace pelorin::engine;

namespace {

void check(const TexturedMesh& mesh, std::span<const std::uint8_t> file) {
    const std::size_t vertices = mesh.vertexCount();
    if (mesh.positions.size() % 3 != 0 || mesh.normals.size() != vertices * 3 ||
        mesh.texcoords.size() != vertices * 2)
        __builtin_trap();
    for (const auto& group : mesh.groups) {
        if (group.indices.size() % 3 != 0) __builtin_trap();
        for (const std::uint32_t index : group.indices)
            if (index >= vertices) __builtin_trap();
        if (group.texture && !group.texture->bytes.empty()) {
            const auto* begin = group.texture->bytes.data();
            const auto* end = begin + group.texture->bytes.size();
            if (begin < file.data() || end > file.data() + file.size()) {
                // Copied bytes are allowed only when the reader owns them.
                if (!group.texture->owner) __builtin_trap();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (auto usdz = parseUsdz(bytes)) check(*usdz, bytes);
    if (auto glb = parseGlb(bytes)) check(*glb, bytes);
    return 0;
}
