#include "studio/core/jobs/studio_job.h"

#include <QStandardPaths>

#include <cstdlib>

#include "common/unicode_text.h"
#include "link/records/field_table.h"

namespace pelorin::studio {

JobStatus StudioJob::status() const {
    JobStatus status;
    status.captureID = id;
    status.phase = phase;
    status.fraction = fraction;
    status.stage = stage;
    status.secondsRemaining = secondsRemaining;
    status.message = message;
    if (outputs) status.modelBytes = outputs->usdzBytes;
    return status;
}

std::optional<double> StudioJob::duration() const {
    if (!startedAt || !finishedAt) return std::nullopt;
    return finishedAt->secondsSince(*startedAt);
}

void StudioJob::addNote(const std::string& note) {
    if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(note);
}

const std::filesystem::path& StudioJob::jobsRoot() {
    static const std::filesystem::path root = [] {
        if (const char* home = std::getenv("PELORIN_STUDIO_HOME"); home && *home) {
            return std::filesystem::path(home) / "Jobs";
        }
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return std::filesystem::path(data.toStdString()) / "Pelorin Studio" / "Jobs";
    }();
    return root;
}

std::filesystem::path StudioJob::folder(const std::filesystem::path& root, const Uuid& id) {
    return root / id.string();
}
std::filesystem::path StudioJob::imagesFolder(const std::filesystem::path& root, const Uuid& id) {
    return folder(root, id) / "Images";
}
std::filesystem::path StudioJob::outputFolder(const std::filesystem::path& root, const Uuid& id) {
    return folder(root, id) / "Output";
}
std::filesystem::path StudioJob::checkpointFolder(const std::filesystem::path& root,
                                                  const Uuid& id) {
    return folder(root, id) / "Checkpoint";
}

std::string uniqueImportName(const std::string& name, std::unordered_set<std::string>& taken) {
    if (taken.insert(common::lowercased(name)).second) return name;
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string base = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    for (int n = 2;; ++n) {
        std::string candidate = base + "-" + std::to_string(n) + extension;
        if (taken.insert(common::lowercased(candidate)).second) return candidate;
    }
}

}  // namespace pelorin::studio

namespace pelorin::link {

using coding::ObjectReader;
using coding::ObjectWriter;
using studio::StudioJob;

// One key names the kind, as for any enumeration with associated values, so no table fits.
Json Coding<StudioJob::Source>::encode(const StudioJob::Source& source) {
    Json value = Json::object();
    if (source.kind == StudioJob::Source::Kind::phone) {
        value["phone"] = ObjectWriter().add("deviceName", source.deviceName).take();
    } else {
        value["folder"] = Json::object();
    }
    return value;
}

StudioJob::Source Coding<StudioJob::Source>::decode(const Json& value) {
    const auto [key, payload] = coding::singleKey(value);
    if (key == "phone") {
        return StudioJob::Source::phone(ObjectReader(*payload).required<std::string>("deviceName"));
    }
    if (key == "folder") {
        ObjectReader check(*payload);
        return StudioJob::Source::folder();
    }
    coding::fail("unknown source \"" + key + "\"");
}

namespace {

using coding::field;

constexpr auto fields(std::type_identity<StudioJob::Outputs>) {
    using O = StudioJob::Outputs;
    return std::tuple{
        field("usdzBytes", &O::usdzBytes),         field("hasOBJ", &O::hasOBJ),
        field("hasPointCloud", &O::hasPointCloud), field("pointCount", &O::pointCount),
        field("skippedImages", &O::skippedImages), field("usedMotionData", &O::usedMotionData),
        field("maskedImages", &O::maskedImages),   field("glbBytes", &O::glbBytes)};
}

constexpr auto fields(std::type_identity<StudioJob>) {
    using J = StudioJob;
    return std::tuple{field("id", &J::id),
                      field("name", &J::name),
                      field("source", &J::source),
                      field("createdAt", &J::createdAt),
                      field("imageCount", &J::imageCount),
                      field("expectedImageCount", &J::expectedImageCount),
                      field("options", &J::options),
                      field("phase", &J::phase),
                      field("fraction", &J::fraction),
                      field("stage", &J::stage),
                      field("secondsRemaining", &J::secondsRemaining),
                      field("message", &J::message),
                      field("notes", &J::notes),
                      field("outputs", &J::outputs),
                      field("startedAt", &J::startedAt),
                      field("finishedAt", &J::finishedAt),
                      field("captureMode", &J::captureMode)};
}

}  // namespace

PELORIN_CODING_FROM_FIELDS(StudioJob::Outputs)
PELORIN_CODING_FROM_FIELDS(StudioJob)

}  // namespace pelorin::link
