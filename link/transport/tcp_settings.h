#pragma once

#include <chrono>

#include <asio/ip/tcp.hpp>

// The TCP parameters that both roles and the listener share.
namespace pelorin::link::TcpSettings {

// A dead peer is noticed after 5 s of silence plus 4 unanswered probes 2 s apart.
inline constexpr int keepAliveIdleSeconds = 5;
inline constexpr int keepAliveIntervalSeconds = 2;
inline constexpr int keepAliveProbes = 4;
inline constexpr std::chrono::seconds connectTimeout{8};
// The most taken from the socket in one receive.
inline constexpr std::size_t maxReceiveBytes = 4 * 1024 * 1024;

// Keep-alive as above and no-delay. Failures are ignored: the link works without them.
void apply(asio::ip::tcp::socket& socket);

}  // namespace pelorin::link::TcpSettings
