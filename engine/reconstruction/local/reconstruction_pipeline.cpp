#include "engine/reconstruction/local/reconstruction_pipeline.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "engine/formats/usdz_writer.h"
#include "engine/reconstruction/local/colmap/child_process.h"
#include "engine/reconstruction/local/colmap/colmap_database.h"
#include "engine/reconstruction/local/colmap/colmap_progress.h"
#include "engine/reconstruction/local/model_alignment.h"
#include "engine/reconstruction/local/object_region.h"
#include "engine/reconstruction/local/stereo/dense_stereo.h"
#include "engine/reconstruction/local/stereo/depth_fusion.h"
#include "engine/reconstruction/local/stereo/view_selection.h"
#include "engine/reconstruction/local/surface/mesh_decimation.h"
#include "engine/reconstruction/local/surface/surface_mesh.h"
#include "engine/reconstruction/local/texture/texture_baking.h"
#include "engine/reconstruction/local/working_images.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// What each detail level asks of the steps.
struct DetailPlan {
    int workingSide;            // long side of the working images
    int denseSide;              // long side of the depth maps
    int planes;                 // depth hypotheses per pixel
    int poissonDepth;           // octree depth of the surface
    std::size_t surfacePoints;  // most points the surface is made from
    std::size_t faces;          // triangle budget
    int atlas;                  // texture atlas edge
};

DetailPlan planFor(RequestDetail detail) {
    switch (detail) {
        case RequestDetail::preview:
            return {1000, 512, 64, 8, 100000, 25000, 2048};
        case RequestDetail::reduced:
            return {1400, 640, 80, 8, 150000, 50000, 2048};
        case RequestDetail::medium:
            return {2000, 800, 96, 9, 250000, 100000, 4096};
        case RequestDetail::full:
            return {3000, 1024, 128, 10, 500000, 250000, 8192};
    }
    return {2000, 800, 96, 9, 250000, 100000, 4096};
}

const char* detailName(RequestDetail detail) {
    switch (detail) {
        case RequestDetail::preview:
            return "preview";
        case RequestDetail::reduced:
            return "reduced";
        case RequestDetail::medium:
            return "medium";
        case RequestDetail::full:
            return "full";
    }
    return "medium";
}

// The steps in order with their share of the whole run.
enum Step {
    prepare,
    features,
    matching,
    mapping,
    undistortion,
    denseStereo,
    fusion,
    surface,
    texture,
    outputs,
    stepCount
};
constexpr double stepWeight[stepCount] = {0.06, 0.10, 0.20, 0.10, 0.03,
                                          0.30, 0.04, 0.08, 0.07, 0.02};
constexpr ProcessingStage stepStage[stepCount] = {
    ProcessingStage::preProcessing,        ProcessingStage::imageAlignment,
    ProcessingStage::imageAlignment,       ProcessingStage::imageAlignment,
    ProcessingStage::pointCloudGeneration, ProcessingStage::pointCloudGeneration,
    ProcessingStage::pointCloudGeneration, ProcessingStage::meshGeneration,
    ProcessingStage::textureMapping,       ProcessingStage::optimization};
constexpr const char* stepName[stepCount] = {"prepare",   "features", "matching", "mapping",
                                             "undistort", "depth",    "fusion",   "surface",
                                             "texture",   "outputs"};

struct StepFailure {
    PhotogrammetryError error;
};

class Run {
  public:
    Run(const SampleSource& samples, const PhotogrammetryConfiguration& configuration,
        const std::vector<PhotogrammetryRequest>& requests,
        const std::function<void(PhotogrammetryEvent)>& emit, std::stop_token stop,
        const ColmapTool& colmap)
        : samples_(samples),
          configuration_(configuration),
          requests_(requests),
          emit_(emit),
          stop_(std::move(stop)),
          colmap_(colmap),
          root_(configuration.checkpointDirectory / "local"),
          started_(std::chrono::steady_clock::now()) {
        RequestDetail detail = RequestDetail::preview;
        for (const auto& request : requests)
            if (request.kind == PhotogrammetryRequest::Kind::modelFile)
                detail = std::max(detail, request.detail);
        if (std::none_of(requests.begin(), requests.end(), [](const auto& r) {
                return r.kind == PhotogrammetryRequest::Kind::modelFile;
            }))
            detail = RequestDetail::medium;
        detail_ = detail;
        plan_ = planFor(detail);
        threads_ = std::max(1u, std::thread::hardware_concurrency());
    }

    void run() {
        try {
            startFresh();
            prepareStep();
            sparseSteps();
            undistortStep();
            alignStep();
            depthStep();
            fusionStep();
            surfaceStep();
            textureStep();
            outputStep();
            emit_(events::ProcessingComplete{});
        } catch (const Cancelled&) {
            emit_(events::ProcessingCancelled{});
        } catch (const StepFailure& failure) {
            for (const auto& request : requests_)
                emit_(events::RequestError{request, failure.error});
            emit_(events::ProcessingComplete{});
        }
    }

  private:
    struct Cancelled {};

