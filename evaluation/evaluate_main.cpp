// pelorin-evaluate: builds a model from a photo folder through the photogrammetry engine with
// the backend in use and prints one line per figure, or scores an existing model against a
// truth folder (mesh.ply, and cameras.json for the object's bounds and the photos' cameras).
//
//   pelorin-evaluate <photo-folder> [--truth <folder>] [--detail preview|reduced|medium|full]
//                    [--hold-out N] [--rigid] [--ordered] [--work <folder>]
//                    [--pictures <folder>] [--json <file>]
//   pelorin-evaluate --model <obj-folder|model.usdz|model.glb|ply> [--truth <folder>] [--rigid]
//                    [--json <file>]
//
// Every model's own surface is described too: the share no photo saw, the largest plane and
// the small pieces.
//
// With --hold-out, N photos spread over the set are kept out of the model, rendered from their
// cameras and compared with them (PSNR and SSIM). With a truth they are left out altogether and
// their true cameras are used, inside the true object's silhouette (and the share of it the model
// covers). Without one, structure from motion places them but the model is not made from them,
// and they are compared inside the model's own silhouette (and the share of the frame it fills).
//
// With --work the run builds in that folder and leaves it there: run again and it resumes from
// its checkpoint (remove the "<step>.done" markers in Checkpoint/local of the steps to run
// again). With --pictures each held-out photo is written there beside the model's rendering from
// its camera, to be looked at.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "engine/reconstruction/local/held_out_views.h"
#include "engine/reconstruction/local/local_backend.h"
#include "engine/reconstruction/local/reconstruction_pipeline.h"
#include "engine/reconstruction/photogrammetry_engine.h"
#include "engine/reconstruction/service_factory.h"
#include "evaluation/hold_out.h"
#include "evaluation/model_file.h"
#include "evaluation/model_score.h"
#include "evaluation/process_memory.h"
#include "evaluation/surface_figures.h"
#include "evaluation/truth_cameras.h"
#include "evaluation/view_quality.h"
#include "link/records/manifest_file.h"
#include "tools/command_line.h"

namespace fs = std::filesystem;
using namespace pelorin;
using nlohmann::json;

