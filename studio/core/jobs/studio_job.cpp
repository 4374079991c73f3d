#include "studio/core/jobs/studio_job.h"

#include <QStandardPaths>

#include <cstdlib>

#include "common/unicode_text.h"

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

Json Coding<StudioJob::Outputs>::encode(const StudioJob::Outputs& o) {
    return ObjectWriter()
        .add("usdzBytes", o.usdzBytes)
        .add("hasOBJ", o.hasOBJ)
        .add("hasPointCloud", o.hasPointCloud)
        .add("pointCount", o.pointCount)
        .add("skippedImages", o.skippedImages)
        .add("usedMotionData", o.usedMotionData)
        .add("maskedImages", o.maskedImages)
        .add("glbBytes", o.glbBytes)
        .take();
}

StudioJob::Outputs Coding<StudioJob::Outputs>::decode(const Json& value) {
    const ObjectReader r(value);
    StudioJob::Outputs o;
    o.usdzBytes = r.required<std::int64_t>("usdzBytes");
    o.hasOBJ = r.required<bool>("hasOBJ");
    o.hasPointCloud = r.required<bool>("hasPointCloud");
    o.pointCount = r.optional<int>("pointCount");
    o.skippedImages = r.required<int>("skippedImages");
    o.usedMotionData = r.required<bool>("usedMotionData");
    o.maskedImages = r.optional<int>("maskedImages");
    o.glbBytes = r.optional<std::int64_t>("glbBytes");
    return o;
}

Json Coding<StudioJob>::encode(const StudioJob& j) {
    return ObjectWriter()
        .add("id", j.id)
        .add("name", j.name)
        .add("source", j.source)
        .add("createdAt", j.createdAt)
        .add("imageCount", j.imageCount)
        .add("expectedImageCount", j.expectedImageCount)
        .add("options", j.options)
        .add("phase", j.phase)
        .add("fraction", j.fraction)
        .add("stage", j.stage)
        .add("secondsRemaining", j.secondsRemaining)
        .add("message", j.message)
        .add("notes", j.notes)
        .add("outputs", j.outputs)
        .add("startedAt", j.startedAt)
        .add("finishedAt", j.finishedAt)
        .add("captureMode", j.captureMode)
        .take();
}

StudioJob Coding<StudioJob>::decode(const Json& value) {
    const ObjectReader r(value);
    StudioJob j;
    j.id = r.required<Uuid>("id");
    j.name = r.required<std::string>("name");
    j.source = r.required<StudioJob::Source>("source");
    j.createdAt = r.required<Date>("createdAt");
    j.imageCount = r.required<int>("imageCount");
    j.expectedImageCount = r.optional<int>("expectedImageCount");
    j.options = r.required<ProcessingOptions>("options");
    j.phase = r.required<JobPhase>("phase");
    j.fraction = r.required<double>("fraction");
    j.stage = r.optional<std::string>("stage");
    j.secondsRemaining = r.optional<double>("secondsRemaining");
    j.message = r.optional<std::string>("message");
    j.notes = r.required<std::vector<std::string>>("notes");
    j.outputs = r.optional<StudioJob::Outputs>("outputs");
    j.startedAt = r.optional<Date>("startedAt");
    j.finishedAt = r.optional<Date>("finishedAt");
    j.captureMode = r.optional<CaptureMode>("captureMode");
    return j;
}

}  // namespace pelorin::link
