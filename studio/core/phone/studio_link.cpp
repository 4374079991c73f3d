#include "studio/core/phone/studio_link.h"

#include <QMetaObject>
#include <QPointer>
#include <QSettings>
#include <QThreadPool>

#include <unistd.h>

#include <fstream>

#include "common/files/file_reader.h"
#include "link/discovery/host_name.h"
#include "link/runtime/link_runtime.h"
#include "link/transport/link_connection.h"
#include "link/transport/link_server.h"
#include "studio/core/jobs/job_store.h"

namespace pelorin::studio {

namespace {

namespace fs = std::filesystem;
using link::LinkConnection;
using link::LinkServer;

// A peer talks to its phone through its connection.
class ConnectionLink : public PeerLink {
  public:
    explicit ConnectionLink(std::shared_ptr<LinkConnection> connection)
        : connection_(std::move(connection)) {}
    void send(const link::LinkMessage& message, std::span<const std::uint8_t> body) override {
        connection_->send(message, body);
    }
    void cancel() override { connection_->cancel(); }
    void setMaxBody(std::uint64_t maxBody) override { connection_->setMaxBody(maxBody); }

  private:
    std::shared_ptr<LinkConnection> connection_;
};

// Runs `work` on the main thread of `target`, unless the target has gone by then.
template <class Work>
void onMainThread(const QPointer<StudioLink>& target, Work work) {
    if (!target) return;
    QMetaObject::invokeMethod(
        target.data(),
        [target, work = std::move(work)]() mutable {
            if (target) work(*target);
        },
        Qt::QueuedConnection);
}

// One model on its way to a phone. Each chunk goes straight from the file's memory map when
// the one before it has reached the socket, so no thread waits on the network while a phone
// downloads, however many download at once.
class Delivery : public std::enable_shared_from_this<Delivery> {
  public:
    Delivery(std::shared_ptr<LinkConnection> connection, Uuid captureID, common::MappedFile file)
        : connection_(std::move(connection)), captureID_(captureID), file_(std::move(file)) {}

    void sendNext() {
        const auto bytes = file_.bytes();
        const std::size_t length = std::min(StudioLink::chunkBytes, bytes.size() - offset_);
        connection_->send(
            link::msg::ModelChunk{captureID_, static_cast<std::int64_t>(offset_),
                                  static_cast<std::int64_t>(bytes.size())},
            bytes.subspan(offset_, length),
            [self = shared_from_this(), length](std::optional<LinkConnection::SendError> error) {
                if (error) return self->fail(link::description(*error));
                self->offset_ += length;
                if (self->offset_ < self->file_.bytes().size()) self->sendNext();
            });
    }

    void fail(const std::string& why) {
        connection_->send(link::msg::Error{captureID_, "Could not send the model: " + why});
    }

