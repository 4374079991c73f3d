#include "engine/reconstruction/local/held_out_views.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "common/files/file_reader.h"

namespace pelorin::engine::local {

namespace {

constexpr std::string_view recordName = "held_out.json";

}  // namespace

SparseModel holdOut(const StepContext& context, SparseModel model, const PreparedImages& prepared,
                    const std::set<std::string>& photos) {
    if (photos.empty()) return model;
    // Structure from motion knows the working images, named apart from the photos.
    std::map<std::string, std::string> photoOf;
    for (const auto& image : prepared.images)
        if (photos.count(image.source)) photoOf[image.name] = image.source;
    nlohmann::json record = nlohmann::json::array();
    for (const auto& view : model.views) {
        const auto found = photoOf.find(view.name);
        if (found == photoOf.end()) continue;
        const auto& c = view.camera;
        record.push_back({{"photo", found->second},
                          {"name", view.name},
                          {"width", c.width},
                          {"height", c.height},
                          {"focal", {c.fx, c.fy}},
                          {"principal", {c.cx, c.cy}},
                          {"rotation", view.rotation},
                          {"centre", view.centre}});
    }
    context.write(recordName, record.dump());
    std::erase_if(model.views,
                  [&](const RegisteredView& view) { return photoOf.count(view.name) > 0; });
    return model;
}

pelorin::Expected<std::vector<HeldOutView>, std::string> readHeldOutViews(
    const std::filesystem::path& checkpointDirectory) {
    const auto folder = checkpointDirectory / "local";
    auto bytes = common::readFile(folder / recordName, 16 << 20);
    if (!bytes) return pelorin::unexpected(std::string("the run held no photos out"));
    const auto record = nlohmann::json::parse(bytes->text(), nullptr, false);
    if (!record.is_array())
        return pelorin::unexpected(std::string(recordName) + " is not a list of cameras");
    std::vector<HeldOutView> views;
    try {
        for (const auto& entry : record) {
            HeldOutView held;
            held.photo = entry.at("photo").get<std::string>();
            auto& view = held.view;
            view.name = entry.at("name").get<std::string>();
            view.camera.width = entry.at("width").get<int>();
            view.camera.height = entry.at("height").get<int>();
            const auto focal = entry.at("focal").get<std::array<double, 2>>();
            const auto principal = entry.at("principal").get<std::array<double, 2>>();
            view.camera.fx = focal[0];
            view.camera.fy = focal[1];
            view.camera.cx = principal[0];
            view.camera.cy = principal[1];
            view.rotation = entry.at("rotation").get<Mat3>();
            view.centre = entry.at("centre").get<Vec3>();
            // The name came from structure from motion, but the record is a file on disk.
            if (view.name.empty() || view.name.find('/') != std::string::npos ||
                view.name.starts_with(".") || view.camera.width <= 0 || view.camera.height <= 0)
                return pelorin::unexpected(std::string(recordName) + " names a bad camera");
            held.image = folder / "dense" / "images" / view.name;
            views.push_back(std::move(held));
        }
    } catch (const nlohmann::json::exception& error) {
        return pelorin::unexpected(std::string(recordName) + ": " + error.what());
    }
    return views;
}

}  // namespace pelorin::engine::local
