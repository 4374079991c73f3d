#include "link/discovery/avahi_session.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

namespace pelorin::link {

std::string avahiErrorText(int error) {
    return avahi_strerror(error);
}

Expected<std::unique_ptr<AvahiSession>, std::string> AvahiSession::open(StateHandler handler) {
    std::unique_ptr<AvahiSession> session(new AvahiSession());
    session->handler_ = std::move(handler);
    session->poll_ = avahi_threaded_poll_new();
    if (!session->poll_) return unexpected(avahiErrorText(AVAHI_ERR_NO_MEMORY));
    int error = 0;
    // Without AVAHI_CLIENT_NO_FAIL the library answers at once when there is no daemon.
    session->client_ = avahi_client_new(
        avahi_threaded_poll_get(session->poll_), AvahiClientFlags(0),
        [](AvahiClient* client, AvahiClientState state, void* context) {
            onClientState(client, state, context);
        },
        session.get(), &error);
    if (!session->client_) return unexpected(avahiErrorText(error));
    session->opened_ = true;
    if (avahi_threaded_poll_start(session->poll_) < 0) {
        return unexpected(avahiErrorText(AVAHI_ERR_FAILURE));
    }
    return session;
}

void AvahiSession::onClientState(AvahiClient* client, int state, void* context) {
    auto* session = static_cast<AvahiSession*>(context);
    // A failure while opening is what open itself returns.
    if (!session->opened_ && state == AVAHI_CLIENT_FAILURE) return;
    if (session->handler_) session->handler_(client, state);
}

AvahiSession::~AvahiSession() {
    if (poll_) avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);
    if (poll_) avahi_threaded_poll_free(poll_);
}

std::string AvahiSession::lastError() const {
    return avahiErrorText(client_ ? avahi_client_errno(client_) : AVAHI_ERR_DISCONNECTED);
}

AvahiSession::Lock::Lock(const AvahiSession& session) : poll_(session.poll_) {
    avahi_threaded_poll_lock(poll_);
}

AvahiSession::Lock::~Lock() {
    avahi_threaded_poll_unlock(poll_);
}

}  // namespace pelorin::link
