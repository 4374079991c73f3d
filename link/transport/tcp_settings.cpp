#include "link/transport/tcp_settings.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace pelorin::link::TcpSettings {

void apply(asio::ip::tcp::socket& socket) {
    std::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    socket.set_option(asio::socket_base::keep_alive(true), ignored);
    const int handle = socket.native_handle();
    const int values[3] = {keepAliveIdleSeconds, keepAliveIntervalSeconds, keepAliveProbes};
    const int names[3] = {TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT};
    for (int i = 0; i < 3; ++i) {
        ::setsockopt(handle, IPPROTO_TCP, names[i], &values[i], sizeof values[i]);
    }
}

}  // namespace pelorin::link::TcpSettings
