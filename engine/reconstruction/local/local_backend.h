#pragma once

#include "engine/reconstruction/local/reconstruction_pipeline.h"
#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine::local {

// The real reconstruction on this computer's CPU: COLMAP for structure from motion, our own
// steps for the rest (see runReconstruction). Supported when COLMAP runs.
class LocalBackend : public PhotogrammetryService {
  public:
    explicit LocalBackend(ColmapTool colmap = {}, PipelineOptions options = {});

    bool isSupported() const override;

    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        const std::filesystem::path& folder,
        const PhotogrammetryConfiguration& configuration) override;

    pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError> makeSession(
        SampleSource samples, const PhotogrammetryConfiguration& configuration) override;

    pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> loadSample(
        const std::filesystem::path& photo) override;

  private:
    ColmapTool colmap_;
    PipelineOptions options_;
    mutable std::optional<bool> supported_;
};

}  // namespace pelorin::engine::local
