#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/reconstruction/local/local_backend.h"
#include "engine/reconstruction/replay/replay_backend.h"
#include "engine/reconstruction/service_factory.h"

namespace pelorin::engine {

namespace {

// Stands in when no backend can run here, so that callers can ask and get an honest "no".
class UnsupportedService : public PhotogrammetryService {
  public:
    bool isSupported() const override { return false; }
    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        const std::filesystem::path&, const PhotogrammetryConfiguration&) override {
        return pelorin::unexpected(unsupported());
    }
    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        SampleSource, const PhotogrammetryConfiguration&) override {
        return pelorin::unexpected(unsupported());
    }
    pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadSample(
        const std::filesystem::path&) override {
        return pelorin::unexpected(unsupported());
    }

  private:
    static PhotogrammetryError unsupported() {
        return PhotogrammetryError::other("No reconstruction backend is installed.");
    }
};

}  // namespace

std::shared_ptr<PhotogrammetryService> makePhotogrammetryService(std::string_view setting) {
    constexpr std::string_view replay = "replay";
    if (setting == replay) return std::make_shared<ReplayBackend>();
    if (setting.starts_with("replay:")) {
        const std::filesystem::path path(std::string(setting.substr(replay.size() + 1)));
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        auto script = ReplayScript::fromJson(text.str());
        if (in && script) return std::make_shared<ReplayBackend>(std::move(script.value()));
        std::cerr << "pelorin: " << (script ? "could not read " + path.string() : script.error())
                  << '\n';
        return std::make_shared<UnsupportedService>();
    }
    if (!setting.empty() && setting != "local") {
        std::cerr << "pelorin: unknown photogrammetry backend \"" << setting << "\"\n";
        return std::make_shared<UnsupportedService>();
    }
    auto local = std::make_shared<local::LocalBackend>();
    if (local->isSupported()) return local;
    return std::make_shared<UnsupportedService>();
}

std::shared_ptr<PhotogrammetryService> defaultPhotogrammetryService() {
    static const std::shared_ptr<PhotogrammetryService> service = [] {
        const char* setting = std::getenv("PELORIN_PHOTOGRAMMETRY");
        return makePhotogrammetryService(setting ? setting : "");
    }();
    return service;
}

}  // namespace pelorin::engine