    // --- bookkeeping ---------------------------------------------------------------------

    void checkStop() const {
        if (stop_.stop_requested()) throw Cancelled{};
    }

    bool done(Step step) const {
        return fs::exists(root_ / (std::string(stepName[step]) + ".done"));
    }

    void markDone(Step step) {
        const std::string text = "done\n";
        writeOrFail(root_ / (std::string(stepName[step]) + ".done"), text);
        progress(step, 1.0);
    }

    void writeOrFail(const fs::path& file, const std::string& text) {
        auto written = common::writeFileAtomically(
            file, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        if (!written) fail(outputError(written.error().description()));
    }

    [[noreturn]] static void fail(PhotogrammetryError error) {
        throw StepFailure{std::move(error)};
    }

    // A failed write is a full disk when the disk is (nearly) full.
    PhotogrammetryError outputError(const std::string& description) const {
        if (const auto free = freeBytes(); free && *free < (64 << 20))
            return {PhotogrammetryError::Kind::insufficientStorage, neededBytes() - *free,
                    description};
        return {PhotogrammetryError::Kind::invalidOutput, 0, description};
    }

    std::optional<std::int64_t> freeBytes() const {
        struct statvfs stats {};
        if (statvfs(configuration_.checkpointDirectory.c_str(), &stats) != 0) return std::nullopt;
        return static_cast<std::int64_t>(stats.f_bavail) *
               static_cast<std::int64_t>(stats.f_frsize);
    }

    // What the checkpoint folder will hold at its fullest, roughly.
    std::int64_t neededBytes() const {
        const std::int64_t images = std::max<std::int64_t>(photoCount_, 20);
        const std::int64_t pixels = std::int64_t(plan_.workingSide) * plan_.workingSide * 3 / 4;
        const std::int64_t densePixels = std::int64_t(plan_.denseSide) * plan_.denseSide * 3 / 4;
        return images * (pixels / 2 + densePixels * 4 + (3 << 20)) + (200 << 20);
    }

    void progress(Step step, double within) {
        double fraction = 0;
        for (int s = 0; s < step; ++s) fraction += stepWeight[s];
        fraction += stepWeight[step] * std::clamp(within, 0.0, 1.0);
        const auto now = std::chrono::steady_clock::now();
        const bool newStage = step != lastStep_;
        if (!newStage && now - lastReport_ < std::chrono::milliseconds(250) && within < 1) return;
        lastReport_ = now;
        lastStep_ = step;
        fraction = std::max(fraction, lastFraction_);  // never backwards
        lastFraction_ = fraction;
        std::optional<double> remaining;
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        if (fraction > 0.03 && fraction < 1) remaining = elapsed * (1 - fraction) / fraction;
        for (const auto& request : requests_) {
            emit_(events::RequestProgress{request, fraction});
            emit_(events::RequestProgressInfo{request, {stepStage[step], remaining}});
        }
    }

    // Starts over when the checkpoint was made with other settings.
    void startFresh() {
        const json settings = {
            {"detail", detailName(detail_)},
            {"ordering", configuration_.sampleOrdering == SampleOrdering::sequential},
            {"sensitivity", configuration_.featureSensitivity == FeatureSensitivity::high},
            {"masking", configuration_.isObjectMaskingEnabled},
            {"version", 1}};
        const fs::path file = root_ / "settings.json";
        if (auto bytes = common::readFile(file, 1 << 20)) {
            if (json::parse(bytes->text(), nullptr, false) == settings) return;
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        std::error_code error;
        fs::create_directories(root_, error);
        if (error) fail(outputError(error.message()));
        writeOrFail(file, settings.dump());
    }

    // Runs one COLMAP command, turning its log into the step's progress. A failure ends the
    // run unless the caller says it may fail, in which case it comes back as false.
    bool colmap(Step step, std::vector<std::string> arguments, int imageCount,
                bool mayFail = false) {
        checkStop();
        arguments.insert(arguments.begin(), colmap_.program);
        ChildOptions options;
        options.workingDirectory = root_;
        options.environment = {{"QT_QPA_PLATFORM", "offscreen"}};
        auto result = runChild(
            arguments, options,
            [&](std::string_view line) {
                if (auto fraction = colmapLineFraction(line, imageCount)) progress(step, *fraction);
            },
            stop_);
        checkStop();
        if (!result) fail(PhotogrammetryError::other(result.error()));
        if (!result->succeeded()) {
            if (mayFail) return false;
            std::string tail;
            for (const auto& line : result->lastLines) tail += "\n" + line;
            const std::string description = "colmap " + arguments[1] + " failed:" + tail;
            if (tail.find("No space left") != std::string::npos) fail(outputError(description));
            fail(PhotogrammetryError::other(description));
        }
        return true;
    }

    // --- steps ---------------------------------------------------------------------------

    void prepareStep() {
        progress(prepare, 0);
        if (done(prepare)) {
            if (auto loaded = loadPrepared(root_ / "prepared.json")) {
                prepared_ = std::move(*loaded);
                photoCount_ = static_cast<std::int64_t>(prepared_.images.size());
                emit_(events::InputComplete{});
                return;
            }
        }
        PrepareOptions options;
        options.longSide = plan_.workingSide;
        options.useMasks = configuration_.isObjectMaskingEnabled;
        PrepareEvents events;
        events.invalid = [&](std::int64_t id, const std::string& reason) {
            emit_(events::InvalidSample{id, reason});
        };
        events.progress = [&](std::size_t count) {
            photoCount_ = static_cast<std::int64_t>(count);
            progress(prepare, 1 - 1.0 / (1 + count / 20.0));
        };
        auto made = prepareImages(samples_, root_, options, events, stop_);
        checkStop();
        if (!made)
            fail(made.error().kind == PhotogrammetryError::Kind::invalidOutput
                     ? outputError(made.error().description)
                     : made.error());
        prepared_ = std::move(made.value());
        photoCount_ = static_cast<std::int64_t>(prepared_.images.size());
        emit_(events::InputComplete{});
        if (prepared_.images.size() < 3)
            fail({PhotogrammetryError::Kind::invalidImages, 0, "fewer than three readable photos"});
        if (const auto free = freeBytes(); free && *free < neededBytes())
            fail({PhotogrammetryError::Kind::insufficientStorage, neededBytes() - *free,
                  "the disk cannot hold the reconstruction"});
        auto saved = savePrepared(prepared_, root_ / "prepared.json");
        if (!saved) fail(outputError(saved.error()));
        markDone(prepare);
    }

    void sparseSteps() {
        const int count = static_cast<int>(prepared_.images.size());
        if (!done(features)) {
            std::error_code ignored;
            fs::remove(root_ / "database.db", ignored);
            bool oneSize = true, anyMask = false;
            for (const auto& image : prepared_.images) {
                oneSize = oneSize && image.width == prepared_.images[0].width &&
                          image.height == prepared_.images[0].height;
                anyMask = anyMask || image.masked;
            }
            std::vector<std::string> arguments = {
                "feature_extractor", "--database_path", "database.db", "--image_path", "images",
                "--ImageReader.camera_model", "SIMPLE_RADIAL", "--ImageReader.single_camera",
                oneSize ? "1" : "0", "--SiftExtraction.use_gpu", "0",
                // No up-sampled octave: several times faster, and plenty of features remain.
                "--SiftExtraction.first_octave", "0", "--SiftExtraction.max_num_features",
                configuration_.featureSensitivity == FeatureSensitivity::high ? "8000" : "4000",
                "--SiftExtraction.num_threads", std::to_string(threads_)};
            if (anyMask) arguments.insert(arguments.end(), {"--ImageReader.mask_path", "masks"});
            const auto& first = prepared_.images[0];
            if (oneSize && first.focalPixels) {
                char parameters[128];
                std::snprintf(parameters, sizeof parameters, "%.3f,%.3f,%.3f,0", *first.focalPixels,
                              first.width / 2.0, first.height / 2.0);
                arguments.insert(arguments.end(), {"--ImageReader.camera_params", parameters});
            }
            colmap(features, arguments, count);
            markDone(features);
        }
        if (!done(matching)) {
            const std::vector<std::string> common = {"--database_path",
                                                     "database.db",
                                                     "--SiftMatching.use_gpu",
                                                     "0",
                                                     "--SiftMatching.num_threads",
                                                     std::to_string(threads_)};
            auto with = [&](std::vector<std::string> arguments) {
                arguments.insert(arguments.begin() + 1, common.begin(), common.end());
                return arguments;
            };
            if (placePhotosFromPhone()) {
                // The phone's positions pair each photo with its nearest ones, also across the
                // rings of a capture, which an order alone cannot.
                colmap(
                    matching,
                    with({"spatial_matcher", "--SpatialMatching.is_gps", "0",
                          "--SpatialMatching.ignore_z", "0", "--SpatialMatching.max_num_neighbors",
                          "10", "--SpatialMatching.max_distance", "1000"}),
                    count);
            } else if (configuration_.sampleOrdering == SampleOrdering::sequential) {
                colmap(matching,
                       with({"sequential_matcher", "--SequentialMatching.overlap", "10",
                             "--SequentialMatching.loop_detection", "0"}),
                       count);
            } else {
                colmap(matching, with({"exhaustive_matcher"}), count);
            }
            markDone(matching);
        }
        if (!done(mapping)) {
            std::error_code ignored;
            fs::remove_all(root_ / "sparse", ignored);
            fs::remove_all(root_ / "sparse_text", ignored);
            fs::create_directories(root_ / "sparse", ignored);
            // The mapper fails outright when no two photos match; that is the photos' fault.
            colmap(mapping,
                   {"mapper", "--database_path", "database.db", "--image_path", "images",
                    "--output_path", "sparse", "--Mapper.num_threads", std::to_string(threads_)},
                   count, true);
            chooseModel(count);
            markDone(mapping);
        }
        reportRegistration();
    }

    // Hands the phone's camera positions to the feature database when every photo has one.
    bool placePhotosFromPhone() {
        if (!prepared_.manifest) return false;
        std::map<std::string, Vec3> bySource;
        for (const auto& record : prepared_.manifest->images) {
            if (record.cameraTransform && record.cameraTransform->size() == 16) {
                const auto& m = *record.cameraTransform;
                bySource.emplace(record.fileName, Vec3{m[12], m[13], m[14]});
            }
        }
        std::map<std::string, Vec3> positions;
        for (const auto& image : prepared_.images) {
            const auto found = bySource.find(image.source);
            if (found == bySource.end()) return false;
            positions.emplace(image.name, found->second);
        }
        auto set = setPositionPriors(root_ / "database.db", positions);
        return set && *set == static_cast<int>(positions.size());
    }

    // Converts every model the mapper made to text and keeps the largest.
    void chooseModel(int photos) {
        std::vector<std::pair<std::size_t, std::string>> models;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root_ / "sparse", error)) {
            if (!entry.is_directory()) continue;
            const std::string name = entry.path().filename().string();
            const fs::path text = root_ / "sparse_text" / name;
            fs::create_directories(text, error);
            colmap(mapping,
                   {"model_converter", "--input_path", "sparse/" + name, "--output_path",
                    "sparse_text/" + name, "--output_type", "TXT"},
                   0);
            std::ifstream images(text / "images.txt");
            std::size_t lines = 0;
            for (std::string line; std::getline(images, line);)
                if (!line.empty() && line[0] != '#') ++lines;
            models.emplace_back((lines + 1) / 2, name);
        }
        std::sort(models.rbegin(), models.rend());
        // A handful of photos joined by chance is no model of the object either.
        const std::size_t least = std::max(3, photos / 5);
        if (models.empty() || models[0].first < least)
            fail({PhotogrammetryError::Kind::invalidImages, 0,
                  "the photos could not be aligned: too little overlap or texture"});
        writeOrFail(root_ / "model.txt",
                    models[0].second + "\n" +
                        (models.size() > 1 && models[1].first >= 3 ? "split" : "whole") + "\n");
    }

