#include "link/discovery/link_browser.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <asio.hpp>

#include "link/discovery/avahi_session.h"
#include "link/frames/link_constants.h"

namespace pelorin::link {

namespace {

// Case-insensitive but accent-aware, in the user's locale. The C locale would give ICU's
// POSIX collation, which puts every capital before every small letter; the root collation
// stands in for it.
class NameCollator {
  public:
    NameCollator() {
        UErrorCode status = U_ZERO_ERROR;
        const std::string_view locale = uloc_getDefault();
        collator_ = ucol_open(locale == "en_US_POSIX" ? "" : locale.data(), &status);
        if (U_FAILURE(status)) {
            collator_ = nullptr;
            return;
        }
        ucol_setStrength(collator_, UCOL_SECONDARY);
    }
    ~NameCollator() {
        if (collator_) ucol_close(collator_);
    }
    NameCollator(const NameCollator&) = delete;
    NameCollator& operator=(const NameCollator&) = delete;

    int compare(const std::string& a, const std::string& b) const {
        if (!collator_) return a.compare(b);
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result =
            ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(),
                             static_cast<int32_t>(b.size()), &status);
        if (U_FAILURE(status)) return a.compare(b);
        return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
    }

  private:
    UCollator* collator_ = nullptr;
};

std::string addressText(const AvahiAddress& address, AvahiIfIndex interface) {
    char text[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(text, sizeof text, &address);
    std::string host = text;
    // A link-local IPv6 address is only usable with its interface.
    if (address.proto == AVAHI_PROTO_INET6 && host.rfind("fe80:", 0) == 0) {
        host += "%" + std::to_string(interface);
    }
    return host;
}

}  // namespace

void sortByName(std::vector<DiscoveredStudio>& studios) {
    const NameCollator collator;
    std::sort(studios.begin(), studios.end(), [&](const auto& a, const auto& b) {
        if (const int order = collator.compare(a.name, b.name); order != 0) return order < 0;
        return std::tie(a.name, a.endpoint.host, a.endpoint.port) <
               std::tie(b.name, b.endpoint.host, b.endpoint.port);
    });
}

std::vector<DiscoveredStudio> onePerService(const std::vector<SeenService>& seen) {
    // IPv4 first, then the lowest interface: a fixed choice, so an unchanged set gives an
    // unchanged list.
    auto better = [](const SeenService& a, const SeenService& b) {
        if (a.ipv4 != b.ipv4) return a.ipv4;
        return a.interface < b.interface;
    };
    std::map<std::pair<std::string, std::string>, const SeenService*> chosen;
    for (const auto& service : seen) {
        auto& best = chosen[{service.name, service.domain}];
        if (!best || better(service, *best)) best = &service;
    }
    std::vector<DiscoveredStudio> studios;
    for (const auto& [name, service] : chosen) studios.push_back(service->studio);
    return studios;
}

struct LinkBrowser::Core : std::enable_shared_from_this<Core> {
    // One browse result: where it was seen and under which name.
    using Key = std::tuple<AvahiIfIndex, AvahiProtocol, std::string, std::string>;

    explicit Core(asio::io_context& context) : strand(asio::make_strand(context)) {}

    asio::strand<asio::io_context::executor_type> strand;
    std::weak_ptr<LinkBrowser> owner;
    std::atomic<bool> started{false};

    // Strand only.
    // The session's event thread posts to the strand, so it must be gone before the runtime
    // is: the owner's destructor ends it at once rather than through the strand.
    std::mutex sessionMutex;
    std::unique_ptr<AvahiSession> session;  // under sessionMutex
    bool browsing = true;                   // under sessionMutex
    bool stopped = false;

    // The daemon's event thread only.
    AvahiServiceBrowser* browser = nullptr;
    std::map<Key, AvahiServiceResolver*> resolving;
    std::map<Key, DiscoveredStudio> found;

    template <class F>
    void post(F&& f) {
        asio::post(strand, std::forward<F>(f));
    }

    // From the event thread to the strand. The event thread never holds a strong reference:
    // were it the last one, the core (and with it the session's own thread) would be freed
    // from that very thread.
    template <class F>
    void fromEventThread(F&& f) {
        asio::post(strand, [weak = weak_from_this(), f = std::forward<F>(f)] {
            if (auto self = weak.lock(); self && !self->stopped) f(*self);
        });
    }

    void emit(State state) {
        fromEventThread([state = std::move(state)](Core& self) { self.report(state); });
    }

    void report(const State& state) {
        if (auto browser = owner.lock()) browser->onStateChange(state);
    }

