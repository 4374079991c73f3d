#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelorin::link {

// Publishes one DNS-SD service of type LinkConstants::serviceType under a name, with no TXT
// data, for as long as it exists. A name taken by another host is replaced by the daemon's
// alternative ("Name #2") and registered again.
class ServiceAdvertiser {
  public:
    struct Event {
        enum class Kind { registered, failed };
        Kind kind;
        // registered: the name now in use; failed: why the service is not advertised.
        std::string text;
        bool operator==(const Event&) const = default;
    };
    // Called on the daemon library's event thread, or on the constructing thread when the
    // daemon cannot be reached at all. It must not destroy the advertiser.
    using Handler = std::function<void(const Event&)>;

    ServiceAdvertiser(std::string name, std::uint16_t port, Handler handler);
    // Withdraws the service. Must not be called from the handler.
    ~ServiceAdvertiser();
    ServiceAdvertiser(const ServiceAdvertiser&) = delete;
    ServiceAdvertiser& operator=(const ServiceAdvertiser&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The sentence for an advertisement that failed, followed by ": " and the daemon's reason.
std::string advertisementFailure(const std::string& reason);

}  // namespace pelorin::link
