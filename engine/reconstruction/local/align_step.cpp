#include "engine/reconstruction/local/align_step.h"

#include <map>

#include <nlohmann/json.hpp>

#include "common/files/file_reader.h"
#include "engine/reconstruction/local/model_alignment.h"

namespace pelorin::engine::local {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const WorkingImage* imageNamed(const PreparedImages& prepared, const std::string& name) {
    for (const auto& image : prepared.images)
        if (image.name == name) return &image;
    return nullptr;
}

// The similarity onto the phone's camera positions, when they agree with the photos.
std::optional<Similarity> fitToPhone(const SparseModel& model, const PreparedImages& prepared,
                                     const AlignOptions& options) {
    const auto& manifest = prepared.manifest;
    if (!manifest) return std::nullopt;
    std::map<std::string, const link::ImageRecord*> records;
    for (const auto& record : manifest->images) records.emplace(record.fileName, &record);
    std::vector<Vec3> from, to;
    for (const auto& view : model.views) {
        const WorkingImage* image = imageNamed(prepared, view.name);
        if (!image) continue;
        const auto record = records.find(image->source);
        if (record == records.end() || !record->second->cameraTransform ||
            record->second->cameraTransform->size() != 16)
            continue;
        const auto& m = *record->second->cameraTransform;
        from.push_back(view.centre);
        to.push_back({m[12], m[13], m[14]});
    }
    auto fit = fitSimilarity(from, to);
    if (!fit || from.size() < 3) return std::nullopt;
    double residual = 0, spread = 0;
    Vec3 mean{};
    for (const auto& p : to) mean = mean + p;
    mean = (1.0 / to.size()) * mean;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const Vec3 mapped = fit->scale * (fit->rotation * from[i]) + fit->translation;
        residual += dot(mapped - to[i], mapped - to[i]);
        spread += dot(to[i] - mean, to[i] - mean);
    }
    if (residual >= options.leastAgreement * spread) return std::nullopt;
    return fit;
}

Similarity uprightAndSized(const SparseModel& model, const PreparedImages& prepared,
                           const AlignOptions& options) {
    std::vector<std::optional<Vec3>> gravity;
    for (const auto& view : model.views) {
        const WorkingImage* image = imageNamed(prepared, view.name);
        if (image && image->gravity)
            gravity.push_back(
                Vec3{(*image->gravity)[0], (*image->gravity)[1], (*image->gravity)[2]});
        else
            gravity.push_back(std::nullopt);
    }
    const Mat3 upright = uprightFromGravity(model, gravity).value_or(uprightFromCameras(model));
    SparseModel turned = model;
    turned.transform(1, upright, {});
    const Similarity size = normalisedSize(turned, options.normalisedDiagonal);
    return {size.scale, upright, size.translation};
}

}  // namespace

AlignedModel runAlignStep(const StepContext& context, SparseModel model,
                          const PreparedImages& prepared, const AlignOptions& options) {
    constexpr std::string_view file = "alignment.json";
    AlignedModel aligned;
    Similarity similarity;
    bool loaded = false;
    if (auto bytes = common::readFile(context / file, 1 << 20)) {
        const json saved = json::parse(bytes->text(), nullptr, false);
        if (saved.is_object() && saved.contains("scale")) {
            similarity.scale = saved["scale"].get<double>();
            similarity.rotation = saved["rotation"].get<Mat3>();
            similarity.translation = saved["translation"].get<Vec3>();
            aligned.metric = saved["metric"].get<bool>();
            loaded = true;
        }
    }
    if (!loaded) {
        if (auto fit = fitToPhone(model, prepared, options)) {
            similarity = *fit;
            aligned.metric = true;
        } else {
            similarity = uprightAndSized(model, prepared, options);
        }
        const json saved = {{"scale", similarity.scale},
                            {"rotation", similarity.rotation},
                            {"translation", similarity.translation},
                            {"metric", aligned.metric}};
        context.write(file, saved.dump());
    }
    model.transform(similarity.scale, similarity.rotation, similarity.translation);
    aligned.model = std::move(model);
    return aligned;
}

}  // namespace pelorin::engine::local