    void begin() {
        if (stopped) return;
        // Reported only once the lock is let go: the owner may be released from its callback.
        std::optional<State> failure;
        {
            std::lock_guard guard(sessionMutex);
            if (!browsing) return;
            auto opened = AvahiSession::open([this](AvahiClient* client, int state) {
                if (state == AVAHI_CLIENT_FAILURE) {
                    emit(State::failed(avahiErrorText(avahi_client_errno(client))));
                }
            });
            if (!opened) {
                failure = State::failed(opened.error());
            } else {
                session = std::move(opened.value());
                AvahiSession::Lock lock(*session);
                const std::string type(LinkConstants::serviceType);
                browser = avahi_service_browser_new(
                    session->client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.c_str(), nullptr,
                    AvahiLookupFlags(0),
                    [](AvahiServiceBrowser* b, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type,
                       const char* domain, AvahiLookupResultFlags, void* context) {
                        static_cast<Core*>(context)->browsed(avahi_service_browser_get_client(b),
                                                             interface, protocol, event, name, type,
                                                             domain);
                    },
                    this);
                if (!browser) failure = State::failed(session->lastError());
            }
        }
        report(failure.value_or(State::ready()));
    }

    // The event thread only: it never reads `session`, which the owner may be closing.
    void browsed(AvahiClient* client, AvahiIfIndex interface, AvahiProtocol protocol,
                 AvahiBrowserEvent event, const char* name, const char* type, const char* domain) {
        switch (event) {
            case AVAHI_BROWSER_NEW: {
                const Key key{interface, protocol, name, domain};
                if (resolving.count(key)) return;
                auto* resolver = avahi_service_resolver_new(
                    client, interface, protocol, name, type, domain, protocol, AvahiLookupFlags(0),
                    [](AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiResolverEvent event, const char* name, const char*, const char* domain,
                       const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                       AvahiLookupResultFlags, void* context) {
                        static_cast<Core*>(context)->resolved({interface, protocol, name, domain},
                                                              event, address, port);
                    },
                    this);
                if (resolver) resolving[key] = resolver;
                break;
            }
            case AVAHI_BROWSER_REMOVE: {
                const Key key{interface, protocol, name, domain};
                if (auto it = resolving.find(key); it != resolving.end()) {
                    avahi_service_resolver_free(it->second);
                    resolving.erase(it);
                }
                if (found.erase(key)) publish();
                break;
            }
            case AVAHI_BROWSER_FAILURE:
                emit(State::failed(avahiErrorText(avahi_client_errno(client))));
                break;
            default:
                break;
        }
    }

    void resolved(const Key& key, AvahiResolverEvent event, const AvahiAddress* address,
                  std::uint16_t port) {
        // The resolver stays alive while the service is listed, so that address changes reach
        // the list too.
        if (event != AVAHI_RESOLVER_FOUND || !address) {
            if (found.erase(key)) publish();
            return;
        }
        found[key] = {std::get<2>(key), {addressText(*address, std::get<0>(key)), port}};
        publish();
    }

    void publish() {
        std::vector<SeenService> seen;
        for (const auto& [key, studio] : found) {
            const auto& [interface, protocol, name, domain] = key;
            seen.push_back({interface, protocol == AVAHI_PROTO_INET, name, domain, studio});
        }
        std::vector<DiscoveredStudio> studios = onePerService(seen);
        sortByName(studios);
        fromEventThread([studios = std::move(studios)](Core& self) {
            if (auto browser = self.owner.lock()) browser->onResults(studios);
        });
    }

    // Any thread but the session's own. Stops the event thread; freeing the client frees the
    // browser and resolvers with it.
    void closeSession() {
        std::lock_guard guard(sessionMutex);
        browsing = false;
        session.reset();
    }

    void stop(bool reporting) {
        if (stopped) return;
        if (reporting) report(State::stopped());
        stopped = true;
        closeSession();
        browser = nullptr;
        resolving.clear();
        found.clear();
    }
};

std::shared_ptr<LinkBrowser> LinkBrowser::create(LinkRuntime& runtime) {
    auto core = std::make_shared<Core>(runtime.context());
    std::shared_ptr<LinkBrowser> browser(new LinkBrowser(core));
    core->owner = browser;
    return browser;
}

LinkBrowser::LinkBrowser(std::shared_ptr<Core> core) : core_(std::move(core)) {}

LinkBrowser::~LinkBrowser() {
    core_->closeSession();
    core_->post([core = core_] { core->stop(false); });
}

void LinkBrowser::start() {
    if (core_->started.exchange(true)) return;
    onStateChange(State::searching());
    core_->post([core = core_] { core->begin(); });
}

void LinkBrowser::stop() {
    core_->post([core = core_] { core->stop(true); });
}

}  // namespace pelorin::link
