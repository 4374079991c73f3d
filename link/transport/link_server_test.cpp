#include "link/transport/link_server.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "link/discovery/link_browser.h"
#include "tests/support/link_pair.h"

namespace pelorin::link {

void PrintTo(const LinkServer::State& state, std::ostream* out) {
    static const char* const names[] = {"starting", "ready", "failed", "stopped"};
    *out << names[static_cast<int>(state.kind)] << "(" << state.port << ", \"" << state.text
         << "\")";
}

namespace {

using namespace testing;
using ServerState = LinkServer::State;

class LinkServerTest : public ::testing::Test {
  protected:
    LinkRuntime runtime;
    SecureLink::Identity identity = newIdentity();
};

TEST_F(LinkServerTest, UnadvertisedServerOnASystemChosenPortServesPhones) {
    auto created = LinkServer::create(runtime, std::nullopt, std::nullopt, identity);
    ASSERT_TRUE(created) << created.error();
    auto server = created.value();
    auto log = watch(*server);
    server->start();
    ASSERT_TRUE(log->states.waitForSize(2));
    const auto port = server->port();
    ASSERT_TRUE(port);
    EXPECT_NE(*port, 0);
    EXPECT_EQ(log->states.values(),
              (std::vector{ServerState::starting(), ServerState::ready(*port)}));

    auto phone = LinkConnection::client(runtime, {"127.0.0.1", *port}, identity.fingerprint());
    auto phoneLog = record(*phone);
    phone->start();
    phone->send(msg::Ping{});
    ASSERT_TRUE(log->connections.waitForSize(1));
    auto desktopSide = log->connections.values()[0];
    ASSERT_TRUE(desktopSide->waitForFrames(1));
    EXPECT_EQ(desktopSide->frames()[0], (Frame{msg::Ping{}, {}}));
    EXPECT_EQ(kinds(phoneLog->states()), (std::vector{Kind::connecting, Kind::ready}));
    EXPECT_FALSE(server->advertisedName());
}

TEST_F(LinkServerTest, GivenPortIsUsedAndABusyPortFailsCreation) {
    std::uint16_t chosen;
    {
        RawListener probe(runtime.context());
        chosen = probe.port();
    }
    auto first = LinkServer::create(runtime, std::nullopt, chosen, identity);
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(first.value()->port(), chosen);
    auto log = watch(*first.value());
    first.value()->start();
    ASSERT_TRUE(log->states.waitForSize(2));
    EXPECT_EQ(log->states.values()[1], ServerState::ready(chosen));

    auto second = LinkServer::create(runtime, std::nullopt, chosen, identity);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), "Address already in use");
}

TEST_F(LinkServerTest, ArrivalsWithoutAConnectionHandlerAreDropped) {
    auto server = LinkServer::create(runtime, std::nullopt, std::nullopt, identity).value();
    auto log = watch(*server, false);
    server->start();
    ASSERT_TRUE(log->states.waitForSize(2));
    auto phone = connectTo(runtime.context(), *server->port());
    EXPECT_TRUE(readsEndOfStream(phone));
}

TEST_F(LinkServerTest, StopReportsStoppedOnceAndKeepsHandedOutConnections) {
    auto server = LinkServer::create(runtime, std::nullopt, std::nullopt, identity).value();
    auto log = watch(*server);
    server->start();
    ASSERT_TRUE(log->states.waitForSize(2));
    const std::uint16_t port = *server->port();
    auto phone = LinkConnection::client(runtime, {"127.0.0.1", port});
    auto phoneLog = record(*phone);
    phone->start();
    ASSERT_TRUE(phoneLog->waitForState(Kind::ready));

    server->stop();
    server->stop();
    ASSERT_TRUE(log->states.waitForSize(3));
    EXPECT_FALSE(server->port());
    // New phones are refused, the one already connected carries on.
    auto late = LinkConnection::client(runtime, {"127.0.0.1", port});
    auto lateLog = record(*late);
    late->start();
    ASSERT_TRUE(lateLog->waitForFinal());
    EXPECT_EQ(lateLog->states().back(), State::failed("Connection refused"));
    phone->send(msg::Ping{});
    ASSERT_TRUE(log->connections.values()[0]->waitForFrames(1));
    EXPECT_EQ(log->states.values(), (std::vector{ServerState::starting(), ServerState::ready(port),
                                                 ServerState::stopped()}));
}

// Points the daemon library at a bus that does not exist, for one test.
class NoSystemBus {
  public:
    NoSystemBus() {
        if (const char* old = std::getenv(name)) saved_ = old;
        ::setenv(name, "unix:path=/nonexistent/pelorin-test-bus", 1);
    }
    ~NoSystemBus() {
        if (saved_) {
            ::setenv(name, saved_->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

  private:
    static constexpr const char* name = "DBUS_SYSTEM_BUS_ADDRESS";
    std::optional<std::string> saved_;
};

TEST_F(LinkServerTest, WithoutADaemonTheServerListensAndSaysWhyItIsNotAdvertised) {
    NoSystemBus noBus;
    auto server = LinkServer::create(runtime, "Studio Without Bus", std::nullopt, identity).value();
    auto log = watch(*server);
    server->start();
    ASSERT_TRUE(log->states.waitForSize(3));
    const auto states = log->states.values();
    EXPECT_EQ(states[1], ServerState::ready(*server->port()));
    EXPECT_EQ(states[2].kind, ServerState::Kind::failed);
    EXPECT_EQ(states[2].text.rfind("Phones cannot find this computer on the network: ", 0), 0u)
        << states[2].text;

    auto phone = LinkConnection::client(runtime, {"127.0.0.1", *server->port()});
    auto phoneLog = record(*phone);
    phone->start();
    EXPECT_TRUE(phoneLog->waitForState(Kind::ready));

    Mailbox<LinkBrowser::State> browserStates;
    auto browser = LinkBrowser::create(runtime);
    browser->onStateChange = [&](const LinkBrowser::State& state) { browserStates.push(state); };
    browser->start();
    ASSERT_TRUE(browserStates.waitForSize(2));
    EXPECT_EQ(browserStates.values()[0], LinkBrowser::State::searching());
    EXPECT_EQ(browserStates.values()[1].kind, LinkBrowser::State::Kind::failed);
    EXPECT_FALSE(browserStates.values()[1].text.empty());
}

}  // namespace
}  // namespace pelorin::link
