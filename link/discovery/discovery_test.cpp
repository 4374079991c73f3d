#include "link/discovery/link_browser.h"
#include "link/discovery/pairing_link.h"

#include <gtest/gtest.h>

namespace pelorin::link {
namespace {

std::optional<PairingLink> parse(const std::string& text) {
    return PairingLink::parse(text);
}

const std::string base = "pelorin3d://pair?v=1&name=Desk&code=123456";

TEST(PairingLink, RoundTripsAnyName) {
    for (const char* name : {"Ana's laptop", "A&B=C#D?E", "Caf\xC3\xA9 \xE5\x86\x99\xE7\x9C\x9F",
                             "100% sure", "plus+sign", "slash/back\\slash"}) {
        PairingLink link{name, "012345", "desk.local", 52000, "abcdefghijklmnopqrst-_"};
        auto read = parse(link.url());
        ASSERT_TRUE(read) << link.url();
        EXPECT_EQ(*read, link) << link.url();
    }
    EXPECT_EQ((PairingLink{"My Desk", "123456", std::nullopt, 7, std::nullopt}).url(),
              "pelorin3d://pair?v=1&name=My%20Desk&code=123456&port=7");
}

TEST(PairingLink, SchemeAndHostIgnoreCase) {
    auto link = parse("PELORIN3D://PAIR?name=Desk&code=123456");
    ASSERT_TRUE(link);
    EXPECT_EQ(*link, (PairingLink{"Desk", "123456", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_FALSE(parse("pelorin://pair?name=Desk&code=123456"));
    EXPECT_FALSE(parse("pelorin3d://join?name=Desk&code=123456"));
    EXPECT_FALSE(parse("pelorin3d://pair"));
    EXPECT_FALSE(parse("pelorin3d://pair?"));
    EXPECT_FALSE(parse("not a url"));
    EXPECT_FALSE(parse(""));
    EXPECT_FALSE(parse("pelorin3d://pair?name=%ZZ&code=123456"));
}

TEST(PairingLink, NameIsTrimmedAndLimitedInCharacters) {
    EXPECT_EQ(parse("pelorin3d://pair?name=%20%20Desk%0A&code=123456")->studioName, "Desk");
    EXPECT_FALSE(parse("pelorin3d://pair?name=%20%20%20&code=123456"));
    EXPECT_FALSE(parse("pelorin3d://pair?name&code=123456"));
    EXPECT_FALSE(parse("pelorin3d://pair?code=123456"));
    EXPECT_TRUE(parse("pelorin3d://pair?name=" + std::string(120, 'x') + "&code=123456"));
    EXPECT_FALSE(parse("pelorin3d://pair?name=" + std::string(121, 'x') + "&code=123456"));
    // 120 user-perceived characters of two bytes each still fit.
    std::string accents;
    for (int i = 0; i < 120; ++i) accents += "%C3%A9";
    EXPECT_TRUE(parse("pelorin3d://pair?name=" + accents + "&code=123456"));
    // The first of repeated items counts.
    EXPECT_EQ(parse(base + "&name=Other")->studioName, "Desk");
}

TEST(PairingLink, CodeMustBeSixAsciiDigits) {
    for (const char* code :
         {"12345", "1234567", "12a456", "%EF%BC%91%EF%BC%92%EF%BC%93%EF%BC%94%EF%BC%95%EF%BC%96",
          "", "12345%20"}) {
        EXPECT_FALSE(parse(std::string("pelorin3d://pair?name=Desk&code=") + code)) << code;
    }
}

TEST(PairingLink, OptionalItemsNeverReject) {
    EXPECT_EQ(parse(base + "&port=0")->port, std::nullopt);
    EXPECT_EQ(parse(base + "&port=65536")->port, std::nullopt);
    EXPECT_EQ(parse(base + "&port=http")->port, std::nullopt);
    EXPECT_EQ(parse(base + "&port=-5")->port, std::nullopt);
    EXPECT_EQ(parse(base + "&port=%2B8080")->port, 8080);
    EXPECT_EQ(parse(base + "&port=65535")->port, 65535);
    EXPECT_EQ(parse(base + "&fp=" + std::string(21, 'a'))->fingerprint, std::nullopt);
    EXPECT_EQ(parse(base + "&fp=" + std::string(23, 'a'))->fingerprint, std::nullopt);
    EXPECT_EQ(parse(base + "&fp=" + std::string(21, 'a') + "%3D")->fingerprint, std::nullopt);
    EXPECT_EQ(parse(base + "&fp=" + std::string(21, 'a') + "%2B")->fingerprint, std::nullopt);
    EXPECT_EQ(parse(base + "&fp=" + std::string(22, 'a'))->fingerprint, std::string(22, 'a'));
    EXPECT_EQ(parse(base + "&host=")->host, std::nullopt);
    EXPECT_EQ(parse(base + "&host=" + std::string(254, 'h'))->host, std::nullopt);
    EXPECT_EQ(parse(base + "&host=" + std::string(253, 'h'))->host, std::string(253, 'h'));
    EXPECT_TRUE(parse("pelorin3d://pair?name=Desk&code=123456"));
    EXPECT_TRUE(parse("pelorin3d://pair?v=2&name=Desk&code=123456&extra=1"));
}

std::vector<std::string> names(const std::vector<DiscoveredStudio>& studios) {
    std::vector<std::string> out;
    for (const auto& studio : studios) out.push_back(studio.name);
    return out;
}

TEST(SortByName, IgnoresLetterCaseAndKeepsAFixedOrderForTies) {
    std::vector<DiscoveredStudio> studios = {
        {"charlie", {"10.0.0.3", 1}}, {"Bravo", {"10.0.0.2", 1}}, {"alpha", {"10.0.0.1", 1}},
        {"Alpha", {"10.0.0.4", 1}},   {"bravo", {"10.0.0.5", 2}}, {"Émile", {"10.0.0.6", 1}},
        {"Zed", {"10.0.0.7", 1}},
    };
    sortByName(studios);
    const auto sorted = names(studios);
    // Case decides nothing between letters: a capital B sorts after a small a and before a
    // small c; an accented capital sits with its base letter.
    EXPECT_EQ(sorted[0].front() | 0x20, 'a');
    EXPECT_EQ(sorted[1].front() | 0x20, 'a');
    EXPECT_EQ(sorted[2].front() | 0x20, 'b');
    EXPECT_EQ(sorted[3].front() | 0x20, 'b');
    EXPECT_EQ(sorted[4], "charlie");
    EXPECT_EQ(sorted[5], "Émile");
    EXPECT_EQ(sorted[6], "Zed");

    auto shuffled = studios;
    std::reverse(shuffled.begin(), shuffled.end());
    sortByName(shuffled);
    EXPECT_EQ(shuffled, studios);
}

// A desktop on Wi-Fi and Ethernet, over IPv4 and IPv6, is one studio to the phone.
TEST(OnePerService, AStudioSeenOnSeveralInterfacesAndProtocolsIsListedOnce) {
    const DiscoveredStudio v6{"Desk", {"fe80::1%3", 4242}};
    const DiscoveredStudio wifi{"Desk", {"192.168.1.7", 4242}};
    const DiscoveredStudio ethernet{"Desk", {"192.168.1.8", 4242}};
    const DiscoveredStudio other{"Laptop", {"fe80::2%3", 5000}};
    const std::vector<SeenService> seen = {{3, false, "Desk", "local", v6},
                                           {3, true, "Desk", "local", ethernet},
                                           {2, true, "Desk", "local", wifi},
                                           {3, false, "Laptop", "local", other}};
    EXPECT_EQ(onePerService(seen), (std::vector<DiscoveredStudio>{wifi, other}));
}

}  // namespace
}  // namespace pelorin::link
