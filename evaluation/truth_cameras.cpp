#include "evaluation/truth_cameras.h"

#include <nlohmann/json.hpp>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"
#include "link/records/record_coding.h"

namespace pelorin::evaluation {

namespace {

using nlohmann::json;

template <std::size_t N>
std::array<double, N> numbers(const json& view, const char* key) {
    const json& value = view.at(key);
    if (!value.is_array() || value.size() != N)
        throw std::runtime_error(std::string("\"") + key + "\" needs " + std::to_string(N) +
                                 " numbers");
    std::array<double, N> result{};
    for (std::size_t i = 0; i < N; ++i) result[i] = value[i].get<double>();
    return result;
}

}  // namespace

const TruthView* TruthCameras::find(std::string_view name) const {
    for (const auto& view : views)
        if (view.name == name) return &view;
    return nullptr;
}

pelorin::Expected<TruthCameras, std::string> loadTruthCameras(const std::filesystem::path& file) {
    auto bytes = common::readFile(file, 64 << 20);
    if (!bytes) return pelorin::unexpected(file.string() + ": " + bytes.error().description());
    try {
        const json root = json::parse(bytes->text());
        TruthCameras cameras;
        cameras.width = root.value("width", 0);
        cameras.height = root.value("height", 0);
        for (const json& view : root.at("images")) {
            TruthView parsed;
            parsed.name = view.at("name").get<std::string>();
            parsed.cameraTransform = numbers<16>(view, "cameraTransform");
            parsed.intrinsics = numbers<9>(view, "intrinsics");
            parsed.gravity = numbers<3>(view, "gravity");
            cameras.views.push_back(std::move(parsed));
        }
        if (root.contains("objectBounds")) {
            auto bounds =
                link::makeRecordDecoder().decodeJson<link::ObjectBounds>(root["objectBounds"]);
            if (!bounds) throw std::runtime_error(bounds.error().message);
            cameras.objectBounds = std::move(bounds.value());
        }
        return cameras;
    } catch (const std::exception& failure) {
        return pelorin::unexpected(file.string() + ": " + failure.what());
    }
}

pelorin::Expected<std::monostate, std::string> saveTruthCameras(const TruthCameras& cameras,
                                                                const std::filesystem::path& file) {
    json root;
    root["width"] = cameras.width;
    root["height"] = cameras.height;
    root["images"] = json::array();
    for (const auto& view : cameras.views) {
        root["images"].push_back({{"name", view.name},
                                  {"cameraTransform", view.cameraTransform},
                                  {"intrinsics", view.intrinsics},
                                  {"gravity", view.gravity}});
    }
    if (cameras.objectBounds)
        root["objectBounds"] = json::parse(link::makeRecordEncoder().encode(*cameras.objectBounds));
    const std::string text = root.dump(1) + "\n";
    auto written = common::writeFileAtomically(file, bytesOf(text));
    if (!written) return pelorin::unexpected(file.string() + ": " + written.error().description());
    return std::monostate{};
}

}  // namespace pelorin::evaluation