    void reportRegistration() {
        std::ifstream chosen(root_ / "model.txt");
        std::string name, split;
        chosen >> name >> split;
        if (name.empty()) fail(PhotogrammetryError::other("the sparse model's record is missing"));
        modelName_ = name;
        if (split == "split") emit_(events::StitchingIncomplete{});
        std::ifstream images(root_ / "sparse_text" / name / "images.txt");
        std::set<std::string> registered;
        std::size_t index = 0;
        for (std::string line; std::getline(images, line);) {
            if (line.empty() || line[0] == '#') continue;
            if (index++ % 2 == 0) {
                std::istringstream in(line);
                std::string field;
                for (int i = 0; i < 9; ++i) in >> field;
                std::getline(in >> std::ws, field);
                registered.insert(field);
            }
        }
        for (const auto& image : prepared_.images)
            if (!registered.count(image.name)) emit_(events::SkippedSample{image.id});
    }

    void undistortStep() {
        if (!done(undistortion)) {
            std::error_code ignored;
            fs::remove_all(root_ / "dense", ignored);
            colmap(undistortion,
                   {"image_undistorter", "--image_path", "images", "--input_path",
                    "sparse/" + modelName_, "--output_path", "dense", "--output_type", "COLMAP"},
                   0);
            fs::create_directories(root_ / "dense" / "sparse_text", ignored);
            colmap(undistortion,
                   {"model_converter", "--input_path", "dense/sparse", "--output_path",
                    "dense/sparse_text", "--output_type", "TXT"},
                   0);
            markDone(undistortion);
        }
        auto model = loadSparseModel(root_ / "dense" / "sparse_text");
        if (!model) fail(PhotogrammetryError::other(model.error()));
        model_ = std::move(model.value());
        for (const auto& image : prepared_.images) byName_[image.name] = &image;
    }

