// Advertising and browsing through the machine's DNS-SD daemon (the test script starts a
// private, loopback-only one).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "link/discovery/avahi_session.h"
#include "link/discovery/host_name.h"
#include "link/discovery/link_browser.h"
#include "link/transport/link_server.h"
#include "tests/support/link_pair.h"
#include "tests/support/process_state.h"

namespace pelorin::link {
namespace {

using namespace testing;
using pelorin::testing::runCommand;
using Results = std::vector<DiscoveredStudio>;

// A service name that no earlier run left behind.
std::string unique(const std::string& name) {
    return name + " " + Uuid::random().string().substr(0, 6);
}

// avahi-browse's parsable output escapes some characters as a backslash and three decimals.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3)));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct BrowsedService {
    std::string name;
    std::string port;
    std::string txt;
};

// The resolved services that avahi-browse reports, as the command-line tool sees them. The
// tool waits for every resolution it started, and one for a service withdrawn meanwhile (an
// earlier test's) can wait for ever: the time limit turns that into a failed expectation.
std::vector<BrowsedService> avahiBrowse() {
    std::vector<BrowsedService> services;
    std::istringstream lines(
        runCommand("timeout -s INT 20 avahi-browse -rpt _pelorin._tcp 2>/dev/null").output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ';');) fields.push_back(field);
        // =;interface;protocol;name;type;domain;host;address;port;txt
        if (line.ends_with(';')) fields.emplace_back();
        if (fields.size() == 10 && fields[0] == "=")
            services.push_back({unescape(fields[3]), fields[8], fields[9]});
    }
    return services;
}

class LinkAvahiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto session = AvahiSession::open(nullptr);
        if (session) return;
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") {
            FAIL() << "no DNS-SD daemon: " << session.error();
        }
        GTEST_SKIP() << "no DNS-SD daemon: " << session.error();
    }

    std::shared_ptr<LinkServer> startServer(const std::string& name) {
        auto server = LinkServer::create(runtime, name, std::nullopt, identity).value();
        logs.push_back(watch(*server));
        server->start();
        return server;
    }

    // Waits until the server's advertisement is confirmed and returns its name.
    static std::string registeredName(const LinkServer& server) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!server.advertisedName() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        return server.advertisedName().value_or("(not registered)");
    }

    // The latest list the browser reported, restricted to the names asked for.
    static Results among(const Results& results, const std::vector<std::string>& names) {
        Results out;
        for (const auto& studio : results) {
            if (std::find(names.begin(), names.end(), studio.name) != names.end()) {
                out.push_back(studio);
            }
        }
        return out;
    }

    Mailbox<Results> results;
    Mailbox<LinkBrowser::State> browserStates;
    LinkRuntime runtime;
    SecureLink::Identity identity = newIdentity();
    // Before the runtime goes, with the connections they hold.
    std::vector<std::shared_ptr<ServerLog>> logs;
};

TEST_F(LinkAvahiTest, AdvertisedServersAreBrowsedSortedWithTheirPortsAndNoTxt) {
    const std::vector<std::string> names = {unique("cherry"), unique("Banana"), unique("apple")};
    std::vector<std::shared_ptr<LinkServer>> servers;
    for (const auto& name : names) servers.push_back(startServer(name));

    auto browser = LinkBrowser::create(runtime);
    browser->onResults = [this](const Results& list) { results.push(list); };
    browser->onStateChange = [this](const LinkBrowser::State& state) { browserStates.push(state); };
    browser->start();
    const auto allThree = [&](const std::vector<Results>& lists) {
        return !lists.empty() && among(lists.back(), names).size() == 3;
    };
    ASSERT_TRUE(results.waitUntil(allThree));
    const Results found = among(results.values().back(), names);
    EXPECT_EQ(found[0].name, names[2]);
    EXPECT_EQ(found[1].name, names[1]);
    EXPECT_EQ(found[2].name, names[0]);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(registeredName(*servers[i]), names[i]);
        const auto studio =
            std::find_if(found.begin(), found.end(), [&](auto& s) { return s.name == names[i]; });
        EXPECT_EQ(studio->endpoint.port, *servers[i]->port());
    }
    EXPECT_EQ(browserStates.values().at(0), LinkBrowser::State::searching());
    EXPECT_EQ(browserStates.values().at(1), LinkBrowser::State::ready());

    // A phone connects to what it found and meets the desktop's identity.
    auto phone = LinkConnection::client(runtime, found[0].endpoint, identity.fingerprint());
    auto phoneLog = record(*phone);
    phone->start();
    EXPECT_TRUE(phoneLog->waitForState(Kind::ready));

    // The system's own browser sees the same name and port, and an empty TXT record.
    const auto browsed = avahiBrowse();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto service = std::find_if(browsed.begin(), browsed.end(),
                                          [&](auto& s) { return s.name == names[i]; });
        ASSERT_NE(service, browsed.end()) << names[i];
        EXPECT_EQ(service->port, std::to_string(*servers[i]->port()));
        EXPECT_EQ(service->txt, "");
    }

    // A stopped server leaves the list.
    servers[1]->stop();
    ASSERT_TRUE(results.waitUntil(
        [&](const std::vector<Results>& lists) { return among(lists.back(), names).size() == 2; }));
    browser->stop();
    ASSERT_TRUE(browserStates.waitForSize(3));
    EXPECT_EQ(browserStates.values()[2], LinkBrowser::State::stopped());
}

TEST_F(LinkAvahiTest, ATakenNameIsReplacedByTheDaemonsAlternative) {
    const std::string name = unique("Twin");
    auto first = startServer(name);
    ASSERT_EQ(registeredName(*first), name);
    auto second = startServer(name);
    EXPECT_EQ(registeredName(*second), name + " #2");

    auto browser = LinkBrowser::create(runtime);
    browser->onResults = [this](const Results& list) { results.push(list); };
    browser->start();
    ASSERT_TRUE(results.waitUntil([&](const std::vector<Results>& lists) {
        return !lists.empty() && among(lists.back(), {name, name + " #2"}).size() == 2;
    }));
    const Results found = among(results.values().back(), {name, name + " #2"});
    EXPECT_EQ(found[0].endpoint.port, *first->port());
    EXPECT_EQ(found[1].endpoint.port, *second->port());
}

}  // namespace
// A bare host name ("mybox") is one phones usually cannot resolve: the pairing link carries the
// name the daemon publishes, which resolves to an address where the studio listens.
TEST_F(LinkAvahiTest, ThePairingHostIsTheDaemonsNameAndResolvesHere) {
    const std::string host = networkHostName();
    EXPECT_EQ(host, publishedHostName().value_or("(none)"));
    EXPECT_TRUE(host.ends_with(".local")) << host;
    auto server = startServer(unique("host"));
    registeredName(*server);
    const auto resolved = runCommand("timeout 20 avahi-resolve -4 -n '" + host + "' 2>&1");
    const auto tab = resolved.output.find('\t');
    ASSERT_NE(tab, std::string::npos) << resolved.output;
    std::string address = resolved.output.substr(tab + 1);
    while (!address.empty() && std::isspace(static_cast<unsigned char>(address.back())))
        address.pop_back();
    auto phone =
        LinkConnection::client(runtime, {address, *server->port()}, identity.fingerprint());
    auto log = record(*phone);
    phone->start();
    EXPECT_TRUE(log->waitForState(Kind::ready)) << address;
}

}  // namespace pelorin::link
