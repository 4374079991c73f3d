#include "link/discovery/host_name.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "link/discovery/avahi_session.h"

namespace pelorin::link {

std::optional<std::string> publishedHostName() {
    auto session = AvahiSession::open(nullptr);
    if (!session) return std::nullopt;
    AvahiSession::Lock lock(**session);
    const char* name = avahi_client_get_host_name_fqdn((*session)->client());
    if (!name || !*name) return std::nullopt;
    return std::string(name);
}

std::optional<std::string> resolveThroughDaemon(const std::string& host, int seconds) {
    auto session = AvahiSession::open(nullptr);
    if (!session) return std::nullopt;
    struct Answer {
        std::mutex lock;
        std::condition_variable arrived;
        bool done = false;
        std::optional<std::string> address;
    } answer;
    AvahiHostNameResolver* resolver = nullptr;
    {
        AvahiSession::Lock lock(**session);
        resolver = avahi_host_name_resolver_new(
            (*session)->client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, host.c_str(), AVAHI_PROTO_INET,
            AvahiLookupFlags(0),
            [](AvahiHostNameResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
               const char*, const AvahiAddress* address, AvahiLookupResultFlags, void* context) {
                auto* answer = static_cast<Answer*>(context);
                std::lock_guard guard(answer->lock);
                if (event == AVAHI_RESOLVER_FOUND && address) {
                    char text[AVAHI_ADDRESS_STR_MAX] = {};
                    avahi_address_snprint(text, sizeof text, address);
                    answer->address = text;
                }
                answer->done = true;
                answer->arrived.notify_all();
            },
            &answer);
    }
    if (!resolver) return std::nullopt;
    std::optional<std::string> found;
    {
        std::unique_lock guard(answer.lock);
        answer.arrived.wait_for(guard, std::chrono::seconds(seconds), [&] { return answer.done; });
        found = answer.address;
    }
    AvahiSession::Lock lock(**session);
    avahi_host_name_resolver_free(resolver);
    return found;
}

std::optional<std::string> firstInterfaceAddress() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (const ifaddrs* entry = interfaces; entry && !found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) found = text;
    }
    freeifaddrs(interfaces);
    return found;
}

std::string networkHostName() {
    // "localhost" reaches the phone itself, never this computer.
    if (auto published = publishedHostName();
        published && *published != "localhost" && !published->starts_with("localhost."))
        return *published;
    return firstInterfaceAddress().value_or(std::string());
}

}  // namespace pelorin::link