    // Upright, and in metres when the phone measured its own positions.
    void alignStep() {
        const fs::path file = root_ / "alignment.json";
        Similarity similarity;
        bool loaded = false;
        if (auto bytes = common::readFile(file, 1 << 20)) {
            const json saved = json::parse(bytes->text(), nullptr, false);
            if (saved.is_object() && saved.contains("scale")) {
                similarity.scale = saved["scale"].get<double>();
                similarity.rotation = saved["rotation"].get<Mat3>();
                similarity.translation = saved["translation"].get<Vec3>();
                metric_ = saved["metric"].get<bool>();
                loaded = true;
            }
        }
        if (!loaded) {
            similarity = computeAlignment();
            const json saved = {{"scale", similarity.scale},
                                {"rotation", similarity.rotation},
                                {"translation", similarity.translation},
                                {"metric", metric_}};
            writeOrFail(file, saved.dump());
        }
        model_.transform(similarity.scale, similarity.rotation, similarity.translation);
    }

    Similarity computeAlignment() {
        const auto& manifest = prepared_.manifest;
        if (manifest) {
            std::map<std::string, const link::ImageRecord*> records;
            for (const auto& record : manifest->images) records.emplace(record.fileName, &record);
            std::vector<Vec3> from, to;
            for (const auto& view : model_.views) {
                const auto image = byName_.find(view.name);
                if (image == byName_.end()) continue;
                const auto record = records.find(image->second->source);
                if (record == records.end() || !record->second->cameraTransform ||
                    record->second->cameraTransform->size() != 16)
                    continue;
                const auto& m = *record->second->cameraTransform;
                from.push_back(view.centre);
                to.push_back({m[12], m[13], m[14]});
            }
            if (auto fit = fitSimilarity(from, to); fit && from.size() >= 3) {
                // Trust the phone's positions only when they agree with the photos.
                double residual = 0, spread = 0;
                Vec3 mean{};
                for (const auto& p : to) mean = mean + p;
                mean = (1.0 / to.size()) * mean;
                for (std::size_t i = 0; i < from.size(); ++i) {
                    const Vec3 mapped = fit->scale * (fit->rotation * from[i]) + fit->translation;
                    residual += dot(mapped - to[i], mapped - to[i]);
                    spread += dot(to[i] - mean, to[i] - mean);
                }
                if (residual < 0.05 * spread) {
                    metric_ = true;
                    return *fit;
                }
            }
        }
        std::vector<std::optional<Vec3>> gravity;
        for (const auto& view : model_.views) {
            const auto image = byName_.find(view.name);
            if (image != byName_.end() && image->second->gravity)
                gravity.push_back(Vec3{(*image->second->gravity)[0], (*image->second->gravity)[1],
                                       (*image->second->gravity)[2]});
            else
                gravity.push_back(std::nullopt);
        }
        const Mat3 upright =
            uprightFromGravity(model_, gravity).value_or(uprightFromCameras(model_));
        SparseModel turned = model_;
        turned.transform(1, upright, {});
        // A tabletop object's size: half a metre across.
        const Similarity size = normalisedSize(turned, 0.5);
        return {size.scale, upright, size.translation};
    }

