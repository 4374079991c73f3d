// pelorin-reconstruct: builds a model from a photo folder with the photogrammetry engine, as a
// job would, printing progress; the Checkpoint folder is kept so that a second run resumes.
//
//   pelorin-reconstruct <photo-folder> <output-folder> [--detail preview|reduced|medium|full]
//                       [--no-motion]
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/reconstruction/photogrammetry_engine.h"
#include "link/records/manifest_file.h"

namespace fs = std::filesystem;
using namespace pelorin;

int main(int argc, char** argv) {
    std::optional<fs::path> photos, output;
    link::ProcessingOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--detail" && i + 1 < argc) {
            auto detail = link::processingDetailFromJson(argv[++i]);
            if (!detail) {
                std::fprintf(stderr, "pelorin-reconstruct: unknown detail \"%s\"\n", argv[i]);
                return 2;
            }
            options.detail = *detail;
        } else if (argument == "--no-motion") {
            options.useMotionData = false;
        } else if (!argument.starts_with("--") && !photos) {
            photos = argument;
        } else if (!argument.starts_with("--") && !output) {
            output = argument;
        } else {
            std::fprintf(stderr,
                         "usage: pelorin-reconstruct <photo-folder> <output-folder> [--detail "
                         "preview|reduced|medium|full] [--no-motion]\n");
            return 2;
        }
    }
    if (!photos || !output) {
        std::fprintf(stderr, "usage: pelorin-reconstruct <photo-folder> <output-folder>\n");
        return 2;
    }
    engine::PhotogrammetryEngine::Inputs inputs;
    inputs.images = *photos;
    if (auto manifest = link::readManifest(*photos)) {
        options = manifest->options;
        inputs.manifest = std::move(manifest);
    }
    inputs.options = options;
    inputs.output = *output / "Output";
    inputs.checkpoint = *output / "Checkpoint";
    std::string lastStage;
    auto result = engine::PhotogrammetryEngine::run(
        engine::defaultPhotogrammetryService(), inputs, [&](const engine::EngineProgress& p) {
            if (p.note) std::printf("note: %s\n", p.note->c_str());
            if (p.stage && *p.stage != lastStage) {
                lastStage = *p.stage;
                std::printf("%5.1f%%  %s\n", 100 * p.fraction, lastStage.c_str());
                std::fflush(stdout);
            }
        });
    if (!result) {
        std::fprintf(stderr, "pelorin-reconstruct: %s\n", result.error().description().c_str());
        return 1;
    }
    std::printf("model: %s\n", (inputs.output / result->usdz).string().c_str());
    if (result->objFolder)
        std::printf("obj: %s\n", (inputs.output / *result->objFolder).string().c_str());
    return 0;
}
