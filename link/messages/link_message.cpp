#include "link/messages/link_message.h"

#include <array>
#include <utility>

#include "link/messages/protocol_version.h"
#include "link/records/field_table.h"

namespace pelorin::link {

std::optional<std::string> Hello::versionProblem() const {
    if (protocolVersion == LinkConstants::protocolVersion) return std::nullopt;
    return "Update both apps to the same version.";
}

namespace {

using coding::field;

constexpr auto fields(std::type_identity<Hello>) {
    return std::tuple{field("deviceID", &Hello::deviceID),
                      field("deviceName", &Hello::deviceName),
                      field("appVersion", &Hello::appVersion),
                      field("pairingCode", &Hello::pairingCode),
                      field("protocolVersion", &Hello::protocolVersion),
                      field("platform", &Hello::platform),
                      field("modelFormats", &Hello::modelFormats)};
}

constexpr auto fields(std::type_identity<StudioInfo>) {
    using S = StudioInfo;
    return std::tuple{field("studioName", &S::studioName),
                      field("appVersion", &S::appVersion),
                      field("protocolVersion", &S::protocolVersion),
                      field("photogrammetrySupported", &S::photogrammetrySupported),
                      field("platform", &S::platform),
                      field("modelFormats", &S::modelFormats)};
}

// The payload of each case. A payload that is one unlabelled record sits under "_0".
constexpr auto fields(std::type_identity<msg::Hello>) {
    return std::tuple{field("_0", &msg::Hello::hello)};
}
constexpr auto fields(std::type_identity<msg::BeginUpload>) {
    return std::tuple{field("_0", &msg::BeginUpload::manifest)};
}
constexpr auto fields(std::type_identity<msg::File>) {
    return std::tuple{field("captureID", &msg::File::captureID),
                      field("fileName", &msg::File::fileName)};
}
constexpr auto fields(std::type_identity<msg::EndUpload>) {
    return std::tuple{field("captureID", &msg::EndUpload::captureID)};
}
constexpr auto fields(std::type_identity<msg::RequestStatus>) {
    return std::tuple{field("captureIDs", &msg::RequestStatus::captureIDs)};
}
constexpr auto fields(std::type_identity<msg::RequestModel>) {
    return std::tuple{field("captureID", &msg::RequestModel::captureID)};
}
constexpr auto fields(std::type_identity<msg::CancelJob>) {
    return std::tuple{field("captureID", &msg::CancelJob::captureID)};
}
constexpr auto fields(std::type_identity<msg::UploadAccepted>) {
    return std::tuple{field("captureID", &msg::UploadAccepted::captureID),
                      field("existingFiles", &msg::UploadAccepted::existingFiles)};
}
constexpr auto fields(std::type_identity<msg::UploadFinished>) {
    return std::tuple{field("captureID", &msg::UploadFinished::captureID),
                      field("missingFiles", &msg::UploadFinished::missingFiles)};
}
constexpr auto fields(std::type_identity<msg::Welcome>) {
    return std::tuple{field("_0", &msg::Welcome::info)};
}
constexpr auto fields(std::type_identity<msg::Rejected>) {
    return std::tuple{field("reason", &msg::Rejected::reason)};
}
constexpr auto fields(std::type_identity<msg::Status>) {
    return std::tuple{field("_0", &msg::Status::status)};
}
constexpr auto fields(std::type_identity<msg::ModelChunk>) {
    return std::tuple{field("captureID", &msg::ModelChunk::captureID),
                      field("offset", &msg::ModelChunk::offset),
                      field("total", &msg::ModelChunk::total)};
}
constexpr auto fields(std::type_identity<msg::Error>) {
    return std::tuple{field("captureID", &msg::Error::captureID),
                      field("message", &msg::Error::message)};
}
constexpr std::tuple<> fields(std::type_identity<msg::Ping>) {
    return {};
}
constexpr std::tuple<> fields(std::type_identity<msg::Pong>) {
    return {};
}

// Case names in the order of the variant's alternatives.
constexpr std::array<std::string_view, std::variant_size_v<LinkMessage>> caseNames = {
    "hello",      "beginUpload",    "file",           "endUpload", "requestStatus", "requestModel",
    "cancelJob",  "uploadAccepted", "uploadFinished", "welcome",   "rejected",      "status",
    "modelChunk", "error",          "ping",           "pong"};

Json payload(const LinkMessage& message) {
    return std::visit(
        [](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            return coding::writeFields(m, fields(std::type_identity<M>{}));
        },
        message);
}

template <std::size_t... Index>
LinkMessage readCase(std::size_t index, const Json& value, std::index_sequence<Index...>) {
    using Reader = LinkMessage (*)(const Json&);
    static constexpr Reader readers[] = {[](const Json& payload) -> LinkMessage {
        using M = std::variant_alternative_t<Index, LinkMessage>;
        return coding::readFields<M>(payload, fields(std::type_identity<M>{}));
    }...};
    return readers[index](value);
}

}  // namespace

PELORIN_CODING_FROM_FIELDS(Hello)
PELORIN_CODING_FROM_FIELDS(StudioInfo)

std::string_view caseName(const LinkMessage& message) {
    return caseNames[message.index()];
}

// One key names the case, as for any enumeration with associated values, so the top level is
// read by hand and only each case's payload by its table.
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
        return readCase(*found, *inner, std::make_index_sequence<caseNames.size()>());
    } catch (const coding::DecodingFailure& failure) {
        coding::fail(std::string(caseNames[*found]) + ": " + failure.what());
    }
}

}  // namespace pelorin::link
