#include "link/discovery/service_advertiser.h"

#include <string>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include "link/discovery/avahi_session.h"
#include "link/frames/link_constants.h"

namespace pelorin::link {

std::string advertisementFailure(const std::string& reason) {
    return "Phones cannot find this computer on the network: " + reason;
}

struct ServiceAdvertiser::Impl {
    std::string name;
    const std::uint16_t port;
    const Handler handler;
    std::unique_ptr<AvahiSession> session;
    AvahiEntryGroup* group = nullptr;  // event thread only, once the session is open

    Impl(std::string name, std::uint16_t port, Handler handler)
        : name(std::move(name)), port(port), handler(std::move(handler)) {}

    void fail(const std::string& reason) {
        handler({Event::Kind::failed, advertisementFailure(reason)});
    }

    void clientChanged(AvahiClient* client, int state) {
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                publish(client);
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The host itself is being renamed; publish again once it runs.
                if (group) avahi_entry_group_reset(group);
                break;
            case AVAHI_CLIENT_FAILURE:
                fail(avahiErrorText(avahi_client_errno(client)));
                break;
            default:
                break;
        }
    }

    void publish(AvahiClient* client) {
        if (!group) {
            group = avahi_entry_group_new(
                client,
                [](AvahiEntryGroup* g, AvahiEntryGroupState state, void* context) {
                    static_cast<Impl*>(context)->groupChanged(g, state);
                },
                this);
            if (!group) return fail(avahiErrorText(avahi_client_errno(client)));
        }
        if (!avahi_entry_group_is_empty(group)) return;
        const std::string type(LinkConstants::serviceType);
        for (;;) {
            // No TXT strings: the list ends at once.
            const int error = avahi_entry_group_add_service(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name.c_str(),
                type.c_str(), nullptr, nullptr, port, static_cast<const char*>(nullptr));
            if (error == AVAHI_ERR_COLLISION) {
                rename();
                continue;
            }
            if (error < 0) return fail(avahiErrorText(error));
            break;
        }
        if (const int error = avahi_entry_group_commit(group); error < 0) {
            fail(avahiErrorText(error));
        }
    }

    void groupChanged(AvahiEntryGroup* g, AvahiEntryGroupState state) {
        group = g;
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                handler({Event::Kind::registered, name});
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                rename();
                avahi_entry_group_reset(g);
                publish(avahi_entry_group_get_client(g));
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                fail(avahiErrorText(avahi_client_errno(avahi_entry_group_get_client(g))));
                break;
            default:
                break;
        }
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(name.c_str());
        name = alternative;
        avahi_free(alternative);
    }
};

ServiceAdvertiser::ServiceAdvertiser(std::string name, std::uint16_t port, Handler handler)
    : impl_(std::make_unique<Impl>(std::move(name), port, std::move(handler))) {
    auto session = AvahiSession::open([impl = impl_.get()](AvahiClient* client, int state) {
        impl->clientChanged(client, state);
    });
    if (!session) {
        impl_->fail(session.error());
        return;
    }
    impl_->session = std::move(session.value());
}

ServiceAdvertiser::~ServiceAdvertiser() {
    // Stopping the session's thread first means no callback can see the group half freed;
    // freeing the client then withdraws the group with it.
    impl_->session.reset();
}

}  // namespace pelorin::link