    // Where the object is: the phone's bounds when the model is in the phone's frame, else a
    // ball around the point the cameras look at.
    ObjectRegion objectRegion() const {
        const auto& manifest = prepared_.manifest;
        if (metric_ && manifest && manifest->objectBounds &&
            manifest->objectBounds->centre.size() == 3) {
            const auto bounds = *manifest->objectBounds;
            const Vec3 centre = {bounds.centre[0], bounds.centre[1], bounds.centre[2]};
            return {centre, bounds.radius * 1.15, bounds.height * 0.5 * 1.15};
        }
        // Least-squares point nearest to every viewing axis.
        cv::Matx33d a = cv::Matx33d::zeros();
        cv::Vec3d b(0, 0, 0);
        std::vector<double> distances;
        for (const auto& view : model_.views) {
            const Vec3 axis = transposed(view.rotation) * Vec3{0, 0, 1};
            const cv::Vec3d d(axis[0], axis[1], axis[2]),
                c(view.centre[0], view.centre[1], view.centre[2]);
            const cv::Matx33d projector = cv::Matx33d::eye() - d * d.t();
            a += projector;
            b += projector * c;
        }
        const cv::Vec3d solved = a.solve(b, cv::DECOMP_SVD);
        const Vec3 centre = {solved[0], solved[1], solved[2]};
        for (const auto& view : model_.views) distances.push_back(norm(view.centre - centre));
        std::sort(distances.begin(), distances.end());
        const double radius = 0.6 * (distances.empty() ? 1.0 : distances[distances.size() / 2]);
        return {centre, radius, -1};
    }

    double denseScale(const RegisteredView& view) const {
        return std::min(1.0,
                        plan_.denseSide / double(std::max(view.camera.width, view.camera.height)));
    }

    cv::Mat denseColour(const RegisteredView& view) const {
        cv::Mat image =
            cv::imread((root_ / "dense" / "images" / view.name).string(), cv::IMREAD_COLOR);
        if (image.empty()) return image;
        const double scale = denseScale(view);
        cv::Mat small;
        cv::resize(image, small, {}, scale, scale, cv::INTER_AREA);
        return small;
    }

    StereoView stereoView(std::size_t index) const {
        const auto& view = model_.views[index];
        StereoView stereo;
        const cv::Mat colour = denseColour(view);
        if (colour.empty())
            fail(PhotogrammetryError::other("an undistorted photo is missing: " + view.name));
        stereo.view = scaledView(view, double(colour.cols) / view.camera.width);
        cv::Mat grey;
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        grey.convertTo(stereo.grey, CV_32F);
        const auto image = byName_.find(view.name);
        if (configuration_.isObjectMaskingEnabled && image != byName_.end() &&
            image->second->masked) {
            cv::Mat mask =
                cv::imread((root_ / "masks" / (view.name + ".png")).string(), cv::IMREAD_GRAYSCALE);
            if (!mask.empty())
                cv::resize(mask, stereo.mask, colour.size(), 0, 0, cv::INTER_NEAREST);
        }
        return stereo;
    }

