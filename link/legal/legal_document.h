#pragma once

#include <string>
#include <vector>

// The privacy documents as data, so that the desktop and the phone show the same texts.
namespace pelorin::link {

struct LegalDocument {
    struct Block {
        enum class Kind {
            subheading,
            paragraph,
            bullets,    // things that are done or stored
            negatives,  // things that are explicitly not done
        };
        Kind kind = Kind::paragraph;
        std::string text;                // subheading, paragraph
        std::vector<std::string> items;  // bullets, negatives

        static Block subheading(std::string text) {
            return {Kind::subheading, std::move(text), {}};
        }
        static Block paragraph(std::string text) { return {Kind::paragraph, std::move(text), {}}; }
        static Block bullets(std::vector<std::string> items) {
            return {Kind::bullets, {}, std::move(items)};
        }
        static Block negatives(std::vector<std::string> items) {
            return {Kind::negatives, {}, std::move(items)};
        }
    };

    struct Section {
        std::string heading;
        std::vector<Block> blocks;
    };

    struct Link {
        std::string label;
        std::string systemImage;
        std::string url;  // web or mailto: address
    };

    std::string id;
    std::string title;
    std::string summary;
    std::string lastUpdated;  // month and year, shown as given
    std::vector<Section> sections;
    std::vector<Link> links;

    // Who publishes both apps, for the documents and the window's publisher line.
    static const std::string& publisherName();

    // The privacy policy of this desktop application and that of the phone app.
    static const LegalDocument& desktopPrivacyPolicy();
    static const LegalDocument& phonePrivacyPolicy();
};

}  // namespace pelorin::link
