#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine {

// A rectangle in fractions of an image's width and height, origin top left, y down.
struct NormalizedRegion {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const NormalizedRegion&) const = default;
};

// Foreground instances of one image: a label image at a working resolution (0 is background,
// 1...n the instances) and, on request, a soft mask of one instance at the image's full size.
class Segmentation {
  public:
    virtual ~Segmentation() = default;
    virtual const PixelBuffer& labels() const = 0;
    virtual int instanceCount() const = 0;
    // One byte per pixel (0...255) at full size; nothing on failure.
    virtual std::optional<PixelBuffer> scaledMask(int instance) const = 0;
};

// Finds the foreground instances of an image; nothing when it finds none or fails.
class ObjectSegmenter {
  public:
    virtual ~ObjectSegmenter() = default;
    virtual std::unique_ptr<Segmentation> segment(
        const PixelBuffer& image, const std::optional<NormalizedRegion>& hint) const = 0;
};

// The CPU segmenter: GrabCut on a reduced image seeded from the hint (or the central half),
// connected components as instances, feathered masks scaled back to full size.
std::shared_ptr<const ObjectSegmenter> defaultObjectSegmenter();

// Chooses the instance the region (or, failing that, the image centre) points at and returns
// its mask; nothing when there is none.
std::optional<PixelBuffer> makeObjectMask(const ObjectSegmenter& segmenter,
                                          const PixelBuffer& image,
                                          const std::optional<NormalizedRegion>& region);

// The instance chosen from a label image: by the region when one covers at least a fifth of
// its sampled pixels, else by the centre rule. Zero when none.
int chooseInstance(const PixelBuffer& labels, const std::optional<NormalizedRegion>& region);

}  // namespace pelorin::engine