    // Stereo on the part of the photo where the object can be, the rest left without depth:
    // the object commonly fills a third of the frame.
    static DepthMap depthInRegion(const StereoView& reference,
                                  const std::vector<StereoView>& others,
                                  const ViewNeighbours& range, const StereoOptions& options,
                                  const ObjectRegion& region) {
        const auto& camera = reference.view.camera;
        double x0 = camera.width, y0 = camera.height, x1 = 0, y1 = 0;
        bool whole = false;
        for (const auto& point : region.outline()) {
            const Vec3 pixel = reference.view.project(point);
            if (pixel[2] <= 0) {
                whole = true;
                break;
            }
            x0 = std::min(x0, pixel[0]), x1 = std::max(x1, pixel[0]);
            y0 = std::min(y0, pixel[1]), y1 = std::max(y1, pixel[1]);
        }
        const int margin = options.window;
        cv::Rect roi(0, 0, camera.width, camera.height);
        if (!whole) {
            roi &= cv::Rect(int(x0) - margin, int(y0) - margin, int(x1 - x0) + 2 * margin,
                            int(y1 - y0) + 2 * margin);
        }
        DepthMap result{reference.view, cv::Mat::zeros(reference.grey.size(), CV_32F)};
        if (roi.width < 2 * margin || roi.height < 2 * margin) return result;
        StereoView part;
        part.view = reference.view;
        part.view.camera.width = roi.width;
        part.view.camera.height = roi.height;
        part.view.camera.cx -= roi.x;
        part.view.camera.cy -= roi.y;
        part.grey = reference.grey(roi).clone();
        if (!reference.mask.empty()) part.mask = reference.mask(roi).clone();
        const auto map = computeDepthMap(part, others, range.nearest, range.farthest, options);
        map.depth.copyTo(result.depth(roi));
        return result;
    }

    fs::path depthFile(const RegisteredView& view) const {
        return root_ / "depth" / (std::to_string(view.id) + ".bin");
    }

    void saveDepth(const DepthMap& map, const fs::path& file) {
        std::string bytes(8 + map.depth.total() * sizeof(float), '\0');
        const std::int32_t size[2] = {map.depth.cols, map.depth.rows};
        std::memcpy(bytes.data(), size, 8);
        std::memcpy(bytes.data() + 8, map.depth.data, map.depth.total() * sizeof(float));
        writeOrFail(file, bytes);
    }

    std::optional<cv::Mat> loadDepth(const fs::path& file) const {
        auto bytes = common::readFile(file, 1ULL << 30);
        if (!bytes || bytes->bytes().size() < 8) return std::nullopt;
        std::int32_t size[2];
        std::memcpy(size, bytes->bytes().data(), 8);
        if (size[0] <= 0 || size[1] <= 0 || size[0] > 20000 || size[1] > 20000 ||
            bytes->bytes().size() != 8 + std::size_t(size[0]) * size[1] * sizeof(float))
            return std::nullopt;
        cv::Mat depth(size[1], size[0], CV_32F);
        std::memcpy(depth.data, bytes->bytes().data() + 8, depth.total() * sizeof(float));
        return depth;
    }

    void depthStep() {
        neighbours_ = selectNeighbours(model_, 3);
        narrowDepthRanges();
        if (done(denseStereo)) return;
        progress(denseStereo, 0);
        std::error_code ignored;
        fs::create_directories(root_ / "depth", ignored);
        const std::size_t count = model_.views.size();
        std::vector<StereoView> views(count);
        for (std::size_t i = 0; i < count; ++i) {
            checkStop();
            views[i] = stereoView(i);
        }
        const auto region = objectRegion();
        std::atomic<std::size_t> next{0}, finished{0};
        std::mutex lock;
        std::optional<StepFailure> failure;
        const int openCvThreads = cv::getNumThreads();
        cv::setNumThreads(1);  // the views run side by side instead
        {
            std::vector<std::jthread> workers;
            for (unsigned t = 0; t < threads_; ++t) {
                workers.emplace_back([&] {
                    for (std::size_t i; (i = next++) < count;) {
                        if (stop_.stop_requested()) return;
                        const fs::path file = depthFile(model_.views[i]);
                        if (!fs::exists(file)) {
                            std::vector<StereoView> others;
                            for (std::size_t n : neighbours_[i].neighbours)
                                others.push_back(views[n]);
                            const auto& range = neighbours_[i];
                            StereoOptions stereo;
                            stereo.planes = plan_.planes;
                            const auto map = depthInRegion(views[i], others, range, stereo, region);
                            std::lock_guard guard(lock);
                            try {
                                saveDepth(map, file);
                            } catch (const StepFailure& f) {
                                failure = f;
                                return;
                            }
                        }
                        std::lock_guard guard(lock);
                        progress(denseStereo, double(++finished) / count);
                    }
                });
            }
        }
        cv::setNumThreads(openCvThreads);
        checkStop();
        if (failure) throw *failure;
        markDone(denseStereo);
    }

