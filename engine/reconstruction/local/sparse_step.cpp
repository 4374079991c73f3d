#include "engine/reconstruction/local/sparse_step.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include <opencv2/imgcodecs.hpp>

#include "common/files/folder_listing.h"
#include "engine/reconstruction/local/colmap/colmap_database.h"
#include "engine/reconstruction/local/colmap/descriptor_matching.h"
#include "engine/reconstruction/local/colmap/feature_extraction.h"
#include "engine/reconstruction/local/colmap/sparse_model.h"
#include "engine/reconstruction/local/parallel_for.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;

namespace {

// A folder removed however the scope it guards ends.
struct RemovedAtEnd {
    fs::path folder;
    ~RemovedAtEnd() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

// Each photo's features, found on both cores: COLMAP's extractor, as many features on the same
// scales, took several times as long.
std::vector<PhotoFeatures> findAllFeatures(const StepContext& context,
                                           const PreparedImages& prepared,
                                           const SparseOptions& options) {
    const auto& images = prepared.images;
    std::vector<PhotoFeatures> found(images.size());
    std::size_t done = 0;
    std::mutex lock;
    const OpenCvThreadsPerWorker serial;
    parallelFor(
        "features", images.size(), options.threads,
        [&](std::size_t i, unsigned) {
            const auto& image = images[i];
            const auto grey = [&](const fs::path& file) {
                return cv::imread(file.string(), cv::IMREAD_GRAYSCALE);
            };
            const cv::Mat photo = grey(context / "images" / image.name);
            const cv::Mat mask =
                image.masked ? grey(context / "masks" / (image.name + ".png")) : cv::Mat();
            if (photo.empty() || (image.masked && mask.size() != photo.size()))
                StepContext::fail(PhotogrammetryError::other(
                    "a working photo is missing or resized: " + image.name));
            found[i] = findFeatures(photo, mask, {.maxFeatures = options.maxFeatures});
            found[i].name = image.name;
            // COLMAP's import after it only decodes each photo for its size: a moment.
            std::lock_guard guard(lock);
            context.progress(Step::features, 0.9 * double(++done) / double(images.size()));
        },
        context.stop());
    context.checkStop();
    return found;
}

void extractFeatures(const StepContext& context, const ColmapTool& colmap,
                     const PreparedImages& prepared, const SparseOptions& options) {
    std::error_code ignored;
    // A journal left by a write that was cut short would be played into the new database.
    for (const char* file : {"database.db", "database.db-journal", "database.db-wal"})
        fs::remove(context / file, ignored);
    // One camera for all when every photo has the same size and lens (a phone's several
    // lenses give photos of one size); else one each.
    bool oneCamera = true;
    const auto& first = prepared.images[0];
    for (const auto& image : prepared.images) {
        oneCamera = oneCamera && image.width == first.width && image.height == first.height &&
                    image.focalPixels.has_value() == first.focalPixels.has_value() &&
                    (!first.focalPixels || std::abs(*image.focalPixels - *first.focalPixels) <=
                                               options.sameLens * *first.focalPixels);
    }
    const auto features = findAllFeatures(context, prepared, options);
    // COLMAP makes the cameras and photos from empty feature files, then takes ours.
    {
        const fs::path empty = context / "features";
        fs::remove_all(empty, ignored);
        fs::create_directories(empty, ignored);
        const RemovedAtEnd removed{empty};
        for (const auto& image : prepared.images)
            context.write("features/" + image.name + ".txt", "0 128\n");
        runColmap(context, colmap, Step::features,
                  {"feature_importer", "--database_path", "database.db", "--image_path", "images",
                   "--import_path", "features", "--ImageReader.camera_model", "SIMPLE_RADIAL",
                   "--ImageReader.single_camera", oneCamera ? "1" : "0"},
                  0);
    }
    auto stored = writeFeatures(context / "database.db", features);
    if (!stored) StepContext::fail(PhotogrammetryError::other(stored.error()));
    // Known focal lengths start the cameras; otherwise COLMAP guesses from the photo's size.
    std::map<std::string, double> focals;
    for (const auto& image : prepared.images)
        if (image.focalPixels) focals.emplace(image.name, *image.focalPixels);
    if (!focals.empty()) {
        auto set = setFocalLengths(context / "database.db", focals);
        if (!set) StepContext::fail(PhotogrammetryError::other(set.error()));
    }
}

// The phone's camera position of every working image, when every photo has one.
std::optional<std::map<std::string, Vec3>> phonePositions(const PreparedImages& prepared) {
    if (!prepared.manifest) return std::nullopt;
    std::map<std::string, Vec3> bySource;
    for (const auto& record : prepared.manifest->images) {
        if (record.cameraTransform) {
            const auto& m = *record.cameraTransform;
            bySource.emplace(record.fileName, Vec3{m[12], m[13], m[14]});
        }
    }
    std::map<std::string, Vec3> positions;
    for (const auto& image : prepared.images) {
        const auto found = bySource.find(image.source);
        if (found == bySource.end()) return std::nullopt;
        positions.emplace(image.name, found->second);
    }
    return positions;
}

// The likely pairs from a cheap pass over every pair's strongest features and, with the
// phone's positions, each photo with its nearest ones: pairs of indices into `photos`.
std::vector<std::pair<int, int>> likelyPairs(const StepContext& context,
                                             const std::vector<PhotoFeatures>& photos,
                                             const SparseOptions& options,
                                             const std::map<std::string, Vec3>* positions) {
    std::vector<PhotoFeatures> strongest;
    for (const auto& photo : photos)
        strongest.push_back(largestFeatures(photo, options.pairs.featuresPerPhoto));
    auto pairOptions = options.pairs;
    pairOptions.threads = options.threads;
    auto pairs = selectPairs(strongest, options.ordered, pairOptions, context.stop());
    context.checkStop();
    if (positions) {
        // The positions link the rings of a capture however its photos look.
        const int count = int(photos.size());
        std::vector<const Vec3*> at(count, nullptr);
        for (int i = 0; i < count; ++i)
            if (auto found = positions->find(photos[i].name); found != positions->end())
                at[i] = &found->second;
        for (int i = 0; i < count; ++i) {
            if (!at[i]) continue;
            std::vector<std::pair<double, int>> nearest;
            for (int j = 0; j < count; ++j)
                if (j != i && at[j]) nearest.emplace_back(norm(*at[j] - *at[i]), j);
            const std::size_t kept =
                std::min<std::size_t>(options.spatialNeighbours, nearest.size());
            std::partial_sort(nearest.begin(), nearest.begin() + kept, nearest.end());
            for (std::size_t k = 0; k < kept; ++k)
                pairs.emplace_back(std::min(i, nearest[k].second), std::max(i, nearest[k].second));
        }
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    }
    return withLonePhotosMatchedInFull(std::move(pairs), int(photos.size()));
}

// Every feature of each pair against every feature of the other, stored for COLMAP to verify.
// Its own matcher built a search tree of each photo again for every pair, three quarters of
// the matching's time.
void matchPairs(const StepContext& context, const std::vector<PhotoFeatures>& photos,
                const std::vector<std::pair<int, int>>& pairs, const SparseOptions& options) {
    // Each photo's features to match, and where each sits in the photo's stored order, which
    // the database's matches refer to.
    std::vector<std::vector<int>> kept(photos.size());
    std::vector<cv::Mat> descriptors(photos.size());
    for (std::size_t i = 0; i < photos.size(); ++i) {
        kept[i] = largestFeatureIndices(photos[i], options.matchedFeatures);
        descriptors[i] = descriptorRows(photos[i], kept[i]);
    }
    std::vector<PairMatches> matched(pairs.size());
    std::size_t done = 0;
    std::mutex lock;
    const OpenCvThreadsPerWorker serial;
    parallelFor(
        "matches", pairs.size(), options.threads,
        [&](std::size_t k, unsigned) {
            const auto [a, b] = pairs[k];
            auto matches = mutualMatches(descriptors[a], descriptors[b], options.matches);
            for (auto& [first, second] : matches) {
                first = kept[a][first];
                second = kept[b][second];
            }
            matched[k] = {photos[a].imageId, photos[b].imageId, std::move(matches)};
            // COLMAP's verification after it takes about a third as long.
            std::lock_guard guard(lock);
            context.progress(Step::matching, 0.7 * double(++done) / double(pairs.size()));
        },
        context.stop());
    context.checkStop();
    auto written = writeMatches(context / "database.db", matched);
    if (!written) StepContext::fail(PhotogrammetryError::other(written.error()));
}

void matchFeatures(const StepContext& context, const ColmapTool& colmap,
                   const PreparedImages& prepared, const SparseOptions& options) {
    auto photos = readFeatures(context / "database.db");
    if (!photos) StepContext::fail(PhotogrammetryError::other(photos.error()));
    context.checkStop();
    const int count = int(prepared.images.size());
    const auto positions = phonePositions(prepared);
    // Matching every pair in full grows with the square of the photos and was most of a
    // folder import's time; a sequential window misses the rings' links.
    const auto pairs = likelyPairs(context, *photos, options, positions ? &*positions : nullptr);
    matchPairs(context, *photos, pairs, options);
    std::string list;
    for (const auto& [i, j] : pairs) list += (*photos)[i].name + " " + (*photos)[j].name + "\n";
    context.write("pairs.txt", list);
    // The matches are in the database already: COLMAP only verifies each pair's geometry.
    runColmap(context, colmap, Step::matching,
              {"matches_importer", "--database_path", "database.db", "--SiftMatching.use_gpu", "0",
               "--SiftMatching.num_threads", std::to_string(options.threads), "--match_list_path",
               "pairs.txt", "--match_type", "pairs"},
              count);
    std::string matching = "likely pairs";
    if (positions)
        matching += " and each photo's " + std::to_string(options.spatialNeighbours) +
                    " nearest by the phone's positions";
    matching += ": " + std::to_string(pairs.size()) + " of " +
                std::to_string(std::size_t(count) * (count - 1) / 2) + ", " +
                (options.ordered ? "in the order taken" : "unordered");
    context.write("matching.txt", matching + "\n");
}

// Converts every model the mapper made to text and records the largest.
void chooseModel(const StepContext& context, const ColmapTool& colmap, int photos,
                 const SparseOptions& options) {
    std::vector<std::pair<std::size_t, std::string>> models;
    std::error_code error;
    auto entries = common::listFolderEntries(context / "sparse");
    if (!entries) StepContext::fail(PhotogrammetryError::other(entries.error()));
    for (const auto& entry : *entries) {
        if (!entry.is_directory(error)) continue;
        const std::string name = entry.path().filename().string();
        fs::create_directories(context / "sparse_text" / name, error);
        runColmap(context, colmap, Step::mapping,
                  {"model_converter", "--input_path", "sparse/" + name, "--output_path",
                   "sparse_text/" + name, "--output_type", "TXT"},
                  0);
        auto registered = readRegisteredNames(context / "sparse_text" / name);
        if (!registered) StepContext::fail(PhotogrammetryError::other(registered.error()));
        models.emplace_back(registered->size(), name);
    }
    std::sort(models.rbegin(), models.rend());
    // A handful of photos joined by chance is no model of the object either.
    const std::size_t least =
        std::max<std::size_t>(3, std::size_t(photos * options.leastRegisteredShare));
    if (models.empty() || models[0].first < least)
        StepContext::fail({PhotogrammetryError::Kind::invalidImages, 0,
                           "the photos could not be aligned: too little overlap or texture"});
    context.write("model.txt", models[0].second + "\n" +
                                   (models.size() > 1 && models[1].first >= 3 ? "split" : "whole") +
                                   "\n");
}

std::string reportRegistration(const StepContext& context, const PreparedImages& prepared) {
    std::ifstream chosen(context / "model.txt");
    std::string name, split;
    chosen >> name >> split;
    if (name.empty())
        StepContext::fail(PhotogrammetryError::other("the sparse model's record is missing"));
    if (split == "split") context.emit(events::StitchingIncomplete{});
    auto names = readRegisteredNames(context / "sparse_text" / name);
    if (!names) StepContext::fail(PhotogrammetryError::other(names.error()));
    const std::set<std::string> registered(names->begin(), names->end());
    for (const auto& image : prepared.images)
        if (!registered.count(image.name)) context.emit(events::SkippedSample{image.id});
    return name;
}

}  // namespace

std::string runSparseSteps(const StepContext& context, const ColmapTool& colmap,
                           const PreparedImages& prepared, const SparseOptions& options) {
    const int count = static_cast<int>(prepared.images.size());
    if (!context.done(Step::features)) {
        extractFeatures(context, colmap, prepared, options);
        context.finish(Step::features);
    }
    if (!context.done(Step::matching)) {
        matchFeatures(context, colmap, prepared, options);
        context.finish(Step::matching);
    }
    if (!context.done(Step::mapping)) {
        std::error_code ignored;
        fs::remove_all(context / "sparse", ignored);
        fs::remove_all(context / "sparse_text", ignored);
        fs::create_directories(context / "sparse", ignored);
        // The mapper fails outright when no two photos match; that is the photos' fault.
        // Its global adjustments, on one core, were a third of its time; run a little less often
        // and shorter they registered the same photos with the same reprojection error (the
        // final adjustment still runs in full).
        runColmap(
            context, colmap, Step::mapping,
            {"mapper", "--database_path", "database.db", "--image_path", "images", "--output_path",
             "sparse", "--Mapper.num_threads", std::to_string(options.threads),
             "--Mapper.ba_global_images_ratio", "1.4", "--Mapper.ba_global_points_ratio", "1.4",
             "--Mapper.ba_global_max_num_iterations", "25", "--Mapper.ba_global_max_refinements",
             "2"},
            count, true);
        chooseModel(context, colmap, count, options);
        context.finish(Step::mapping);
    }
    return reportRegistration(context, prepared);
}

}  // namespace pelorin::engine::local
