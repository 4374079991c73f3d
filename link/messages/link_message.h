#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/records/capture_records.h"
#include "link/records/record_coding.h"

namespace pelorin::link {

// The phone's greeting.
struct Hello {
    Uuid deviceID;
    std::string deviceName;
    std::string appVersion;
    std::string pairingCode;
    int protocolVersion = 0;
    std::optional<std::string> platform;
    std::optional<std::vector<std::string>> modelFormats;

    bool operator==(const Hello&) const = default;

    // Nothing when both ends speak the same protocol version, else the sentence for the user.
    std::optional<std::string> versionProblem() const;
};

// The desktop's answer to an accepted greeting.
struct StudioInfo {
    std::string studioName;
    std::string appVersion;
    int protocolVersion = 0;
    bool photogrammetrySupported = false;
    std::optional<std::string> platform;
    std::optional<std::vector<std::string>> modelFormats;

    bool operator==(const StudioInfo&) const = default;
};

// The cases of LinkMessage, one struct each, named as on the wire.
namespace msg {
struct Hello {
    link::Hello hello;
    bool operator==(const Hello&) const = default;
};
struct BeginUpload {
    CaptureManifest manifest;
    bool operator==(const BeginUpload&) const = default;
};
// Its frame's body holds the photo's bytes.
struct File {
    Uuid captureID;
    std::string fileName;
    bool operator==(const File&) const = default;
};
struct EndUpload {
    Uuid captureID;
    bool operator==(const EndUpload&) const = default;
};
struct RequestStatus {
    std::vector<Uuid> captureIDs;
    bool operator==(const RequestStatus&) const = default;
};
struct RequestModel {
    Uuid captureID;
    bool operator==(const RequestModel&) const = default;
};
struct CancelJob {
    Uuid captureID;
    bool operator==(const CancelJob&) const = default;
};
struct UploadAccepted {
    Uuid captureID;
    std::vector<std::string> existingFiles;
    bool operator==(const UploadAccepted&) const = default;
};
struct UploadFinished {
    Uuid captureID;
    std::vector<std::string> missingFiles;
    bool operator==(const UploadFinished&) const = default;
};
struct Welcome {
    StudioInfo info;
    bool operator==(const Welcome&) const = default;
};
struct Rejected {
    std::string reason;
    bool operator==(const Rejected&) const = default;
};
struct Status {
    JobStatus status;
    bool operator==(const Status&) const = default;
};
// Its frame's body holds the model's bytes from `offset` on.
struct ModelChunk {
    Uuid captureID;
    std::int64_t offset = 0;
    std::int64_t total = 0;
    bool operator==(const ModelChunk&) const = default;
};
struct [[nodiscard]] Error {
    std::optional<Uuid> captureID;
    std::string message;
    bool operator==(const Error&) const = default;
};
struct Ping {
    bool operator==(const Ping&) const = default;
};
struct Pong {
    bool operator==(const Pong&) const = default;
};
}  // namespace msg

// The closed set of messages a phone and the desktop exchange.
using LinkMessage =
    std::variant<msg::Hello, msg::BeginUpload, msg::File, msg::EndUpload, msg::RequestStatus,
                 msg::RequestModel, msg::CancelJob, msg::UploadAccepted, msg::UploadFinished,
                 msg::Welcome, msg::Rejected, msg::Status, msg::ModelChunk, msg::Error, msg::Ping,
                 msg::Pong>;

// The case name, as the message's one top-level JSON key.
std::string_view caseName(const LinkMessage& message);

PELORIN_DECLARE_CODING(Hello)
PELORIN_DECLARE_CODING(StudioInfo)
PELORIN_DECLARE_CODING(LinkMessage)

}  // namespace pelorin::link
