#pragma once

#include <optional>
#include <string>

namespace pelorin::link {

// The name a phone can reach this computer by, for the pairing link: the name the DNS-SD
// daemon publishes for it ("mybox.local") when a daemon runs, else the first IPv4 address of
// an interface that is up and not a loopback. Empty when there is neither.
std::string networkHostName();

// The daemon's fully qualified name for this host; nothing without a daemon.
std::optional<std::string> publishedHostName();

// The address of a ".local" name as the DNS-SD daemon resolves it, for a computer whose own
// resolver does not look there; nothing without a daemon, an answer, or within `seconds`.
std::optional<std::string> resolveThroughDaemon(const std::string& host, int seconds = 5);

// The first IPv4 address, as text, of an interface that is up and not a loopback.
std::optional<std::string> firstInterfaceAddress();

}  // namespace pelorin::link
