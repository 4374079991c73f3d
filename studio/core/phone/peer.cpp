#include "studio/core/phone/peer.h"

#include <algorithm>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/unicode_text.h"
#include "link/frames/link_constants.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::studio {

namespace {

namespace fs = std::filesystem;

}  // namespace

const std::vector<std::string>& Peer::modelFormats() {
    static const std::vector<std::string> formats = {"usdz", "glb"};
    return formats;
}

Peer::Peer(std::shared_ptr<PeerLink> connection, std::shared_ptr<CodeBox> codeBox,
           std::string studioName, bool photogrammetrySupported, fs::path jobsRoot,
           std::string appVersion)
    : connection_(std::move(connection)),
      codeBox_(std::move(codeBox)),
      studioName_(std::move(studioName)),
      photogrammetrySupported_(photogrammetrySupported),
      jobsRoot_(std::move(jobsRoot)),
      appVersion_(std::move(appVersion)) {}

// The manifest's spelling of a received name. Names match by canonical equivalence, as the
// manifest's own duplicate check does: a phone may send a decomposed "é" that its manifest
// lists composed.
std::optional<std::string> manifestSpelling(
    const std::map<std::string, std::optional<std::int64_t>>& sizes, const std::string& name) {
    if (sizes.contains(name)) return name;
    const auto key = common::canonicalComposition(name);
    if (!key) return std::nullopt;
    for (const auto& [listed, size] : sizes)
        if (common::canonicalComposition(listed) == key) return listed;
    return std::nullopt;
}

std::optional<std::string> safePhotoName(const std::string& fileName) {
    std::string_view name = fileName;
    while (!name.empty() && name.back() == '/') name.remove_suffix(1);
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == ".." || name.front() == '.') return std::nullopt;
    return std::string(name);
}

void Peer::raise(const Event& event) {
    onEvent(event);
}

void Peer::sendError(const Uuid& captureID, std::string message) {
    connection_->send(link::msg::Error{captureID, std::move(message)});
}

void Peer::handle(const link::Frame& frame) {
    {
        std::lock_guard guard(lock_);
        lastSeen_ = std::chrono::system_clock::now();
    }
    if (const auto* hello = std::get_if<link::msg::Hello>(&frame.message)) {
        handleHello(hello->hello);
        return;
    }
    if (!paired()) {
        connection_->send(link::msg::Rejected{"Pair with the code shown in Studio first."});
        return;
    }
    std::visit(
        [&](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, link::msg::BeginUpload>) {
                acceptUpload(m.manifest);
            } else if constexpr (std::is_same_v<M, link::msg::File>) {
                receivePhoto(m.captureID, m.fileName, frame.body);
            } else if constexpr (std::is_same_v<M, link::msg::EndUpload>) {
                {
                    std::lock_guard guard(lock_);
                    uploads_.erase(m.captureID);
                    uploadNames_.erase(m.captureID);
                }
                raise(EndUpload{m.captureID});
            } else if constexpr (std::is_same_v<M, link::msg::RequestStatus>) {
                raise(RequestStatus{m.captureIDs});
            } else if constexpr (std::is_same_v<M, link::msg::RequestModel>) {
                raise(RequestModel{m.captureID});
            } else if constexpr (std::is_same_v<M, link::msg::CancelJob>) {
                raise(CancelJob{m.captureID});
            } else if constexpr (std::is_same_v<M, link::msg::Ping>) {
                connection_->send(link::msg::Pong{});
            }
        },
        frame.message);
}

void Peer::handleHello(const link::Hello& hello) {
    if (auto problem = hello.versionProblem()) {
        connection_->send(link::msg::Rejected{*problem});
        return;
    }
    switch (codeBox_->check(hello.pairingCode)) {
        case PairingCheck::wrong:
            connection_->send(
                link::msg::Rejected{"Wrong pairing code. Check the code shown in Studio."});
            return;
        case PairingCheck::lockedOut:
            connection_->send(
                link::msg::Rejected{"Too many wrong codes. Wait a minute, then try again."});
            connection_->cancel();
            return;
        case PairingCheck::ok:
            break;
    }
    connection_->setMaxBody(link::LinkConstants::maxBodyBytes);
    {
        std::lock_guard guard(lock_);
        paired_ = true;
        deviceName_ = hello.deviceName;
        formats_ = hello.modelFormats.value_or(std::vector<std::string>{"usdz"});
    }
    link::StudioInfo info;
    info.studioName = studioName_;
    info.appVersion = appVersion_;
    info.protocolVersion = link::LinkConstants::protocolVersion;
    info.photogrammetrySupported = photogrammetrySupported_;
    info.platform = platform;
    info.modelFormats = modelFormats();
    connection_->send(link::msg::Welcome{info});
    raise(Paired{hello.deviceName});
}

