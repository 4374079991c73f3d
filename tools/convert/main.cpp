// pelorin-convert: turns an OBJ folder (OBJ, MTL and textures) into a GLB file or a USDZ package.
#include <cstdio>
#include <string_view>

#include "engine/formats/glb_writer.h"
#include "engine/formats/usdz_writer.h"
#include "tools/command_line.h"

using namespace pelorin::engine;

namespace {
constexpr const char* usage =
    "usage: pelorin-convert glb|usdz <obj-folder> <output-file>\n"
    "  turns an OBJ folder (OBJ, MTL and textures) into a GLB file or a USDZ package\n";
}  // namespace

int main(int argc, char** argv) {
    if (auto answered = pelorin::tools::answerStandardOptions(argc, argv, "pelorin-convert", usage))
        return *answered;
    const std::string_view format = argc == 4 ? argv[1] : "";
    if (format != "glb" && format != "usdz") return pelorin::tools::usageError(usage);
    std::string failure;
    if (format == "glb") {
        const auto result = GlbWriter::convert(argv[2], argv[3]);
        if (!result) failure = GlbWriter::description(result.error());
    } else {
        const auto result = UsdzWriter::convert(argv[2], argv[3]);
        if (!result) failure = UsdzWriter::description(result.error());
    }
    if (failure.empty()) return 0;
    std::fprintf(stderr, "pelorin-convert: %s\n", failure.c_str());
    return 1;
}
