#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/capture/counter.h"
#include "engine/capture/object_mask.h"
#include "engine/reconstruction/photogrammetry_service.h"
#include "link/records/capture_records.h"

namespace pelorin::engine {

// One prepared sample per photo, pulled lazily by the service: the phone's gravity for the
// photo, and with `isolateSubject` an object mask that keeps only the captured object. A photo
// that cannot be loaded is skipped, so sample ids (the photo's index) may have gaps.
class CaptureSampleSequence {
  public:
    CaptureSampleSequence(std::vector<std::filesystem::path> urls,
                          std::map<std::string, link::Vector3> gravityByFile, bool isolateSubject,
                          std::shared_ptr<Counter> maskCounter,
                          std::optional<link::ObjectBounds> objectBounds,
                          std::map<std::string, link::ImageRecord> recordsByFile,
                          std::shared_ptr<PhotogrammetryService> service,
                          std::shared_ptr<const ObjectSegmenter> segmenter = nullptr);

    // A fresh iterator from the first photo; each has its own position.
    SampleSource makeIterator() const;

  private:
    struct Shared;
    std::shared_ptr<const Shared> shared_;
};

// The object's cylinder projected into a photo, as a rectangle in fractions of the image (origin
// top left); nothing when it cannot be projected or covers too little or too much.
std::optional<NormalizedRegion> maskRegion(const link::ObjectBounds& bounds,
                                           const std::vector<float>& cameraTransform,
                                           const std::vector<float>& intrinsics, int width,
                                           int height);

}  // namespace pelorin::engine