    // Depths are searched only where the object can be: fewer hypotheses reach finer steps.
    void narrowDepthRanges() {
        const auto region = objectRegion();
        for (std::size_t i = 0; i < model_.views.size(); ++i) {
            const auto& view = model_.views[i];
            std::vector<double> depths;
            for (auto id : view.pointIds) {
                const auto point = model_.points.find(id);
                if (point == model_.points.end() || !region.contains(point->second.position))
                    continue;
                const double depth = view.toCamera(point->second.position)[2];
                if (depth > 0) depths.push_back(depth);
            }
            if (depths.size() < 20) continue;
            std::sort(depths.begin(), depths.end());
            neighbours_[i].nearest = 0.9 * depths[depths.size() / 100];
            neighbours_[i].farthest = 1.1 * depths[depths.size() - 1 - depths.size() / 100];
        }
    }

    void fusionStep() {
        if (done(fusion)) return;
        progress(fusion, 0);
        std::vector<DepthMap> maps;
        std::vector<cv::Mat> colours;
        for (std::size_t i = 0; i < model_.views.size(); ++i) {
            checkStop();
            const auto& view = model_.views[i];
            const cv::Mat colour = denseColour(view);
            auto depth = loadDepth(depthFile(view));
            if (!depth || colour.empty())
                fail(PhotogrammetryError::other("a depth map is missing"));
            maps.push_back({scaledView(view, double(depth->cols) / view.camera.width), *depth});
            colours.push_back(colour);
            progress(fusion, 0.5 * (i + 1) / model_.views.size());
        }
        FusionOptions options;
        options.keep = [region = objectRegion()](const Vec3& p) { return region.contains(p); };
        options.threads = threads_;
        options.cellInPixels = 1.5;
        auto points = fuseDepthMaps(maps, colours, neighbours_, options);
        if (configuration_.isObjectMaskingEnabled) {
            if (const auto support = supportHeight(points)) {
                std::erase_if(points,
                              [&](const DensePoint& p) { return p.position[1] < *support; });
                writeOrFail(root_ / "support.txt", std::to_string(*support) + "\n");
            }
        }
        if (points.size() < 1000)
            fail({PhotogrammetryError::Kind::invalidImages, 0,
                  "too few dense points to make a surface: the photos show too little texture"});
        auto written = writePlyPoints(points, root_ / "fused.ply");
        if (!written) fail(outputError(written.error()));
        markDone(fusion);
    }

    // The height just above the surface the object stands on (a table, a plinth, the floor):
    // the lowest level at which many points face straight up. Nothing when there is none.
    static std::optional<double> supportHeight(const std::vector<DensePoint>& points) {
        if (points.empty()) return std::nullopt;
        double low = points[0].position[1], high = low;
        for (const auto& p : points) {
            low = std::min(low, p.position[1]);
            high = std::max(high, p.position[1]);
        }
        const double bin = std::max((high - low) / 100, 1e-9);
        std::vector<std::size_t> level(101, 0);
        for (const auto& p : points)
            if (p.normal[1] > 0.9) ++level[std::size_t((p.position[1] - low) / bin)];
        // Only the lower third can hold the support; a plane's own noise spans two levels.
        std::size_t best = 1;
        for (std::size_t i = 1; i < 34; ++i)
            if (level[i] + level[i - 1] > level[best] + level[best - 1]) best = i;
        if ((level[best] + level[best - 1]) * 40 < points.size()) return std::nullopt;
        return low + (best + 1) * bin + 0.5 * bin;
    }

    void surfaceStep() {
        if (done(surface)) return;
        progress(surface, 0);
        // The surface needs far fewer points than the cloud holds; its time grows with them.
        auto cloud = readPlyPoints(root_ / "fused.ply");
        if (!cloud) fail(PhotogrammetryError::other(cloud.error()));
        auto written =
            writePlyPoints(thinPoints(*cloud, plan_.surfacePoints), root_ / "surface_points.ply");
        if (!written) fail(outputError(written.error()));
        colmap(
            surface,
            {"poisson_mesher", "--input_path", "surface_points.ply", "--output_path", "poisson.ply",
             "--PoissonMeshing.depth", std::to_string(plan_.poissonDepth), "--PoissonMeshing.trim",
             "7", "--PoissonMeshing.num_threads", std::to_string(threads_)},
            0);
        progress(surface, 0.6);
        auto mesh = readPlyMesh(root_ / "poisson.ply");
        if (!mesh) fail(PhotogrammetryError::other(mesh.error()));
        const auto region = objectRegion();
        std::optional<double> support;
        if (std::ifstream in(root_ / "support.txt"); in) {
            double height;
            if (in >> height) support = height;
        }
        // The surface closes itself under the object; what lies below its support goes.
        SurfaceMesh cleaned = largestComponent(keepInside(*mesh, [&](const Vec3& p) {
            return region.contains(p) && (!support || p[1] >= *support);
        }));
        if (cleaned.triangles.size() < 100)
            fail(PhotogrammetryError::other("the surface fell apart in clean-up"));
        cleaned = decimate(cleaned, plan_.faces, stop_);
        checkStop();
        written = writePlyMesh(cleaned, root_ / "mesh.ply");
        if (!written) fail(outputError(written.error()));
        markDone(surface);
    }

