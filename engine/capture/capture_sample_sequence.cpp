#include "engine/capture/capture_sample_sequence.h"

#include <atomic>
#include <cmath>
#include <numbers>

namespace pelorin::engine {

struct CaptureSampleSequence::Shared {
    std::vector<std::filesystem::path> urls;
    std::map<std::string, link::Vector3> gravityByFile;
    bool isolateSubject;
    std::shared_ptr<Counter> maskCounter;
    std::optional<link::ObjectBounds> objectBounds;
    std::map<std::string, link::ImageRecord> recordsByFile;
    std::shared_ptr<PhotogrammetryService> service;
    std::shared_ptr<const ObjectSegmenter> segmenter;

    std::optional<PhotogrammetrySample> sampleAt(std::size_t position) const;
};

CaptureSampleSequence::CaptureSampleSequence(std::vector<std::filesystem::path> urls,
                                             std::map<std::string, link::Vector3> gravityByFile,
                                             bool isolateSubject,
                                             std::shared_ptr<Counter> maskCounter,
                                             std::optional<link::ObjectBounds> objectBounds,
                                             std::map<std::string, link::ImageRecord> recordsByFile,
                                             std::shared_ptr<PhotogrammetryService> service,
                                             std::shared_ptr<const ObjectSegmenter> segmenter)
    : shared_(std::make_shared<const Shared>(
          Shared{std::move(urls), std::move(gravityByFile), isolateSubject, std::move(maskCounter),
                 std::move(objectBounds), std::move(recordsByFile), std::move(service),
                 segmenter ? std::move(segmenter) : defaultObjectSegmenter()})) {}

std::optional<PhotogrammetrySample> CaptureSampleSequence::Shared::sampleAt(
    std::size_t position) const {
    auto loaded = service->loadSample(urls[position]);
    if (!loaded) return std::nullopt;
    PhotogrammetrySample sample;
    sample.id = static_cast<std::int64_t>(position);
    sample.image = std::move(loaded->image);
    sample.sourceFile = loaded->sourceFile;
    sample.depthDataMap = std::move(loaded->depthDataMap);
    sample.metadata = std::move(loaded->metadata);
    const std::string name = urls[position].filename().string();
    if (auto gravity = gravityByFile.find(name); gravity != gravityByFile.end()) {
        sample.gravity =
            std::array<double, 3>{gravity->second.x, gravity->second.y, gravity->second.z};
    }
    if (isolateSubject) {
        std::optional<NormalizedRegion> region;
        const auto record = recordsByFile.find(name);
        if (objectBounds && record != recordsByFile.end() && record->second.cameraTransform &&
            record->second.intrinsics) {
            region =
                maskRegion(*objectBounds, *record->second.cameraTransform,
                           *record->second.intrinsics, sample.image.width, sample.image.height);
        }
        if (auto mask = makeObjectMask(*segmenter, sample.image, region)) {
            sample.objectMask = std::move(*mask);
            maskCounter->increment();
        }
    }
    return sample;
}

SampleSource CaptureSampleSequence::makeIterator() const {
    // The position lives in a box of its own so that copies of the iterator share it.
    auto position = std::make_shared<std::atomic<std::size_t>>(0);
    return [shared = shared_, position]() -> std::optional<PhotogrammetrySample> {
        while (true) {
            const std::size_t p = position->fetch_add(1);
            if (p >= shared->urls.size()) {
                position->store(shared->urls.size());
                return std::nullopt;
            }
            // An unreadable photo is skipped silently; ids then have a gap.
            if (auto sample = shared->sampleAt(p)) return sample;
        }
    };
}

std::optional<NormalizedRegion> maskRegion(const link::ObjectBounds& bounds,
                                           const std::vector<float>& t, const std::vector<float>& k,
                                           int width, int height) {
    if (bounds.centre.size() != 3 || t.size() != 16 || k.size() != 9 || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    const double fx = k[0], fy = k[4], cx = k[6], cy = k[7];
    double minU = INFINITY, maxU = -INFINITY, minV = INFINITY, maxV = -INFINITY;
    for (int i = 0; i < 16; ++i) {
        const double a = 2 * std::numbers::pi * i / 16;
        for (double level : {-0.5, 0.5}) {
            const double px = bounds.centre[0] + bounds.radius * std::cos(a);
            const double py = bounds.centre[1] + level * bounds.height;
            const double pz = bounds.centre[2] + bounds.radius * std::sin(a);
            const double dx = px - t[12], dy = py - t[13], dz = pz - t[14];
            const double xc = dx * t[0] + dy * t[1] + dz * t[2];
            const double yc = dx * t[4] + dy * t[5] + dz * t[6];
            const double zc = dx * t[8] + dy * t[9] + dz * t[10];
            // The camera looks down its negative z axis; anything closer than a centimetre in
            // front of it (or behind it) cannot be projected.
            if (!(zc < -0.01)) return std::nullopt;
            const double u = cx - fx * (xc / zc);
            const double v = cy + fy * (yc / zc);
            minU = std::min(minU, u);
            maxU = std::max(maxU, u);
            minV = std::min(minV, v);
            maxV = std::max(maxV, v);
        }
    }
    const double x0 = std::max(0.0, minU / width);
    const double y0 = std::max(0.0, minV / height);
    const double x1 = std::min(1.0, maxU / width);
    const double y1 = std::min(1.0, maxV / height);
    if (!(x1 > x0 && y1 > y0)) return std::nullopt;
    const double area = (x1 - x0) * (y1 - y0);
    if (area <= 0.01 || area >= 0.95) return std::nullopt;
    return NormalizedRegion{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace pelorin::engine
