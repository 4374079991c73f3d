#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/runtime/callback_slot.h"
#include "link/runtime/link_endpoint.h"
#include "link/runtime/link_runtime.h"

namespace pelorin::link {

// One desktop found on the network: its advertised name and the address it resolved to.
struct DiscoveredStudio {
    std::string name;
    Endpoint endpoint;

    bool operator==(const DiscoveredStudio&) const = default;
};

// One browse result before it is listed: a studio is seen once per interface and IP protocol.
struct SeenService {
    int interface = 0;
    bool ipv4 = true;
    std::string name;
    std::string domain;
    DiscoveredStudio studio;
};

// One studio per service name and domain, whatever the interfaces and protocols it was seen
// on (Wi-Fi and Ethernet, IPv4 and IPv6): the IPv4 address on the lowest interface when it has
// one.
std::vector<DiscoveredStudio> onePerService(const std::vector<SeenService>& seen);

// Orders studios by name as people expect: case-insensitively, in the user's locale. Ties
// keep a fixed order so that an unchanged set gives an unchanged list.
void sortByName(std::vector<DiscoveredStudio>& studios);

// Finds desktops advertising LinkConstants::serviceType in the default domain. Events run on
// its strand "pelorinlink.browser"; dropping the browser stops it and no callback runs after.
class LinkBrowser {
  public:
    struct State {
        enum class Kind { searching, ready, failed, stopped };
        Kind kind = Kind::searching;
        std::string text;  // failed: the daemon's description of the problem

        static State searching() { return {Kind::searching, {}}; }
        static State ready() { return {Kind::ready, {}}; }
        static State failed(std::string why) { return {Kind::failed, std::move(why)}; }
        static State stopped() { return {Kind::stopped, {}}; }

        bool operator==(const State&) const = default;
    };

    static std::shared_ptr<LinkBrowser> create(LinkRuntime& runtime);
    ~LinkBrowser();
    LinkBrowser(const LinkBrowser&) = delete;
    LinkBrowser& operator=(const LinkBrowser&) = delete;

    // The whole current set, sorted by name, each time it changes. A service is listed once
    // its address is resolved.
    CallbackSlot<const std::vector<DiscoveredStudio>&> onResults;
    // searching (on the thread that calls start), then ready or failed; stopped after stop.
    CallbackSlot<const State&> onStateChange;

    void start();
    void stop();

    struct Core;

  private:
    explicit LinkBrowser(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
};

}  // namespace pelorin::link