    void textureStep() {
        if (done(texture)) return;
        progress(texture, 0);
        auto mesh = readPlyMesh(root_ / "mesh.ply");
        if (!mesh) fail(PhotogrammetryError::other(mesh.error()));
        // The photos at full working size; smaller when memory is short.
        std::int64_t pixels = 0;
        for (const auto& view : model_.views)
            pixels += std::int64_t(view.camera.width) * view.camera.height;
        double scale = 1;
        if (const auto available = availableMemory(); available && pixels * 3 > *available / 2) {
            scale = std::sqrt(double(*available / 2) / (pixels * 3));
            emit_(events::AutomaticDownsampling{});
        }
        std::vector<TextureView> views;
        for (const auto& view : model_.views) {
            checkStop();
            cv::Mat image =
                cv::imread((root_ / "dense" / "images" / view.name).string(), cv::IMREAD_COLOR);
            if (image.empty()) continue;
            if (scale < 1) cv::resize(image, image, {}, scale, scale, cv::INTER_AREA);
            views.push_back({scaledView(view, double(image.cols) / view.camera.width), image});
        }
        progress(texture, 0.3);
        BakeOptions options;
        options.atlasSize = plan_.atlas;
        const auto baked = bakeTexture(*mesh, views, options, stop_);
        checkStop();
        std::error_code ignored;
        fs::remove_all(root_ / "textured", ignored);
        fs::create_directories(root_ / "textured", ignored);
        auto written = writeObjFolder(baked, root_ / "textured");
        if (!written) fail(outputError(written.error()));
        markDone(texture);
    }

    static std::optional<std::int64_t> availableMemory() {
        std::ifstream meminfo("/proc/meminfo");
        for (std::string key; meminfo >> key;) {
            std::int64_t kilobytes = 0;
            meminfo >> kilobytes;
            if (key == "MemAvailable:") return kilobytes * 1024;
            meminfo.ignore(1 << 10, '\n');
        }
        return std::nullopt;
    }

    void outputStep() {
        const fs::path textured = root_ / "textured";
        std::optional<std::vector<PointCloudPoint>> cloud;
        for (const auto& request : requests_) {
            checkStop();
            std::optional<PhotogrammetryError> error;
            RequestResult result;
            if (request.kind == PhotogrammetryRequest::Kind::pointCloud) {
                if (!cloud) {
                    auto points = readPlyPoints(root_ / "fused.ply");
                    if (!points) {
                        error = PhotogrammetryError::other(points.error());
                    } else {
                        cloud.emplace();
                        for (const auto& p : *points)
                            cloud->push_back(
                                {{float(p.position[0]), float(p.position[1]), float(p.position[2])},
                                 {p.colour[0], p.colour[1], p.colour[2], 255}});
                    }
                }
                if (cloud) result = PointCloudResult{*cloud};
            } else if (request.url.extension() == ".usdz") {
                auto written = UsdzWriter::convert(textured, request.url);
                if (!written) error = outputError(engine::description(written.error()));
                result = ModelFileResult{request.url};
            } else {
                std::error_code copyError;
                fs::create_directories(request.url, copyError);
                for (const auto& entry : fs::directory_iterator(textured, copyError)) {
                    if (copyError) break;
                    fs::copy_file(entry.path(), request.url / entry.path().filename(),
                                  fs::copy_options::overwrite_existing, copyError);
                    if (copyError) break;
                }
                if (copyError) error = outputError(copyError.message());
                result = ModelFileResult{request.url};
            }
            if (error)
                emit_(events::RequestError{request, *error});
            else
                emit_(events::RequestComplete{request, std::move(result)});
        }
        progress(outputs, 1);
    }

    const SampleSource& samples_;
    const PhotogrammetryConfiguration configuration_;
    const std::vector<PhotogrammetryRequest>& requests_;
    const std::function<void(PhotogrammetryEvent)>& emit_;
    std::stop_token stop_;
    ColmapTool colmap_;
    fs::path root_;
    RequestDetail detail_ = RequestDetail::medium;
    DetailPlan plan_{};
    unsigned threads_ = 2;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastReport_{};
    Step lastStep_ = stepCount;
    double lastFraction_ = 0;
    std::int64_t photoCount_ = 0;

    PreparedImages prepared_;
    std::string modelName_;
    SparseModel model_;
    std::map<std::string, const WorkingImage*> byName_;
    bool metric_ = false;
    std::vector<ViewNeighbours> neighbours_;
};

}  // namespace

void runPipeline(const SampleSource& samples, const PhotogrammetryConfiguration& configuration,
                 const std::vector<PhotogrammetryRequest>& requests,
                 const std::function<void(PhotogrammetryEvent)>& emit, std::stop_token stop,
                 const ColmapTool& colmap) {
    Run(samples, configuration, requests, emit, std::move(stop), colmap).run();
}

}  // namespace pelorin::engine::local
