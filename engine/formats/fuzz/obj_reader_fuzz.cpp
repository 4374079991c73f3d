// Feeds arbitrary bytes to the OBJ and MTL text readers, then through both model writers, which
// must accept whatever the reader returns.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/formats/glb_writer.h"
#include "engine/formats/obj_reader.h"
#include "engine/formats/usdz_writer.h"

using namespace pelorin::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TexturedMesh mesh = ObjReader::parseObjText(text);
    // Texture names resolve inside a folder that does not exist, so nothing is read from disk.
    ObjReader::assignTextures(mesh, ObjReader::parseMtlText(text, "/nonexistent-pelorin-fuzz"));
    if (!mesh.groups.empty()) {
        (void)GlbWriter::buildGLB(mesh);
        (void)UsdzWriter::buildUSDZ(mesh);
    }
    return 0;
}