  private:
    std::shared_ptr<LinkConnection> connection_;
    Uuid captureID_;
    common::MappedFile file_;
    std::size_t offset_ = 0;
};

}  // namespace

std::string computerName() {
    std::ifstream info("/etc/machine-info");
    std::string line;
    while (std::getline(info, line)) {
        if (!line.starts_with("PRETTY_HOSTNAME=")) continue;
        std::string value = line.substr(16);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (!value.empty()) return value;
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
    return "Linux computer";
}

std::string studioAppVersion() {
    return std::string(PELORIN_VERSION) + " (1)";
}

StudioLink::StudioLink(JobStore& store, link::LinkRuntime& runtime, QSettings& preferences,
                       QObject* parent)
    : QObject(parent), store_(store), runtime_(runtime), preferences_(preferences) {
    hostName_ = link::networkHostName();
    auto identity = link::SecureLink::Identity::loadOrCreate(store.jobsRoot().parent_path() /
                                                             "link-identity.key");
    if (identity) identity_ = std::move(identity.value());
    studioName_ = computerName();
    pairingCode_ = choosePairingCode(preferences_);
    codeBox_ = std::make_shared<CodeBox>(pairingCode_);
    QPointer<StudioLink> self(this);
    store_.onStatusChange = [self](const link::JobStatus& status) {
        if (self) self->pushStatus(status);
    };
    sweeper_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(sweepInterval));
    connect(&sweeper_, &QTimer::timeout, this, &StudioLink::sweep);
}

StudioLink::~StudioLink() {
    store_.onStatusChange = nullptr;
    if (server_) {
        server_->onConnection = nullptr;
        server_->onStateChange = nullptr;
    }
    for (auto& [id, connected] : peers_) {
        connected.peer->onEvent = nullptr;
        connected.connection->onMessage = nullptr;
        connected.connection->onStateChange = nullptr;
        connected.connection->cancel();
    }
}

void StudioLink::setSweep(std::chrono::milliseconds interval, std::chrono::milliseconds silence) {
    sweeper_.setInterval(interval);
    silenceLimit_ = silence;
}

std::optional<std::string> StudioLink::fingerprint() const {
    if (!identity_) return std::nullopt;
    return identity_->fingerprint();
}

link::PairingLink StudioLink::pairingLink() const {
    link::PairingLink pairing;
    pairing.studioName = studioName_;
    pairing.code = pairingCode_;
    if (!hostName_.empty()) pairing.host = hostName_;
    pairing.port = port_;
    pairing.fingerprint = fingerprint();
    return pairing;
}

void StudioLink::setServerState(ServerState state) {
    if (serverState_ == state) return;
    serverState_ = std::move(state);
    emit serverStateChanged();
}

void StudioLink::setPort(std::optional<std::uint16_t> port) {
    if (port_ == port) return;
    port_ = port;
    emit portChanged();
}

void StudioLink::start() {
    if (server_) return;
    sweeper_.start();
    if (!identity_) {
        setServerState(
            {ServerState::Kind::failed,
             link::SecureLink::description(link::SecureLink::SecureError::badHandshake)});
        return;
    }
    auto server = LinkServer::create(runtime_, studioName_, std::nullopt, *identity_);
    if (!server) {
        setServerState({ServerState::Kind::failed, server.error()});
        return;
    }
    server_ = std::move(server.value());
    const QPointer<StudioLink> self(this);
    server_->onStateChange = [self](const LinkServer::State& state) {
        onMainThread(self, [state](StudioLink& link) {
            switch (state.kind) {
                case LinkServer::State::Kind::ready:
                    link.setPort(state.port);
                    link.setServerState({ServerState::Kind::listening, {}});
                    break;
                case LinkServer::State::Kind::failed:
                    link.setServerState({ServerState::Kind::failed, state.text});
                    break;
                case LinkServer::State::Kind::starting:
                    link.setServerState({ServerState::Kind::starting, {}});
                    break;
                case LinkServer::State::Kind::stopped:
                    link.setServerState({ServerState::Kind::off, {}});
                    break;
            }
        });
    };
    server_->onConnection = [self](std::shared_ptr<LinkConnection> connection) {
        onMainThread(self, [connection](StudioLink& link) { link.accept(connection); });
    };
    server_->start();
}

void StudioLink::accept(std::shared_ptr<LinkConnection> connection) {
    const Uuid id = connection->id();
    auto peer = std::make_shared<Peer>(std::make_shared<ConnectionLink>(connection), codeBox_,
                                       studioName_, store_.photogrammetrySupported(),
                                       store_.jobsRoot(), studioAppVersion());
    peers_[id] = {connection, peer};
    // Small frames only until the phone has shown the pairing code.
    connection->setMaxBody(Peer::unpairedMaxBody);
    const QPointer<StudioLink> self(this);
    const std::weak_ptr<Peer> weakPeer = peer;
    peer->onEvent = [self, id, weakPeer](const Peer::Event& event) {
        onMainThread(self, [id, weakPeer, event](StudioLink& link) {
            if (weakPeer.lock()) link.handleEvent(id, event);
        });
    };
    connection->onStateChange = [self, id](const LinkConnection::State& state) {
        if (!state.isFinal()) return;
        onMainThread(self, [id](StudioLink& link) { link.disconnect(id); });
    };
    connection->onMessage = [weakPeer](link::Frame frame) {
        if (auto peer = weakPeer.lock()) peer->handle(frame);
    };
    connection->start();
}

void StudioLink::disconnect(const Uuid& connectionID) {
    auto found = peers_.find(connectionID);
    if (found == peers_.end()) return;
    auto [connection, peer] = found->second;
    peer->onEvent = nullptr;
    connection->onMessage = nullptr;
    connection->onStateChange = nullptr;
    peers_.erase(found);
    if (std::erase_if(devices_, [&](const Device& d) { return d.id == connectionID; }) > 0) {
        emit devicesChanged();
    }
    // Uploads cut short wait for their phone; it resumes them with the same capture.
    for (const Uuid& captureID : peer->uploads()) {
        const StudioJob* job = store_.job(captureID);
        if (job && job->phase == JobPhase::receiving) store_.markWaitingForPhone(captureID);
    }
}

void StudioLink::handleEvent(const Uuid& connectionID, const Peer::Event& event) {
    auto found = peers_.find(connectionID);
    if (found == peers_.end()) return;
    const Connected connected = found->second;
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, Peer::Paired>) {
                std::erase_if(devices_, [&](const Device& d) { return d.id == connectionID; });
                devices_.push_back(
                    {connectionID, e.name, connected.connection->endpointDescription()});
                emit devicesChanged();
            } else if constexpr (std::is_same_v<E, Peer::BeginUpload>) {
                store_.beginUpload(e.manifest, e.deviceName, e.existingFiles);
            } else if constexpr (std::is_same_v<E, Peer::FileWritten>) {
                store_.fileWritten(e.captureID);
            } else if constexpr (std::is_same_v<E, Peer::EndUpload>) {
                auto missing = store_.endUpload(e.captureID);
                connected.connection->send(
                    link::msg::UploadFinished{e.captureID, std::move(missing)});
            } else if constexpr (std::is_same_v<E, Peer::RequestStatus>) {
                for (const Uuid& id : e.captureIDs) sendStatus(*connected.peer, id);
            } else if constexpr (std::is_same_v<E, Peer::RequestModel>) {
                deliverModel(connectionID, e.captureID, connected.peer->preferredFormat());
            } else if constexpr (std::is_same_v<E, Peer::CancelJob>) {
                store_.stop(e.captureID);
            }
        },
        event);
}