void Peer::acceptUpload(const link::CaptureManifest& manifest) {
    if (auto problem = manifest.validationMessage()) {
        sendError(manifest.id, *problem);
        return;
    }
    const fs::path images = StudioJob::imagesFolder(jobsRoot_, manifest.id);
    std::error_code error;
    fs::create_directories(images, error);
    std::optional<std::string> failure;
    if (error) failure = error.message();

    std::set<std::string> names;
    std::map<std::string, std::optional<std::int64_t>> sizes;
    for (const auto& image : manifest.images) {
        names.insert(image.fileName);
        sizes.emplace(image.fileName, image.bytes);
    }
    std::vector<std::string> existing;
    if (!failure) {
        const auto missingList = manifest.missingFiles(images);
        const std::set<std::string> missing(missingList.begin(), missingList.end());
        std::error_code listing;
        for (fs::directory_iterator it(images, listing), end; !listing && it != end;
             it.increment(listing)) {
            const std::string name = it->path().filename().string();
            if (names.contains(name) && !missing.contains(name)) existing.push_back(name);
        }
        std::sort(existing.begin(), existing.end());
        const std::string text = link::makeRecordEncoder().encode(manifest);
        auto written = common::writeFileAtomically(
            images / std::string(link::CaptureManifest::fileName), bytesOf(text));
        if (!written) failure = written.error().reason;
    }
    if (failure) {
        sendError(manifest.id, "Studio could not create the job: " + *failure);
        return;
    }
    std::string deviceName;
    {
        std::lock_guard guard(lock_);
        uploads_.insert(manifest.id);
        uploadNames_[manifest.id] = std::move(sizes);
        deviceName = deviceName_;
    }
    const int existingCount = static_cast<int>(existing.size());
    connection_->send(link::msg::UploadAccepted{manifest.id, std::move(existing)});
    raise(BeginUpload{manifest, deviceName, existingCount});
}

void Peer::receivePhoto(const Uuid& captureID, const std::string& fileName,
                        std::span<const std::uint8_t> body) {
    std::optional<std::map<std::string, std::optional<std::int64_t>>> sizes;
    bool open = false;
    {
        std::lock_guard guard(lock_);
        open = uploads_.contains(captureID);
        if (auto found = uploadNames_.find(captureID); found != uploadNames_.end())
            sizes = found->second;
    }
    const auto safe = safePhotoName(fileName);
    const auto name = safe && sizes ? manifestSpelling(*sizes, *safe) : std::nullopt;
    if (!open || !name || *name == link::CaptureManifest::fileName) {
        sendError(captureID, "Unexpected file " + fileName + ".");
        return;
    }
    if (const auto& expected = sizes->at(*name);
        expected && static_cast<std::uint64_t>(*expected) != body.size()) {
        sendError(captureID, *name + " arrived damaged. Send the capture again.");
        return;
    }
    auto written =
        common::writeFileAtomically(StudioJob::imagesFolder(jobsRoot_, captureID) / *name, body);
    if (!written) {
        sendError(captureID, "Could not save " + *name + ": " + written.error().reason);
        return;
    }
    raise(FileWritten{captureID});
}

std::string Peer::preferredFormat() const {
    std::lock_guard guard(lock_);
    for (const auto& format : formats_) {
        if (format == "glb" || format == "usdz") return format;
    }
    return "usdz";
}

bool Peer::paired() const {
    std::lock_guard guard(lock_);
    return paired_;
}

std::string Peer::deviceName() const {
    std::lock_guard guard(lock_);
    return deviceName_;
}

std::set<Uuid> Peer::uploads() const {
    std::lock_guard guard(lock_);
    return uploads_;
}

std::chrono::system_clock::time_point Peer::lastSeen() const {
    std::lock_guard guard(lock_);
    return lastSeen_;
}

}  // namespace pelorin::studio
