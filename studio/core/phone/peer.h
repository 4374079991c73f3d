#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "link/frames/frame.h"
#include "link/messages/link_message.h"
#include "link/runtime/callback_slot.h"
#include "studio/core/phone/code_box.h"

namespace pelorin::studio {

// What a peer needs of its connection: fire-and-forget sends, closing, and the body limit.
class PeerLink {
  public:
    virtual ~PeerLink() = default;
    virtual void send(const link::LinkMessage& message,
                      std::span<const std::uint8_t> body = {}) = 0;
    virtual void cancel() = 0;
    virtual void setMaxBody(std::uint64_t maxBody) = 0;
};

// The desktop's side of one phone connection: answers the greeting, checks the pairing code,
// accepts uploads and writes their photos into the job's Images folder, answers pings, and
// turns everything about jobs into events for the link service. handle() runs on the
// connection's own queue; the service reads the fields under the lock from the main thread.
class Peer {
  public:
    struct Paired {
        std::string name;
    };
    struct BeginUpload {
        link::CaptureManifest manifest;
        std::string deviceName;
        int existingFiles = 0;
    };
    struct FileWritten {
        Uuid captureID;
    };
    struct EndUpload {
        Uuid captureID;
    };
    struct RequestStatus {
        std::vector<Uuid> captureIDs;
    };
    struct RequestModel {
        Uuid captureID;
    };
    struct CancelJob {
        Uuid captureID;
    };
    using Event = std::variant<Paired, BeginUpload, FileWritten, EndUpload, RequestStatus,
                               RequestModel, CancelJob>;

    // The studio's model formats, protocol version and platform, as sent in the welcome.
    static const std::vector<std::string>& modelFormats();
    static constexpr const char* platform = "linux";
    static constexpr std::uint64_t unpairedMaxBody = 65'536;

    Peer(std::shared_ptr<PeerLink> connection, std::shared_ptr<CodeBox> codeBox,
         std::string studioName, bool photogrammetrySupported, std::filesystem::path jobsRoot,
         std::string appVersion);

    // Set by the service right after creation and cleared when the phone goes; called
    // synchronously on the connection's queue.
    link::CallbackSlot<const Event&> onEvent;

    void handle(const link::Frame& frame);

    // The model format to send this phone: "glb" or "usdz", whichever its list names first.
    std::string preferredFormat() const;
    bool paired() const;
    std::string deviceName() const;
    std::set<Uuid> uploads() const;
    std::chrono::system_clock::time_point lastSeen() const;
    PeerLink& connection() const { return *connection_; }

  private:
    void handleHello(const link::Hello& hello);
    void acceptUpload(const link::CaptureManifest& manifest);
    void receivePhoto(const Uuid& captureID, const std::string& fileName,
                      std::span<const std::uint8_t> body);
    void raise(const Event& event);
    void sendError(const Uuid& captureID, std::string message);

    const std::shared_ptr<PeerLink> connection_;
    const std::shared_ptr<CodeBox> codeBox_;
    const std::string studioName_;
    const bool photogrammetrySupported_;
    const std::filesystem::path jobsRoot_;
    const std::string appVersion_;

    mutable std::mutex lock_;
    bool paired_ = false;
    std::string deviceName_ = "iPhone";
    std::vector<std::string> formats_ = {"usdz"};
    std::set<Uuid> uploads_;
    std::map<Uuid, std::map<std::string, std::optional<std::int64_t>>> uploadNames_;
    std::chrono::system_clock::time_point lastSeen_ = std::chrono::system_clock::now();
};

// The last path component of a received photo name, or nothing when it is empty, ".", ".."
// or hidden.
std::optional<std::string> safePhotoName(const std::string& fileName);

}  // namespace pelorin::studio
