#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "link/records/capture_records.h"
#include "link/records/record_coding.h"

namespace pelorin::studio {

using link::CaptureMode;
using link::JobPhase;
using link::JobStatus;
using link::ProcessingOptions;

// One set of photos on its way to becoming a model: what the window lists, what the store keeps
// in the job's "job.json", and what the phone's status reports are built from.
struct StudioJob {
    // Where the photos came from.
    struct Source {
        enum class Kind { phone, folder };
        Kind kind = Kind::folder;
        // phone only: the name of the phone that sent the capture.
        std::string deviceName;

        static Source phone(std::string deviceName) { return {Kind::phone, std::move(deviceName)}; }
        static Source folder() { return {Kind::folder, {}}; }
        bool operator==(const Source&) const = default;
    };

    // Facts about the finished model; present only after a successful run.
    struct Outputs {
        std::int64_t usdzBytes = 0;
        bool hasOBJ = false;
        bool hasPointCloud = false;
        std::optional<int> pointCount;
        int skippedImages = 0;
        bool usedMotionData = false;
        std::optional<int> maskedImages;
        std::optional<std::int64_t> glbBytes;
        bool operator==(const Outputs&) const = default;
    };

    static constexpr const char* fileName = "job.json";

    Uuid id;
    std::string name;
    Source source;
    Date createdAt;
    int imageCount = 0;
    std::optional<int> expectedImageCount;
    ProcessingOptions options;
    JobPhase phase = JobPhase::ready;
    double fraction = 0;
    std::optional<std::string> stage;
    std::optional<double> secondsRemaining;
    std::optional<std::string> message;
    std::vector<std::string> notes;
    std::optional<Outputs> outputs;
    std::optional<Date> startedAt;
    std::optional<Date> finishedAt;
    std::optional<CaptureMode> captureMode;

    bool operator==(const StudioJob&) const = default;

    // The report sent to phones about this job.
    JobStatus status() const;
    // Seconds from start to finish of the last run, when both are known.
    std::optional<double> duration() const;
    // Appends a note unless it is already there.
    void addNote(const std::string& note);

    // The per-user jobs root: PELORIN_STUDIO_HOME, else the application's data folder, followed
    // by "Jobs". Computed once per process.
    static const std::filesystem::path& jobsRoot();
    static std::filesystem::path folder(const std::filesystem::path& root, const Uuid& id);
    static std::filesystem::path imagesFolder(const std::filesystem::path& root, const Uuid& id);
    static std::filesystem::path outputFolder(const std::filesystem::path& root, const Uuid& id);
    static std::filesystem::path checkpointFolder(const std::filesystem::path& root,
                                                  const Uuid& id);
};

// The name an imported photo gets in an Images folder whose names (lower-cased) are `taken`:
// the name itself when free, else base-2.ext, base-3.ext, ... The chosen name is added to
// `taken`.
std::string uniqueImportName(const std::string& name, std::unordered_set<std::string>& taken);

}  // namespace pelorin::studio

namespace pelorin::link {
PELORIN_DECLARE_CODING(studio::StudioJob::Source)
PELORIN_DECLARE_CODING(studio::StudioJob::Outputs)
PELORIN_DECLARE_CODING(studio::StudioJob)
}  // namespace pelorin::link
