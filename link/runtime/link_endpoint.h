#pragma once

#include <cstdint>
#include <string>

#include <asio/ip/tcp.hpp>

namespace pelorin::link {

// Where a phone connects: a host name or literal address and a TCP port. The browser fills it
// with the address a discovered studio resolved to.
struct Endpoint {
    std::string host;
    std::uint16_t port = 0;

    // "host:port", with IPv6 addresses in brackets.
    std::string description() const;

    bool operator==(const Endpoint&) const = default;
};

// The text form of a socket's endpoint; IPv4 peers reached through a dual-stack listener are
// shown as plain IPv4 addresses.
std::string describe(const asio::ip::tcp::endpoint& endpoint);

}  // namespace pelorin::link
