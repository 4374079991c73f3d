#include "link/records/capture_records.h"

#include <system_error>
#include <unordered_set>

#include "common/unicode_text.h"

namespace pelorin::link {

namespace {

template <class Enum, std::size_t N>
std::optional<Enum> fromJsonValue(std::string_view value, const std::array<Enum, N>& cases) {
    for (Enum candidate : cases) {
        if (jsonValue(candidate) == value) return candidate;
    }
    return std::nullopt;
}

}  // namespace

std::string_view jsonValue(ProcessingDetail detail) {
    switch (detail) {
        case ProcessingDetail::preview:
            return "preview";
        case ProcessingDetail::reduced:
            return "reduced";
        case ProcessingDetail::medium:
            return "medium";
        case ProcessingDetail::full:
            return "full";
    }
    return "medium";
}

std::optional<ProcessingDetail> processingDetailFromJson(std::string_view value) {
    return fromJsonValue(value, allProcessingDetails);
}

std::string_view title(ProcessingDetail detail) {
    switch (detail) {
        case ProcessingDetail::preview:
            return "Preview";
        case ProcessingDetail::reduced:
            return "Reduced";
        case ProcessingDetail::medium:
            return "Medium";
        case ProcessingDetail::full:
            return "Full";
    }
    return "Medium";
}

std::string_view summary(ProcessingDetail detail) {
    switch (detail) {
        case ProcessingDetail::preview:
            return "Fastest check that the photos align. Low quality.";
        case ProcessingDetail::reduced:
            return "Light model for phones and the web.";
        case ProcessingDetail::medium:
            return "Good balance of quality and size. Recommended.";
        case ProcessingDetail::full:
            return "Highest quality. Slowest and largest.";
    }
    return "";
}

std::string_view jsonValue(CaptureMode mode) {
    return mode == CaptureMode::arGuided ? "arGuided" : "classic";
}

std::optional<CaptureMode> captureModeFromJson(std::string_view value) {
    return fromJsonValue(value, allCaptureModes);
}

std::string_view title(CaptureMode mode) {
    return mode == CaptureMode::arGuided ? "AR Guided" : "Classic";
}

std::string_view jsonValue(JobPhase phase) {
    switch (phase) {
        case JobPhase::receiving:
            return "receiving";
        case JobPhase::ready:
            return "ready";
        case JobPhase::queued:
            return "queued";
        case JobPhase::processing:
            return "processing";
        case JobPhase::finished:
            return "finished";
        case JobPhase::failed:
            return "failed";
        case JobPhase::cancelled:
            return "cancelled";
    }
    return "ready";
}

std::optional<JobPhase> jobPhaseFromJson(std::string_view value) {
    return fromJsonValue(value, allJobPhases);
}

std::string_view title(JobPhase phase) {
    switch (phase) {
        case JobPhase::receiving:
            return "Receiving";
        case JobPhase::ready:
            return "Ready";
        case JobPhase::queued:
            return "Queued";
        case JobPhase::processing:
            return "Processing";
        case JobPhase::finished:
            return "Finished";
        case JobPhase::failed:
            return "Failed";
        case JobPhase::cancelled:
            return "Cancelled";
    }
    return "";
}

bool isActive(JobPhase phase) {
    return phase == JobPhase::receiving || phase == JobPhase::queued ||
           phase == JobPhase::processing;
}

namespace {

bool isStorableName(std::string_view name) {
    if (name.empty()) return false;
    if (name.front() == '.') return false;
    if (name.find('/') != std::string_view::npos) return false;
    if (name.find('\\') != std::string_view::npos) return false;
    if (name == CaptureManifest::fileName) return false;
    // Bytes below 0x20 in UTF-8 are exactly the scalars below U+0020.
    for (unsigned char c : name) {
        if (c < 0x20) return false;
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                break;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> CaptureManifest::validationMessage() const {
    if (images.empty()) return "This capture has no photos.";
    if (images.size() > maxImages) {
        return "This capture has too many photos (" + std::to_string(images.size()) +
               ", at most 2000).";
    }
    std::unordered_set<std::string> seen;
    seen.reserve(images.size());
    for (const auto& image : images) {
        // Text that is not valid UTF-8 cannot be composed; compare its bytes as they are.
        auto key = common::canonicalComposition(image.fileName).value_or(image.fileName);
        if (!seen.insert(std::move(key)).second) {
            return "Two photos in this capture have the same name. Take the capture again.";
        }
    }
    for (const auto& image : images) {
        if (!isStorableName(image.fileName)) {
            return "A photo in this capture has a name Studio cannot store. Take the capture "
                   "again.";
        }
    }
    return std::nullopt;
}

std::vector<std::string> CaptureManifest::missingFiles(const std::filesystem::path& folder) const {
    std::vector<std::string> missing;
    for (const auto& image : images) {
        std::error_code error;
        const auto path = folder / image.fileName;
        const auto size = std::filesystem::file_size(path, error);
        // No attributes, or attributes without a size (a folder, say), count as missing.
        const bool complete =
            !error && (image.bytes ? static_cast<std::int64_t>(size) == *image.bytes : size > 0);
        if (!complete) missing.push_back(image.fileName);
    }
    return missing;
}

}  // namespace pelorin::link
