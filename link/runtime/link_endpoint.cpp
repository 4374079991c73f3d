#include "link/runtime/link_endpoint.h"

namespace pelorin::link {

namespace {

std::string hostAndPort(const std::string& host, std::uint16_t port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::string Endpoint::description() const {
    return hostAndPort(host, port);
}

std::string describe(const asio::ip::tcp::endpoint& endpoint) {
    asio::ip::address address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return hostAndPort(address.to_string(), endpoint.port());
}

}  // namespace pelorin::link
