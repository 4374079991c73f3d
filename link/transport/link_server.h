#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/expected.h"
#include "link/runtime/callback_slot.h"
#include "link/runtime/link_runtime.h"
#include "link/security/secure_link.h"
#include "link/transport/link_connection.h"

namespace pelorin::link {

// The desktop's listening endpoint: accepts phones, wraps each in a server-role connection and
// advertises itself over DNS-SD. Events run on its strand "pelorinlink.server"; nothing inside
// holds the server strongly, so dropping it closes the listener and withdraws the
// advertisement.
class LinkServer {
  public:
    struct State {
        enum class Kind { starting, ready, failed, stopped };
        Kind kind = Kind::starting;
        std::uint16_t port = 0;  // ready
        std::string text;        // failed

        static State starting() { return {Kind::starting, 0, {}}; }
        static State ready(std::uint16_t port) { return {Kind::ready, port, {}}; }
        static State failed(std::string why) { return {Kind::failed, 0, std::move(why)}; }
        static State stopped() { return {Kind::stopped, 0, {}}; }

        bool operator==(const State&) const = default;
    };

    // Listens on the port, or on one the system chooses, on every interface. Fails with the
    // system's description when it cannot listen. Without a name (or with an empty one) the
    // server is not advertised.
    static Expected<std::shared_ptr<LinkServer>, std::string> create(
        LinkRuntime& runtime, std::optional<std::string> name, std::optional<std::uint16_t> port,
        SecureLink::Identity identity);

    ~LinkServer();
    LinkServer(const LinkServer&) = delete;
    LinkServer& operator=(const LinkServer&) = delete;

    // Every accepted connection, not yet started. While unset, arrivals are closed at once.
    CallbackSlot<std::shared_ptr<LinkConnection>> onConnection;
    // starting (on the thread that calls start), then ready with the port. An advertisement
    // that cannot be made is reported as failed with its reason while the listener keeps
    // accepting (phones can still connect by address); stop leads to one stopped.
    CallbackSlot<const State&> onStateChange;

    void start();
    void stop();

    // The listening port; nothing once stopped.
    std::optional<std::uint16_t> port() const;
    // The name the advertisement is registered under, which differs from the one asked for
    // after a collision; nothing until the daemon confirms it.
    std::optional<std::string> advertisedName() const;

    struct Core;

  private:
    explicit LinkServer(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};

}  // namespace pelorin::link
