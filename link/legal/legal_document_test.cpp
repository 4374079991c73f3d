#include "link/legal/legal_document.h"

#include <gtest/gtest.h>

#include <regex>

namespace pelorin::link {
namespace {

const LegalDocument::Link* find(const LegalDocument& document, const std::string& label) {
    for (const auto& link : document.links)
        if (link.label == label) return &link;
    return nullptr;
}

TEST(LegalDocumentTest, TheTwoPoliciesPointAtEachOther) {
    const auto& desktop = LegalDocument::desktopPrivacyPolicy();
    const auto& phone = LegalDocument::phonePrivacyPolicy();
    const auto* desktopWeb = find(desktop, "Read it on the web");
    const auto* phoneWeb = find(phone, "Read it on the web");
    const auto* toPhone = find(desktop, "Privacy policy of the iPhone and iPad app");
    const auto* toDesktop = find(phone, "Privacy policy of the desktop app");
    ASSERT_TRUE(desktopWeb && phoneWeb && toPhone && toDesktop);
    EXPECT_EQ(toPhone->url, phoneWeb->url);
    EXPECT_EQ(toDesktop->url, desktopWeb->url);
    EXPECT_NE(desktopWeb->url, phoneWeb->url);
}

TEST(LegalDocumentTest, BothShareHeadingsAndEverySectionSaysSomething) {
    const auto& desktop = LegalDocument::desktopPrivacyPolicy();
    const auto& phone = LegalDocument::phonePrivacyPolicy();
    ASSERT_EQ(desktop.sections.size(), 10u);
    ASSERT_EQ(phone.sections.size(), desktop.sections.size());
    for (std::size_t i = 0; i < desktop.sections.size(); ++i) {
        EXPECT_EQ(phone.sections[i].heading, desktop.sections[i].heading);
        for (const auto* document : {&desktop, &phone}) {
            ASSERT_FALSE(document->sections[i].blocks.empty()) << document->sections[i].heading;
            for (const auto& block : document->sections[i].blocks)
                EXPECT_TRUE(!block.text.empty() || !block.items.empty());
        }
    }
    EXPECT_NE(desktop.id, phone.id);
    EXPECT_EQ(desktop.lastUpdated, phone.lastUpdated);
}

// The desktop document is read on Linux: it must not speak of another desktop platform.
TEST(LegalDocumentTest, TheDesktopPolicyNamesNoOtherDesktopPlatform) {
    const auto& desktop = LegalDocument::desktopPrivacyPolicy();
    std::string all = desktop.title + desktop.summary;
    for (const auto& section : desktop.sections) {
        all += section.heading;
        for (const auto& block : section.blocks) {
            all += block.text;
            for (const auto& item : block.items) all += item;
        }
    }
    for (const auto& link : desktop.links) all += link.label;
    // No other platform's name: the class keeps the literal from reading as one.
    EXPECT_FALSE(std::regex_search(all, std::regex("\\bMa[c]\\b")));
    EXPECT_NE(all.find("your computer"), std::string::npos);
}

}  // namespace
}  // namespace pelorin::link
