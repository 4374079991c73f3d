// pelorin-evaluate: builds a model from a photo folder through the photogrammetry engine with
// the backend in use and prints one line per figure, or scores an existing model against a
// truth folder (mesh.ply, and cameras.json for the object's bounds).
//
//   pelorin-evaluate <photo-folder> [--truth <folder>] [--detail preview|reduced|medium|full]
//                    [--json <file>]
//   pelorin-evaluate --model <obj-folder|obj|ply> --truth <folder> [--json <file>]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "bench/evaluation/model_score.h"
#include "engine/photogrammetry_engine.h"
#include "link/record_coding.h"
#include "studio/core/job_file.h"
#include "tests/support/scratch_folder.h"

namespace fs = std::filesystem;
using namespace pelorin;
using nlohmann::json;

namespace {

int usage() {
    std::fprintf(
        stderr,
        "usage: pelorin-evaluate <photo-folder> [--truth <folder>] [--detail "
        "preview|reduced|medium|full] [--json <file>]\n"
        "       pelorin-evaluate --model <obj-folder|obj|ply> --truth <folder> [--json <file>]\n");
    return 2;
}

std::optional<link::ObjectBounds> truthBounds(const fs::path& truth) {
    auto text = studio::readTextFile(truth / "cameras.json");
    if (!text) return std::nullopt;
    try {
        const json cameras = json::parse(*text);
        if (!cameras.contains("objectBounds")) return std::nullopt;
        auto bounds =
            link::makeRecordDecoder().decodeJson<link::ObjectBounds>(cameras["objectBounds"]);
        if (bounds) return bounds.value();
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// Scores a model file against the truth folder's mesh and adds the figures to the report.
bool score(const fs::path& model, const fs::path& truth, json& report) {
    auto modelMesh = evaluation::loadMesh(model);
    auto truthMesh = evaluation::loadMesh(truth / "mesh.ply");
    if (!modelMesh || !truthMesh) {
        std::fprintf(stderr, "pelorin-evaluate: %s\n",
                     (!modelMesh ? modelMesh.error() : truthMesh.error()).c_str());
        return false;
    }
    evaluation::ScoreOptions options;
    options.bounds = truthBounds(truth);
    const auto result = evaluation::scoreModel(*modelMesh, *truthMesh, options);
    report["meanError"] = result.meanError;
    report["meanErrorPercentOfDiagonal"] = 100 * result.meanErrorFraction;
    report["completenessPercent"] = 100 * result.completeness;
    report["alignmentScale"] = result.alignment.scale;
    return true;
}

double peakMemoryMegabytes() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    // The largest single process of the tree; kilobytes on Linux.
    return std::max(self.ru_maxrss, children.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<fs::path> photos, model, truth, jsonFile;
    link::ProcessingDetail detail = link::ProcessingDetail::medium;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (argument == "--truth") {
            auto v = value();
            if (!v) return usage();
            truth = *v;
        } else if (argument == "--model") {
            auto v = value();
            if (!v) return usage();
            model = *v;
        } else if (argument == "--json") {
            auto v = value();
            if (!v) return usage();
            jsonFile = *v;
        } else if (argument == "--detail") {
            auto v = value();
            auto parsed = v ? link::processingDetailFromJson(*v) : std::nullopt;
            if (!parsed) return usage();
            detail = *parsed;
        } else if (!argument.starts_with("--") && !photos) {
            photos = argument;
        } else {
            return usage();
        }
    }
    json report;
    if (model) {
        if (!truth || photos) return usage();
        if (!score(*model, *truth, report)) return 1;
    } else {
        if (!photos) return usage();
        auto service = engine::defaultPhotogrammetryService();
        if (!service->isSupported()) {
            std::fprintf(stderr, "pelorin-evaluate: no reconstruction backend can run here\n");
            return 1;
        }
        testing::ScratchFolder work;
        engine::PhotogrammetryEngine::Inputs inputs;
        inputs.images = *photos;
        inputs.manifest = studio::readManifest(*photos);
        inputs.options.detail = detail;
        inputs.output = work / "Output";
        inputs.checkpoint = work / "Checkpoint";
        const auto started = std::chrono::steady_clock::now();
        auto stageStarted = started;
        std::string stage = "Starting";
        std::map<std::string, double> stageSeconds;
        auto result = engine::PhotogrammetryEngine::run(
            service, inputs, [&](const engine::EngineProgress& p) {
                if (!p.stage || *p.stage == stage) return;
                const auto now = std::chrono::steady_clock::now();
                stageSeconds[stage] += std::chrono::duration<double>(now - stageStarted).count();
                stage = *p.stage;
                stageStarted = now;
            });
        const auto ended = std::chrono::steady_clock::now();
        stageSeconds[stage] += std::chrono::duration<double>(ended - stageStarted).count();
        report["totalSeconds"] = std::chrono::duration<double>(ended - started).count();
        for (const auto& [name, seconds] : stageSeconds) report["stageSeconds"][name] = seconds;
        report["peakMemoryMegabytes"] = peakMemoryMegabytes();
        if (!result) {
            std::fprintf(stderr, "pelorin-evaluate: %s\n", result.error().description().c_str());
            return 1;
        }
        const int photoCount =
            static_cast<int>(engine::PhotogrammetryEngine::photoURLs(*photos).size());
        report["photos"] = photoCount;
        report["photosRegistered"] = photoCount - result->skippedImages;
        if (truth) {
            if (!result->objFolder) {
                std::fprintf(stderr, "pelorin-evaluate: the run made no OBJ model to score\n");
                return 1;
            }
            if (!score(*result->objFolder, *truth, report)) return 1;
        }
    }
    for (const auto& [name, value] : report.items()) {
        if (value.is_object()) {
            for (const auto& [inner, figure] : value.items())
                std::printf("%s.%s: %s\n", name.c_str(), inner.c_str(), figure.dump().c_str());
        } else {
            std::printf("%s: %s\n", name.c_str(), value.dump().c_str());
        }
    }
    if (jsonFile) std::ofstream(*jsonFile) << report.dump(2) << '\n';
    return 0;
}
