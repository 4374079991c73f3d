#include "link/discovery/link_browser.h"

#include <gtest/gtest.h>

namespace pelorin::link {
namespace {

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

}  // namespace
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

}  // namespace pelorin::link
