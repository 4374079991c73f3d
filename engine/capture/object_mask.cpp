#include "engine/capture/object_mask.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <opencv2/imgproc.hpp>

#include "engine/capture/pixel_buffer_mat.h"

namespace pelorin::engine {

namespace {

struct Tally {
    int label = 0;
    int count = 0;
    int samples = 0;
};

// The most frequent non-zero label among every second pixel of the box, with its count and the
// number of samples taken.
Tally dominantLabel(const PixelBuffer& labels, int x0, int x1, int y0, int y1) {
    std::map<int, int> counts;
    int samples = 0;
    for (int y = y0; y < y1; y += 2) {
        const std::uint8_t* row =
            labels.data.data() + static_cast<std::size_t>(y) * labels.bytesPerRow;
        for (int x = x0; x < x1; x += 2) {
            ++samples;
            if (row[x] != 0) ++counts[row[x]];
        }
    }
    int best = 0;
    int bestCount = 0;
    for (const auto& [label, count] : counts) {
        if (count > bestCount) {
            best = label;
            bestCount = count;
        }
    }
    return {best, bestCount, samples};
}

int centreRule(const PixelBuffer& labels) {
    const int w = labels.width;
    const int h = labels.height;
    const int centre = labels.data[static_cast<std::size_t>(h / 2) * labels.bytesPerRow + w / 2];
    if (centre != 0) return centre;
    return dominantLabel(labels, w / 4, 3 * w / 4, h / 4, 3 * h / 4).label;
}

}  // namespace

int chooseInstance(const PixelBuffer& labels, const std::optional<NormalizedRegion>& region) {
    if (labels.width <= 0 || labels.height <= 0 || labels.channels != 1) return 0;
    if (region) {
        const double w = labels.width;
        const double h = labels.height;
        const int x0 = static_cast<int>(std::max(0.0, region->x * w));
        const int x1 = static_cast<int>(std::min(w, (region->x + region->width) * w));
        const int y0 = static_cast<int>(std::max(0.0, region->y * h));
        const int y1 = static_cast<int>(std::min(h, (region->y + region->height) * h));
        if (x0 < x1 && y0 < y1) {
            const Tally tally = dominantLabel(labels, x0, x1, y0, y1);
            if (tally.label != 0 && tally.count * 5 >= tally.samples) return tally.label;
        }
    }
    return centreRule(labels);
}

std::optional<PixelBuffer> makeObjectMask(const ObjectSegmenter& segmenter,
                                          const PixelBuffer& image,
                                          const std::optional<NormalizedRegion>& region) {
    auto segmentation = segmenter.segment(image, region);
    if (!segmentation || segmentation->instanceCount() == 0) return std::nullopt;
    const int instance = chooseInstance(segmentation->labels(), region);
    if (instance == 0) return std::nullopt;
    return segmentation->scaledMask(instance);
}

namespace {

constexpr int workingSize = 512;

class GrabCutSegmentation : public Segmentation {
  public:
    GrabCutSegmentation(cv::Mat labels, int count, cv::Size fullSize)
        : labelMat_(std::move(labels)), count_(count), fullSize_(fullSize) {
        labels_ = toPixelBuffer(labelMat_);
    }

    const PixelBuffer& labels() const override { return labels_; }
    int instanceCount() const override { return count_; }

    std::optional<PixelBuffer> scaledMask(int instance) const override {
        if (instance < 1 || instance > count_) return std::nullopt;
        cv::Mat small = (labelMat_ == instance);
        // Feather the edge at the working size, where it is cheap, then scale up smoothly.
        cv::Mat soft;
        small.convertTo(soft, CV_32F, 1.0 / 255);
        cv::GaussianBlur(soft, soft, cv::Size(5, 5), 0);
        cv::Mat full;
        cv::resize(soft, full, fullSize_, 0, 0, cv::INTER_LINEAR);
        cv::Mat bytes;
        full.convertTo(bytes, CV_8U, 255.0);
        return toPixelBuffer(bytes);
    }

