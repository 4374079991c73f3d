// pelorin-reconstruct: builds a model from a photo folder with the photogrammetry engine, as a
// job would, printing progress; the Checkpoint folder is kept so that a second run resumes.
//
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "common/formatters.h"
#include "engine/reconstruction/local/reconstruction_pipeline.h"
#include "engine/reconstruction/photogrammetry_engine.h"
#include "engine/reconstruction/service_factory.h"
#include "link/records/manifest_file.h"
#include "tools/command_line.h"

namespace fs = std::filesystem;
using namespace pelorin;

namespace {

constexpr const char* usage =
    "usage: pelorin-reconstruct <photo-folder> <output-folder> "
    "[--detail preview|reduced|medium|full] [--no-motion] [--ordered]\n"
    "  builds a model from a folder of photos as a job does; the Checkpoint folder stays in\n"
    "  the output folder, so running it again resumes. Photos without a capture.json are\n"
    "  built as a dropped folder is; --ordered says they were taken in order around the\n"
    "  object\n";

// Progress on a terminal: one line redrawn in place with a bar, the stage, the percentage and
// the time left. Elsewhere (a log, a pipe) a plain line for each new stage.
class ProgressShow {
  public:
    ProgressShow() : terminal_(isatty(STDOUT_FILENO) == 1) {}
    ~ProgressShow() { finish(); }

    void update(const engine::EngineProgress& progress) {
        if (progress.note) {
            finish();
            std::printf("note: %s\n", progress.note->c_str());
        }
        const std::string stage = progress.stage.value_or(stage_);
        if (!terminal_) {
            if (stage != stage_)
                std::printf("%5.1f%%  %s\n", 100 * progress.fraction, stage.c_str());
        } else {
            constexpr int width = 30;
            const int filled = std::clamp(int(progress.fraction * width + 0.5), 0, width);
            const auto left = common::Formatters::duration(progress.secondsRemaining);
            std::printf("\r[%s%s] %3.0f%%  %-24s %s\033[K", std::string(filled, '#').c_str(),
                        std::string(width - filled, ' ').c_str(), 100 * progress.fraction,
                        stage.c_str(), left ? (*left + " left").c_str() : "");
            drawn_ = true;
        }
        stage_ = stage;
        std::fflush(stdout);
    }

    // Ends the redrawn line, so that what follows starts on a line of its own.
    void finish() {
        if (drawn_) std::printf("\n");
        drawn_ = false;
    }

  private:
    bool terminal_;
    bool drawn_ = false;
    std::string stage_;
};

}  // namespace

int main(int argc, char** argv) {
    if (auto answered = tools::answerStandardOptions(argc, argv, "pelorin-reconstruct", usage))
        return *answered;
    std::optional<fs::path> photos, output;
    std::optional<link::ProcessingDetail> detail;
    bool noMotion = false, ordered = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--detail" && i + 1 < argc) {
            detail = link::processingDetailFromJson(argv[++i]);
            if (!detail) {
                std::fprintf(stderr, "pelorin-reconstruct: unknown detail \"%s\"\n", argv[i]);
                return 2;
            }
        } else if (argument == "--no-motion") {
            noMotion = true;
        } else if (argument == "--ordered") {
            ordered = true;
        } else if (!argument.starts_with("--") && !photos) {
            photos = argument;
        } else if (!argument.starts_with("--") && !output) {
            output = argument;
        } else {
            return tools::usageError(usage);
        }
    }
    if (!photos || !output) return tools::usageError(usage);
    engine::PhotogrammetryEngine::Inputs inputs;
    inputs.images = *photos;
    inputs.manifest = link::readManifest(*photos);
    // The command line's choices win over the manifest's, as they are asked for by name.
    inputs.options = inputs.manifest ? inputs.manifest->options : link::folderImportOptions();
    if (detail) inputs.options.detail = *detail;
    if (noMotion) inputs.options.useMotionData = false;
    if (ordered) inputs.options.sequentialOrdering = true;
    inputs.output = *output / "Output";
    inputs.checkpoint = *output / "Checkpoint";
    ProgressShow show;
    auto result = engine::PhotogrammetryEngine::run(
        engine::defaultPhotogrammetryService(), inputs,
        [&](const engine::EngineProgress& progress) { show.update(progress); });
    show.finish();
    if (auto matching = engine::local::matchingUsed(inputs.checkpoint))
        std::printf("matching: %s\n", matching->c_str());
    if (!result) {
        std::fprintf(stderr, "pelorin-reconstruct: %s\n", result.error().description().c_str());
        return 1;
    }
    std::printf("model: %s\n", result->usdz.c_str());
    if (result->objFolder) std::printf("obj: %s\n", result->objFolder->c_str());
    return 0;
}
