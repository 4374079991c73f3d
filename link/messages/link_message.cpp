#include "link/messages/link_message.h"

#include <array>

#include "link/messages/protocol_version.h"

namespace pelorin::link {

using coding::ObjectReader;
using coding::ObjectWriter;

std::optional<std::string> Hello::versionProblem() const {
    if (protocolVersion == LinkConstants::protocolVersion) return std::nullopt;
    return "Update both apps to the same version.";
}

Json Coding<Hello>::encode(const Hello& h) {
    return ObjectWriter()
        .add("deviceID", h.deviceID)
        .add("deviceName", h.deviceName)
        .add("appVersion", h.appVersion)
        .add("pairingCode", h.pairingCode)
        .add("protocolVersion", h.protocolVersion)
        .add("platform", h.platform)
        .add("modelFormats", h.modelFormats)
        .take();
}

Hello Coding<Hello>::decode(const Json& value) {
    const ObjectReader r(value);
    Hello h;
    h.deviceID = r.required<Uuid>("deviceID");
    h.deviceName = r.required<std::string>("deviceName");
    h.appVersion = r.required<std::string>("appVersion");
    h.pairingCode = r.required<std::string>("pairingCode");
    h.protocolVersion = r.required<int>("protocolVersion");
    h.platform = r.optional<std::string>("platform");
    h.modelFormats = r.optional<std::vector<std::string>>("modelFormats");
    return h;
}

Json Coding<StudioInfo>::encode(const StudioInfo& s) {
    return ObjectWriter()
        .add("studioName", s.studioName)
        .add("appVersion", s.appVersion)
        .add("protocolVersion", s.protocolVersion)
        .add("photogrammetrySupported", s.photogrammetrySupported)
        .add("platform", s.platform)
        .add("modelFormats", s.modelFormats)
        .take();
}

StudioInfo Coding<StudioInfo>::decode(const Json& value) {
    const ObjectReader r(value);
    StudioInfo s;
    s.studioName = r.required<std::string>("studioName");
    s.appVersion = r.required<std::string>("appVersion");
    s.protocolVersion = r.required<int>("protocolVersion");
    s.photogrammetrySupported = r.required<bool>("photogrammetrySupported");
    s.platform = r.optional<std::string>("platform");
    s.modelFormats = r.optional<std::vector<std::string>>("modelFormats");
    return s;
}

namespace {

// Case names in the order of the variant's alternatives.
constexpr std::array<std::string_view, std::variant_size_v<LinkMessage>> caseNames = {
    "hello",      "beginUpload",    "file",           "endUpload", "requestStatus", "requestModel",
    "cancelJob",  "uploadAccepted", "uploadFinished", "welcome",   "rejected",      "status",
    "modelChunk", "error",          "ping",           "pong"};

// Payloads that are one unlabelled record sit under "_0".
template <class T>
Json unlabelled(const T& record) {
    Json value = Json::object();
    value["_0"] = Coding<T>::encode(record);
    return value;
}

template <class T>
T readUnlabelled(const Json& value) {
    return ObjectReader(value).required<T>("_0");
}

Json payload(const LinkMessage& message) {
    return std::visit(
        [](const auto& m) -> Json {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, msg::Hello>) {
                return unlabelled(m.hello);
            } else if constexpr (std::is_same_v<M, msg::BeginUpload>) {
                return unlabelled(m.manifest);
            } else if constexpr (std::is_same_v<M, msg::File>) {
                return ObjectWriter()
                    .add("captureID", m.captureID)
                    .add("fileName", m.fileName)
                    .take();
            } else if constexpr (std::is_same_v<M, msg::EndUpload> ||
                                 std::is_same_v<M, msg::RequestModel> ||
                                 std::is_same_v<M, msg::CancelJob>) {
                return ObjectWriter().add("captureID", m.captureID).take();
            } else if constexpr (std::is_same_v<M, msg::RequestStatus>) {
                return ObjectWriter().add("captureIDs", m.captureIDs).take();
            } else if constexpr (std::is_same_v<M, msg::UploadAccepted>) {
                return ObjectWriter()
                    .add("captureID", m.captureID)
                    .add("existingFiles", m.existingFiles)
                    .take();
            } else if constexpr (std::is_same_v<M, msg::UploadFinished>) {
                return ObjectWriter()
                    .add("captureID", m.captureID)
                    .add("missingFiles", m.missingFiles)
                    .take();
            } else if constexpr (std::is_same_v<M, msg::Welcome>) {
                return unlabelled(m.info);
            } else if constexpr (std::is_same_v<M, msg::Rejected>) {
                return ObjectWriter().add("reason", m.reason).take();
            } else if constexpr (std::is_same_v<M, msg::Status>) {
                return unlabelled(m.status);
            } else if constexpr (std::is_same_v<M, msg::ModelChunk>) {
                return ObjectWriter()
                    .add("captureID", m.captureID)
                    .add("offset", m.offset)
                    .add("total", m.total)
                    .take();
            } else if constexpr (std::is_same_v<M, msg::Error>) {
                return ObjectWriter()
                    .add("captureID", m.captureID)
                    .add("message", m.message)
                    .take();
            } else {
                return Json::object();
            }
        },
        message);
}

LinkMessage readCase(std::size_t index, const Json& value) {
    const ObjectReader r(value);
    switch (index) {
        case 0:
            return msg::Hello{readUnlabelled<Hello>(value)};
        case 1:
            return msg::BeginUpload{readUnlabelled<CaptureManifest>(value)};
        case 2:
            return msg::File{r.required<Uuid>("captureID"), r.required<std::string>("fileName")};
        case 3:
            return msg::EndUpload{r.required<Uuid>("captureID")};
        case 4:
            return msg::RequestStatus{r.required<std::vector<Uuid>>("captureIDs")};
        case 5:
            return msg::RequestModel{r.required<Uuid>("captureID")};
        case 6:
            return msg::CancelJob{r.required<Uuid>("captureID")};
        case 7:
            return msg::UploadAccepted{r.required<Uuid>("captureID"),
                                       r.required<std::vector<std::string>>("existingFiles")};
        case 8:
            return msg::UploadFinished{r.required<Uuid>("captureID"),
                                       r.required<std::vector<std::string>>("missingFiles")};
        case 9:
            return msg::Welcome{readUnlabelled<StudioInfo>(value)};
        case 10:
            return msg::Rejected{r.required<std::string>("reason")};
        case 11:
            return msg::Status{readUnlabelled<JobStatus>(value)};
        case 12:
            return msg::ModelChunk{r.required<Uuid>("captureID"),
                                   r.required<std::int64_t>("offset"),
                                   r.required<std::int64_t>("total")};
        case 13:
            return msg::Error{r.optional<Uuid>("captureID"), r.required<std::string>("message")};
        case 14:
            return msg::Ping{};
        default:
            return msg::Pong{};
    }
}

}  // namespace

std::string_view caseName(const LinkMessage& message) {
    return caseNames[message.index()];
}

Json Coding<LinkMessage>::encode(const LinkMessage& message) {
    Json value = Json::object();
    value[std::string(caseName(message))] = payload(message);
    return value;
}

LinkMessage Coding<LinkMessage>::decode(const Json& value) {
    if (!value.is_object()) coding::fail("expected an object");
    std::optional<std::size_t> found;
    const Json* inner = nullptr;
    for (auto entry = value.begin(); entry != value.end(); ++entry) {
        for (std::size_t i = 0; i < caseNames.size(); ++i) {
            if (caseNames[i] != entry.key()) continue;
            if (found) coding::fail("Invalid number of keys found, expected one.");
            found = i;
            inner = &entry.value();
        }
    }
    if (!found) coding::fail("Invalid number of keys found, expected one.");
    try {
        return readCase(*found, *inner);
    } catch (const coding::DecodingFailure& failure) {
        coding::fail(std::string(caseNames[*found]) + ": " + failure.what());
    }
}

}  // namespace pelorin::link