namespace {

// The run's photos, output and checkpoint: under the temporary folder and gone afterwards, or
// in a folder of the caller's that stays, so that running again resumes from its checkpoint.
class WorkFolder {
  public:
    explicit WorkFolder(const std::optional<fs::path>& kept) {
        if (kept) {
            path_ = *kept;  // made, or refused, before the run
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "pelorin-evaluate.XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw fs::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
        path_ = pattern;
        temporary_ = true;
    }
    ~WorkFolder() {
        std::error_code ignored;
        if (temporary_) fs::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
    bool temporary_ = false;
};

constexpr const char* usageText =
    "usage: pelorin-evaluate <photo-folder> [--truth <folder>] [--detail "
    "preview|reduced|medium|full] [--hold-out N] [--rigid] [--ordered] [--work <folder>]\n"
    "                        [--pictures <folder>] [--json <file>]\n"
    "       pelorin-evaluate --model <obj-folder|model.usdz|model.glb|ply> [--truth <folder>] "
    "[--rigid] [--json <file>]\n";

int usage(const std::string& problem) {
    const int status = tools::usageError(usageText);
    std::fprintf(stderr, "pelorin-evaluate: %s\n", problem.c_str());
    return status;
}

int failure(const std::string& reason) {
    std::fprintf(stderr, "pelorin-evaluate: %s\n", reason.c_str());
    return 1;
}

struct Options {
    std::optional<fs::path> photos, model, truth, jsonFile;
    // Where the run builds, kept afterwards; a temporary folder when not given.
    std::optional<fs::path> work;
    // Where each held-out photo is written beside the model's rendering from its camera.
    std::optional<fs::path> pictures;
    link::ProcessingDetail detail = link::ProcessingDetail::medium;
    std::size_t holdOut = 0;
    evaluation::Fit fit = evaluation::Fit::similarity;
    // Photos without a capture.json were taken in order around the object.
    bool ordered = false;
};

// The options, or the reason they make no sense.
pelorin::Expected<Options, std::string> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> pelorin::Expected<std::string, std::string> {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--"))
                return pelorin::unexpected(argument + " needs a value");
            return std::string(argv[++i]);
        };
        if (argument == "--truth" || argument == "--model" || argument == "--json" ||
            argument == "--work" || argument == "--pictures") {
            auto v = value();
            if (!v) return pelorin::unexpected(v.error());
            (argument == "--truth"      ? options.truth
             : argument == "--model"    ? options.model
             : argument == "--work"     ? options.work
             : argument == "--pictures" ? options.pictures
                                        : options.jsonFile) = fs::path(*v);
        } else if (argument == "--detail") {
            auto v = value();
            if (!v) return pelorin::unexpected(v.error());
            auto parsed = link::processingDetailFromJson(*v);
            if (!parsed) return pelorin::unexpected("unknown detail \"" + *v + "\"");
            options.detail = *parsed;
        } else if (argument == "--hold-out") {
            auto v = value();
            if (!v) return pelorin::unexpected(v.error());
            std::size_t count = 0;
            const auto parsed = std::from_chars(v->data(), v->data() + v->size(), count);
            if (parsed.ec != std::errc() || parsed.ptr != v->data() + v->size() || count == 0)
                return pelorin::unexpected("--hold-out needs a number of photos, not \"" + *v +
                                           "\"");
            options.holdOut = count;
        } else if (argument == "--rigid") {
            options.fit = evaluation::Fit::rigid;
        } else if (argument == "--ordered") {
            options.ordered = true;
        } else if (!argument.starts_with("--") && !options.photos) {
            options.photos = argument;
        } else {
            return pelorin::unexpected("unexpected argument \"" + argument + "\"");
        }
    }
    if (options.model) {
        if (options.photos) return pelorin::unexpected(std::string("give a model or photos"));
        if (options.holdOut) return pelorin::unexpected(std::string("--hold-out needs photos"));
        if (options.work) return pelorin::unexpected(std::string("--work needs photos"));
    } else if (!options.photos) {
        return pelorin::unexpected(std::string("give a photo folder or --model"));
    }
    return options;
}

// A truth folder: the object's mesh and, when there is a cameras.json, the photos' cameras.
struct Truth {
    evaluation::Mesh mesh;
    std::optional<evaluation::TruthCameras> cameras;
    // What the object stands on, when the truth folder has it.
    std::optional<evaluation::Mesh> support;
};

pelorin::Expected<Truth, std::string> loadTruth(const fs::path& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return pelorin::unexpected(folder.string() + ": not a truth folder");
    auto mesh = evaluation::loadMesh(folder / "mesh.ply");
    if (!mesh) return pelorin::unexpected(mesh.error());
    Truth truth{std::move(mesh).value(), std::nullopt, std::nullopt};
    if (fs::exists(folder / "support.ply", error)) {
        auto support = evaluation::loadMesh(folder / "support.ply");
        if (!support) return pelorin::unexpected(support.error());
        truth.support = std::move(support).value();
    }
    if (fs::exists(folder / "cameras.json", error)) {
        // A damaged file is reported rather than scored without its bounds.
        auto cameras = evaluation::loadTruthCameras(folder / "cameras.json");
        if (!cameras) return pelorin::unexpected(cameras.error());
        truth.cameras = std::move(cameras).value();
    }
    return truth;
}

// The truth view of a photo: the same name, or failing that the same name but for the
// extension (renders may be PNG where the shipped photos are JPEG).
const evaluation::TruthView* viewOf(const evaluation::TruthCameras& cameras,
                                    const fs::path& photo) {
    if (const auto* view = cameras.find(photo.filename().string())) return view;
    for (const auto& view : cameras.views) {
        if (fs::path(view.name).stem() == photo.stem()) return &view;
    }
    return nullptr;
}

// The true cameras of the photos a model was built from (every view of the truth when the
// photos are not known); none when the truth does not give the images' size.
std::vector<evaluation::PinholeCamera> camerasOf(
    const evaluation::TruthCameras& cameras, const std::optional<std::vector<fs::path>>& photos) {
    std::vector<evaluation::PinholeCamera> found;
    if (cameras.width <= 0 || cameras.height <= 0) return found;
    const auto add = [&](const evaluation::TruthView& view) {
        found.emplace_back(view.cameraTransform, view.intrinsics, cameras.width, cameras.height);
    };
    if (!photos) {
        for (const auto& view : cameras.views) add(view);
    } else {
        for (const auto& photo : *photos) {
            if (const auto* view = viewOf(cameras, photo)) add(*view);
        }
    }
    return found;
}

// Scores a model against the truth and adds the figures to the report. `photos` are those the
// model was built from, when known.
evaluation::ModelScore score(const evaluation::Mesh& model, const Truth& truth, evaluation::Fit fit,
                             const std::optional<std::vector<fs::path>>& photos, json& report) {
    evaluation::ScoreOptions options;
    if (truth.cameras) {
        options.bounds = truth.cameras->objectBounds;
        options.photoCameras = camerasOf(*truth.cameras, photos);
    }
    options.fit = fit;
    options.support = truth.support;
    const auto result = evaluation::scoreModel(model, truth.mesh, options);
    report["meanError"] = result.meanError;
    report["meanErrorPercentOfDiagonal"] = 100 * result.meanErrorFraction;
    report["completenessPercent"] = 100 * result.completeness;
    if (result.seenShare) {
        report["seenByPhotosPercent"] = 100 * *result.seenShare;
        report["completenessOfSeenPercent"] = 100 * *result.seenCompleteness;
    }
    report["alignment"] = fit == evaluation::Fit::rigid ? "rigid" : "similarity";
    report["alignmentScale"] = result.similarityScale;
    report["tiltDegrees"] = evaluation::tiltDegrees(result.alignment);
    return result;
}

// The figures of the model's own surface, which need no truth.
pelorin::Expected<std::monostate, std::string> describeSurface(const fs::path& modelPath,
                                                               json& report) {
    auto model = evaluation::loadTexturedModel(modelPath);
    if (!model) return pelorin::unexpected(model.error());
    const auto figures = evaluation::surfaceFigures(*model);
    report["surface"]["unseenPercent"] = 100 * figures.unseen;
    report["surface"]["largestPlanePercent"] = 100 * figures.largestPlane;
    report["surface"]["smallPartsPercent"] = 100 * figures.smallParts;
    return std::monostate{};
}

// The photo beside the model's rendering from its camera, as <folder>/<photo's stem>.jpg.
pelorin::Expected<std::monostate, std::string> writePicture(
    const fs::path& folder, const std::string& name, const cv::Mat& photo,
    const evaluation::Rendering& rendering) {
    cv::Mat pair;
    cv::hconcat(photo, rendering.colour, pair);
    const fs::path file = folder / (fs::path(name).stem().string() + ".jpg");
    std::error_code error;
    fs::create_directories(folder, error);
    if (!cv::imwrite(file.string(), pair))
        return pelorin::unexpected(file.string() + ": cannot be written");
    return std::monostate{};
}

// Renders the model from each held-out photo's true camera and compares.
pelorin::Expected<std::monostate, std::string> judgeHeldOut(
    const std::vector<fs::path>& held, const fs::path& modelPath, const Truth& truth,
    const evaluation::Similarity& toTruth, const std::optional<fs::path>& pictures, json& report) {
    auto model = evaluation::loadTexturedModel(modelPath);
    if (!model) return pelorin::unexpected(model.error());
    double psnrSum = 0, ssimSum = 0, coverageSum = 0;
    json views = json::object();
    for (const auto& path : held) {
        const cv::Mat photo = cv::imread(path.string(), cv::IMREAD_COLOR);
        if (photo.empty()) return pelorin::unexpected(path.string() + ": cannot be decoded");
        const auto* view = viewOf(*truth.cameras, path);
        const int width = truth.cameras->width > 0 ? truth.cameras->width : photo.cols;
        const int height = truth.cameras->height > 0 ? truth.cameras->height : photo.rows;
        const auto camera =
            evaluation::PinholeCamera(view->cameraTransform, view->intrinsics, width, height)
                .resized(photo.cols, photo.rows);
        evaluation::Rendering rendering;
        const auto quality =
            evaluation::judgeView(*model, toTruth, truth.mesh, camera, photo, &rendering);
        if (!quality) return pelorin::unexpected(path.filename().string() + ": " + quality.error());
        if (pictures) {
            if (auto written = writePicture(*pictures, path.filename().string(), photo, rendering);
                !written)
                return written;
        }
        views[path.filename().string()] = {{"psnrDecibels", quality->psnr},
                                           {"ssim", quality->ssim},
                                           {"coveragePercent", 100 * quality->coverage}};
        psnrSum += quality->psnr;
        ssimSum += quality->ssim;
        coverageSum += quality->coverage;
    }
    report["heldOut"]["meanPsnrDecibels"] = psnrSum / held.size();
    report["heldOut"]["meanSsim"] = ssimSum / held.size();
    report["heldOut"]["meanCoveragePercent"] = 100 * coverageSum / held.size();
    report["heldOut"]["views"] = std::move(views);
    return std::monostate{};
}

// Renders the model from the cameras structure from motion gave the held-out photos and compares
// it with their undistorted images.
pelorin::Expected<std::monostate, std::string> judgeHeldOutOwn(
    const fs::path& checkpoint, const fs::path& modelPath, std::size_t heldCount,
    const std::optional<fs::path>& pictures, json& report) {
    auto held = engine::local::readHeldOutViews(checkpoint);
    if (!held) return pelorin::unexpected(held.error());
    if (held->empty()) return pelorin::unexpected(std::string("no held-out photo was placed"));
    auto model = evaluation::loadTexturedModel(modelPath);
    if (!model) return pelorin::unexpected(model.error());
    std::vector<evaluation::ViewQuality> qualities;
    json views = json::object();
    for (const auto& [name, view, image] : *held) {
        const cv::Mat photo = cv::imread(image.string(), cv::IMREAD_COLOR);
        if (photo.empty()) return pelorin::unexpected(image.string() + ": cannot be decoded");
        const auto& c = view.camera;
        const auto camera =
            evaluation::PinholeCamera::fromWorldToCamera(
                view.rotation, view.centre, {c.fx, c.fy, c.cx, c.cy}, c.width, c.height)
                .resized(photo.cols, photo.rows);
        evaluation::Rendering rendering;
        const auto quality = evaluation::judgeOwnView(*model, camera, photo, &rendering);
        if (!quality) return pelorin::unexpected(name + ": " + quality.error());
        if (pictures) {
            if (auto written = writePicture(*pictures, name, photo, rendering); !written)
                return written;
        }
        views[name] = {{"psnrDecibels", quality->psnr},
                       {"ssim", quality->ssim},
                       {"silhouettePercent", 100 * quality->frameShare}};
        qualities.push_back(*quality);
    }
    const auto mean = [&](auto member) {
        double sum = 0;
        for (const auto& q : qualities) sum += q.*member;
        return sum / qualities.size();
    };
    report["heldOut"]["placed"] = qualities.size();
    report["heldOut"]["notPlaced"] = heldCount - qualities.size();
    report["heldOut"]["meanPsnrDecibels"] = mean(&evaluation::ViewQuality::psnr);
    report["heldOut"]["meanSsim"] = mean(&evaluation::ViewQuality::ssim);
    report["heldOut"]["meanSilhouettePercent"] = 100 * mean(&evaluation::ViewQuality::frameShare);
    report["heldOut"]["views"] = std::move(views);
    return std::monostate{};
}

// Builds a model from the photos (less any held out) and adds its figures to the report.
int evaluatePhotos(const Options& options, const std::optional<Truth>& truth, json& report) {
    if (options.work) {
        // A folder that cannot be made is the caller's mistake, said before any work is done.
        std::error_code error;
        fs::create_directories(*options.work, error);
        if (error || !fs::is_directory(*options.work, error))
            return failure(options.work->string() + ": cannot be made a work folder");
    }
    const fs::path& folder = *options.photos;
    const auto photos = engine::PhotogrammetryEngine::photoURLs(folder);
    std::vector<fs::path> held;
    if (options.holdOut) {
        if (truth && !truth->cameras)
            return failure("--hold-out needs cameras.json in the truth folder");
        if (options.holdOut >= photos.size()) {
            return failure("cannot hold out " + std::to_string(options.holdOut) + " of " +
                           std::to_string(photos.size()) + " photos");
        }
        for (const std::size_t k : evaluation::spreadChoice(photos.size(), options.holdOut)) {
            if (truth && !viewOf(*truth->cameras, photos[k]))
                return failure(photos[k].filename().string() + " has no camera in the truth");
            held.push_back(photos[k]);
        }
    }
    // Without a truth the held-out photos' cameras come from structure from motion, which only
    // the local backend is told to place them with.
    const bool placeHeldOut = !held.empty() && !truth;
    std::shared_ptr<engine::PhotogrammetryService> service;
    if (placeHeldOut) {
        engine::local::PipelineOptions pipeline;
        for (const auto& path : held) pipeline.heldOut.insert(path.filename().string());
        service = std::make_shared<engine::local::LocalBackend>(engine::local::ColmapTool{},
                                                                std::move(pipeline));
    } else {
        service = engine::defaultPhotogrammetryService();
    }
    if (!service->isSupported()) return failure("no reconstruction backend can run here");

    WorkFolder work(options.work);
    engine::PhotogrammetryEngine::Inputs inputs;
    inputs.images = folder;
    if (!held.empty() && truth) {
        std::vector<std::string> names;
        for (const auto& path : held) names.push_back(path.filename().string());
        inputs.images = work / "Photos";
        auto copied = evaluation::copyWithout(folder, names, inputs.images);
        if (!copied) return failure(copied.error());
    }
    inputs.manifest = link::readManifest(inputs.images);
    // What a job made from this folder would be built with.
    inputs.options = inputs.manifest ? inputs.manifest->options : link::folderImportOptions();
    if (options.ordered) inputs.options.sequentialOrdering = true;
    inputs.options.detail = options.detail;
    inputs.output = work / "Output";
    inputs.checkpoint = work / "Checkpoint";

    evaluation::PeakMemorySampler memory;
    const auto started = std::chrono::steady_clock::now();
    auto stageStarted = started;
    std::string stage = "Starting";
    std::map<std::string, double> stageSeconds;
    auto result =
        engine::PhotogrammetryEngine::run(service, inputs, [&](const engine::EngineProgress& p) {
            if (!p.stage || *p.stage == stage) return;
            const auto now = std::chrono::steady_clock::now();
            stageSeconds[stage] += std::chrono::duration<double>(now - stageStarted).count();
            stage = *p.stage;
            stageStarted = now;
        });
    const auto ended = std::chrono::steady_clock::now();
    memory.stop();
    stageSeconds[stage] += std::chrono::duration<double>(ended - stageStarted).count();
    report["totalSeconds"] = std::chrono::duration<double>(ended - started).count();
    for (const auto& [name, seconds] : stageSeconds) report["stageSeconds"][name] = seconds;
    report["peakMemoryMegabytes"] = memory.peakBytes() / (1024.0 * 1024.0);
    if (auto matching = engine::local::matchingUsed(inputs.checkpoint))
        report["matching"] = *matching;
    if (!result) return failure(result.error().description());

    const int photoCount =
        static_cast<int>(engine::PhotogrammetryEngine::photoURLs(inputs.images).size());
    report["photos"] = photoCount;
    report["photosRegistered"] = photoCount - result->skippedImages;
    if (!held.empty()) report["photosHeldOut"] = held.size();
    if (!result->objFolder)
        return truth || placeHeldOut ? failure("the run made no OBJ model to score") : 0;
    if (auto described = describeSurface(*result->objFolder, report); !described)
        return failure(described.error());
    if (placeHeldOut) {
        auto judged = judgeHeldOutOwn(inputs.checkpoint, *result->objFolder, held.size(),
                                      options.pictures, report);
        if (!judged) return failure(judged.error());
    }
    if (!truth) return 0;
    const auto model = evaluation::loadMesh(*result->objFolder);
    if (!model) return failure(model.error());
    const auto scored = score(*model, *truth, options.fit,
                              engine::PhotogrammetryEngine::photoURLs(inputs.images), report);
    if (!held.empty()) {
        auto judged = judgeHeldOut(held, *result->objFolder, *truth, scored.alignment,
                                   options.pictures, report);
        if (!judged) return failure(judged.error());
    }
    return 0;
}

// "name: value" per figure, nested names joined by dots.
void printFigures(const json& value, const std::string& name) {
    if (value.is_object()) {
        for (const auto& [inner, figure] : value.items())
            printFigures(figure, name.empty() ? inner : name + "." + inner);
        return;
    }
    std::printf("%s: %s\n", name.c_str(), value.dump().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (auto answered = tools::answerStandardOptions(argc, argv, "pelorin-evaluate", usageText))
        return *answered;
    auto options = parseArguments(argc, argv);
    if (!options) return usage(options.error());
    std::optional<Truth> truth;
    if (options->truth) {
        auto loaded = loadTruth(*options->truth);
        if (!loaded) return failure(loaded.error());
        truth = std::move(loaded).value();
    }
    json report = json::object();
    if (options->model) {
        if (auto described = describeSurface(*options->model, report); !described)
            return failure(described.error());
        if (truth) {
            auto model = evaluation::loadMesh(*options->model);
            if (!model) return failure(model.error());
            score(*model, *truth, options->fit, std::nullopt, report);
        }
    } else if (const int status = evaluatePhotos(*options, truth, report); status != 0) {
        return status;
    }
    printFigures(report, "");
    if (options->jsonFile) {
        std::ofstream out(*options->jsonFile);
        out << report.dump(2) << '\n';
        if (!out) return failure(options->jsonFile->string() + ": cannot be written");
    }
    return 0;
}