void StudioLink::sendStatus(Peer& peer, const Uuid& captureID) {
    const StudioJob* job = store_.job(captureID);
    link::JobStatus status;
    if (job) {
        status = job->status();
    } else {
        status.captureID = captureID;
        status.phase = JobPhase::failed;
        status.fraction = 0;
        status.message = "This computer does not have that capture.";
    }
    peer.connection().send(link::msg::Status{status});
}

void StudioLink::pushStatus(const link::JobStatus& status) {
    for (auto& [id, connected] : peers_) {
        if (connected.peer->paired()) connected.connection->send(link::msg::Status{status});
    }
}

void StudioLink::deliverModel(const Uuid& connectionID, const Uuid& captureID,
                              const std::string& format) {
    const auto connection = peers_.at(connectionID).connection;
    const StudioJob* job = store_.job(captureID);
    if (!job || job->phase != JobPhase::finished) {
        connection->send(link::msg::Error{captureID, "The model is not ready yet."});
        return;
    }
    const fs::path output = StudioJob::outputFolder(store_.jobsRoot(), captureID);
    std::error_code error;
    const bool hasGlb = fs::exists(output / "model.glb", error);
    fs::path file = output / "model.usdz";
    if (format == "glb") {
        if (!hasGlb) {
            connection->send(link::msg::Error{captureID,
                                              "This model was made for iPhone. Use Build Again on "
                                              "this phone for an Android copy."});
            return;
        }
        file = output / "model.glb";
    }
    // Only the mapping touches the disk; the chunks then go from the connection's strand.
    QThreadPool::globalInstance()->start([connection, captureID, file] {
        auto mapped = common::readFile(file, std::uint64_t{1} << 40);
        if (!mapped) {
            connection->send(
                link::msg::Error{captureID, "Could not send the model: " + mapped.error().reason});
            return;
        }
        std::make_shared<Delivery>(connection, captureID, std::move(mapped.value()))->sendNext();
    });
}

void StudioLink::sweep() {
    const auto now = std::chrono::system_clock::now();
    for (auto& [id, connected] : peers_) {
        if (now - connected.peer->lastSeen() > silenceLimit_) connected.connection->cancel();
    }
}

void StudioLink::newPairingCode() {
    const std::string code = makePairingCode();
    if (pairingCode_ != code) {
        pairingCode_ = code;
        emit pairingCodeChanged();
    }
    codeBox_->reset(code);
    preferences_.setValue("pairingCode", QString::fromStdString(code));
    for (auto& [id, connected] : peers_) connected.connection->cancel();
}

}  // namespace pelorin::studio
