#pragma once

#include <QObject>
#include <QTimer>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/discovery/pairing_link.h"
#include "link/security/secure_link.h"
#include "studio/core/phone/code_box.h"
#include "studio/core/phone/peer.h"

class QSettings;

namespace pelorin::link {
class LinkConnection;
class LinkRuntime;
class LinkServer;
}  // namespace pelorin::link

namespace pelorin::studio {

class JobStore;

// The desktop's side of the phone protocol: identity, pairing code, the listening server and
// one peer per connection; routes the peers' events to the job store and every status change
// back to the paired phones. Lives on the main thread; everything from the network arrives as
// a queued call.
class StudioLink : public QObject {
    Q_OBJECT

  public:
    struct ServerState {
        enum class Kind { failed, off, starting, listening };
        Kind kind = Kind::off;
        std::string text;  // failed
        bool operator==(const ServerState&) const = default;
    };
    struct Device {
        Uuid id;
        std::string name;
        std::string address;
        bool operator==(const Device&) const = default;
    };

    static constexpr std::chrono::seconds sweepInterval{10};
    static constexpr std::chrono::seconds silenceLimit{30};
    static constexpr std::size_t chunkBytes = 1'048'576;

    // Loads or creates the identity beside the store's jobs folder and chooses the pairing
    // code; does not open the network.
    StudioLink(JobStore& store, link::LinkRuntime& runtime, QSettings& preferences,
               QObject* parent = nullptr);
    ~StudioLink() override;

    // Begins listening, once.
    void start();
    // A new pairing code; every phone is disconnected.
    void newPairingCode();

    const ServerState& serverState() const { return serverState_; }
    const std::vector<Device>& devices() const { return devices_; }
    const std::string& pairingCode() const { return pairingCode_; }
    std::optional<std::uint16_t> port() const { return port_; }
    const std::string& studioName() const { return studioName_; }
    std::optional<std::string> fingerprint() const;
    link::PairingLink pairingLink() const;

    // For tests: how often silent connections are looked for, and after how long they close.
    void setSweep(std::chrono::milliseconds interval, std::chrono::milliseconds silence);

  signals:
    void serverStateChanged();
    void devicesChanged();
    void pairingCodeChanged();
    void portChanged();

  private:
    void setServerState(ServerState state);
    void setPort(std::optional<std::uint16_t> port);
    void accept(std::shared_ptr<link::LinkConnection> connection);
    void disconnect(const Uuid& connectionID);
    void handleEvent(const Uuid& connectionID, const Peer::Event& event);
    void pushStatus(const link::JobStatus& status);
    void sendStatus(Peer& peer, const Uuid& captureID);
    void deliverModel(const Uuid& connectionID, const Uuid& captureID, const std::string& format);
    void sweep();

    struct Connected {
        std::shared_ptr<link::LinkConnection> connection;
        std::shared_ptr<Peer> peer;
    };

    JobStore& store_;
    link::LinkRuntime& runtime_;
    QSettings& preferences_;
    ServerState serverState_;
    std::vector<Device> devices_;
    std::string pairingCode_;
    std::optional<std::uint16_t> port_;
    std::string hostName_;
    std::optional<link::SecureLink::Identity> identity_;
    std::string studioName_;
    std::shared_ptr<link::LinkServer> server_;
    std::map<Uuid, Connected> peers_;
    std::shared_ptr<CodeBox> codeBox_;
    QTimer sweeper_;
    std::chrono::milliseconds silenceLimit_ = silenceLimit;
};

std::string computerName();

// The desktop app's version as phones see it: short version and build number.
std::string studioAppVersion();

}  // namespace pelorin::studio
