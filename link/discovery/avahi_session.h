#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/expected.h"

struct AvahiClient;
struct AvahiThreadedPoll;

namespace pelorin::link {

// One connection to the system's DNS-SD daemon, with the event thread that runs its callbacks.
// Opening it never waits for a daemon that is not there: without one, or without the system
// bus, it fails at once.
class AvahiSession {
  public:
    // Called on the event thread (and, during open, on the opening thread) when the daemon
    // connection changes; the int is an AvahiClientState.
    using StateHandler = std::function<void(AvahiClient*, int state)>;

    // The failure text is the daemon library's description of the error.
    static Expected<std::unique_ptr<AvahiSession>, std::string> open(StateHandler handler);

    // Stops the event thread first, so no callback runs once it returns. Must not be called
    // from a callback.
    ~AvahiSession();
    AvahiSession(const AvahiSession&) = delete;
    AvahiSession& operator=(const AvahiSession&) = delete;

    AvahiClient* client() const { return client_; }
    // The description of the client's last error.
    std::string lastError() const;

    // Holds off the event thread, for calls into the daemon library from other threads.
    class Lock {
      public:
        explicit Lock(const AvahiSession& session);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        AvahiThreadedPoll* poll_;
    };

  private:
    AvahiSession() = default;
    static void onClientState(AvahiClient* client, int state, void* context);

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    StateHandler handler_;
    bool opened_ = false;
};

// The daemon library's description of an error number.
std::string avahiErrorText(int error);

}  // namespace pelorin::link