  private:
    cv::Mat labelMat_;
    PixelBuffer labels_;
    int count_;
    cv::Size fullSize_;
};

class GrabCutSegmenter : public ObjectSegmenter {
  public:
    std::unique_ptr<Segmentation> segment(
        const PixelBuffer& image, const std::optional<NormalizedRegion>& hint) const override {
        if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 1)) {
            return nullptr;
        }
        cv::Mat colour = asMat(image);
        if (image.channels == 1) cv::cvtColor(colour, colour, cv::COLOR_GRAY2BGR);
        const double scale =
            std::min(1.0, double(workingSize) / std::max(image.width, image.height));
        cv::Mat small;
        cv::resize(colour, small, cv::Size(), scale, scale, cv::INTER_AREA);
        if (small.cols < 16 || small.rows < 16) return nullptr;

        // The seed box: the hint grown by a tenth on each side, else the image less an eighth
        // on each side. Outside it is background for certain.
        cv::Rect box;
        if (hint) {
            const double gx = hint->width * 0.1;
            const double gy = hint->height * 0.1;
            box = cv::Rect(
                cv::Point(int((hint->x - gx) * small.cols), int((hint->y - gy) * small.rows)),
                cv::Point(int((hint->x + hint->width + gx) * small.cols),
                          int((hint->y + hint->height + gy) * small.rows)));
        } else {
            box = cv::Rect(small.cols / 8, small.rows / 8, small.cols * 3 / 4, small.rows * 3 / 4);
        }
        box &= cv::Rect(1, 1, small.cols - 2, small.rows - 2);
        if (box.width < 8 || box.height < 8) return nullptr;

        cv::Mat mask(small.size(), CV_8U, cv::Scalar(cv::GC_BGD));
        cv::Mat background, foreground;
        try {
            cv::grabCut(small, mask, box, background, foreground, 4, cv::GC_INIT_WITH_RECT);
        } catch (const cv::Exception&) {
            return nullptr;
        }
        cv::Mat object = (mask == cv::GC_FGD) | (mask == cv::GC_PR_FGD);
        cv::morphologyEx(object, object, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));

        cv::Mat components, stats, centroids;
        const int found =
            cv::connectedComponentsWithStats(object, components, stats, centroids, 8, CV_32S);
        // Specks are not instances; keep the rest, largest first, numbered from 1.
        const int minimumArea = std::max(16, small.cols * small.rows / 500);
        std::vector<std::pair<int, int>> kept;
        for (int i = 1; i < found; ++i) {
            const int area = stats.at<int>(i, cv::CC_STAT_AREA);
            if (area >= minimumArea) kept.emplace_back(area, i);
        }
        if (kept.empty()) return nullptr;
        std::sort(kept.rbegin(), kept.rend());
        kept.resize(std::min<std::size_t>(kept.size(), 255));
        std::vector<std::uint8_t> relabel(found, 0);
        for (std::size_t n = 0; n < kept.size(); ++n)
            relabel[kept[n].second] = static_cast<std::uint8_t>(n + 1);
        cv::Mat labels(small.size(), CV_8U);
        for (int y = 0; y < labels.rows; ++y) {
            const int* in = components.ptr<int>(y);
            std::uint8_t* out = labels.ptr<std::uint8_t>(y);
            for (int x = 0; x < labels.cols; ++x) out[x] = relabel[in[x]];
        }
        return std::make_unique<GrabCutSegmentation>(
            std::move(labels), static_cast<int>(kept.size()), cv::Size(image.width, image.height));
    }
};

}  // namespace

std::shared_ptr<const ObjectSegmenter> defaultObjectSegmenter() {
    static const auto segmenter = std::make_shared<const GrabCutSegmenter>();
    return segmenter;
}

}  // namespace pelorin::engine
