#include "link/legal/legal_document.h"

namespace pelorin::link {

namespace {

// Who publishes both apps and where to reach them: the one place these facts are written.
struct Publisher {
    const char* name = "Pelorin Labs Ltd";
    const char* address = "14 Canal Wharf, Leeds LS11 5PS, United Kingdom";
    const char* email = "privacy@pelorin.app";
    const char* support = "https://pelorin.app/support";
    const char* desktopPolicy = "https://pelorin.app/privacy/studio";
    const char* phonePolicy = "https://pelorin.app/privacy/phone";
    const char* lastUpdated = "November 2026";
};
constexpr Publisher publisher;

using Block = LegalDocument::Block;

std::vector<LegalDocument::Link> links(const char* web, const char* otherLabel,
                                       const char* otherUrl) {
    return {
        {"Read it on the web", "globe", web},
        {"Support", "questionmark.circle", publisher.support},
        {otherLabel, "hand.raised", otherUrl},
        {"Email us", "envelope", std::string("mailto:") + publisher.email},
    };
}

LegalDocument::Section shared(const char* heading) {
    const std::string h = heading;
    if (h == "Children") {
        return {heading,
                {Block::paragraph(
                    "The apps are not aimed at children, and because they collect nothing from "
                    "anyone, they collect nothing from children either.")}};
    }
    if (h == "Changes") {
        return {heading,
                {Block::paragraph(
                    "If what the apps do with your data ever changes, this policy changes first, "
                    "with a new date at the top. We will not start collecting data quietly: a "
                    "change like that would be announced in the app's release notes.")}};
    }
    if (h == "Who publishes this app") {
        return {heading,
                {Block::paragraph(std::string(publisher.name) + ", " + publisher.address + "."),
                 Block::paragraph("The same company publishes the desktop app, Pelorin Studio, "
                                  "and the phone app, Pelorin.")}};
    }
    return {heading,
            {Block::paragraph(std::string("Questions about privacy go to ") + publisher.email +
                              ". We answer every message, usually within a week.")}};
}

LegalDocument makeDesktop() {
    LegalDocument d;
    d.id = "privacy-desktop";
    d.title = "Privacy Policy";
    d.summary =
        "Studio builds your 3D models on your computer. Your photos arrive over your own Wi-Fi, "
        "encrypted, and stay between your phone and your computer. We receive nothing.";
    d.lastUpdated = publisher.lastUpdated;
    d.sections = {
        {"The short version",
         {Block::paragraph("Pelorin Studio turns photos into 3D models entirely on this computer. "
                           "It has no account, no server and no analytics."),
          Block::bullets({"Photos and models stay in a folder on your computer.",
                          "Phones talk to Studio only over your local network, encrypted.",
                          "Nothing is uploaded to the internet."})}},
        {"What we collect", {Block::paragraph("Nothing. Studio sends us no data of any kind.")}},
        {"What is stored and where",
         {Block::paragraph("Everything Studio keeps is in your home folder, under "
                           "~/.local/share/Pelorin Studio, and goes when you delete it:"),
          Block::bullets({"the photos of each job and the models built from them, in Jobs;",
                          "the pairing code and your choice of opening finished models, in "
                          "Studio's settings file;",
                          "the computer's link key, which proves to your phone that it is talking "
                          "to this computer, readable only by you."})}},
        {"Network access",
         {Block::paragraph("Studio listens for your phone on the local network and announces "
                           "itself there so that the phone can find it. A phone must know the "
                           "pairing code before it may send photos or fetch models, and every "
                           "message between them is encrypted."),
          Block::negatives({"Studio does not contact the internet.",
                            "Studio does not accept connections from outside your network."})}},
        {"Permissions we request",
         {Block::bullets({"Reading the folders and photos you choose to import.",
                          "Listening on your local network for paired phones.",
                          "Keeping the computer awake while a model is being built."})}},
        {"What we do not do",
         {Block::negatives({"No accounts, sign-ins or tracking identifiers.",
                            "No analytics, crash reporting or advertising.",
                            "No selling or sharing of data, because we never have any."})}},
        shared("Children"),
        shared("Changes"),
        shared("Who publishes this app"),
        shared("Contact"),
    };
    d.links = links(publisher.desktopPolicy, "Privacy policy of the iPhone and iPad app",
                    publisher.phonePolicy);
    return d;
}

LegalDocument makePhone() {
    LegalDocument d;
    d.id = "privacy-phone";
    d.title = "Privacy Policy";
    d.summary =
        "Your photos and 3D models stay between your iPhone and your own computer, over your own "
        "Wi-Fi, encrypted. We receive nothing.";
    d.lastUpdated = publisher.lastUpdated;
    d.sections = {
        {"The short version",
         {Block::paragraph("Pelorin takes the photos; your own computer, running Pelorin Studio, "
                           "builds the model. Nothing passes through us."),
          Block::bullets({"Photos go straight from your iPhone to your computer.",
                          "The link between them is encrypted.",
                          "Nothing is uploaded to the internet."})}},
        {"What we collect", {Block::paragraph("Nothing. The app sends us no data of any kind.")}},
        {"What is stored and where",
         {Block::bullets({"Captures in progress, in the app's own storage on your iPhone, until "
                          "they are sent or deleted;",
                          "models you download from your computer, until you delete them;",
                          "the computers you paired with, so that you need not pair again."})}},
        {"Network access",
         {Block::paragraph("The app looks for Pelorin Studio on your local network and talks "
                           "only to the computer you paired with, encrypted end to end."),
          Block::negatives({"The app does not contact the internet."})}},
        {"Permissions we request",
         {Block::bullets({"Camera, to take the photos.",
                          "Motion, to record how the phone was held for each photo.",
                          "Local network, to find and reach your computer."})}},
        {"What we do not do",
         {Block::negatives({"No accounts, sign-ins or tracking identifiers.",
                            "No analytics, crash reporting or advertising.",
                            "No selling or sharing of data, because we never have any."})}},
        shared("Children"),
        shared("Changes"),
        shared("Who publishes this app"),
        shared("Contact"),
    };
    d.links =
        links(publisher.phonePolicy, "Privacy policy of the desktop app", publisher.desktopPolicy);
    return d;
}

}  // namespace

const std::string& LegalDocument::publisherName() {
    static const std::string name = publisher.name;
    return name;
}

const LegalDocument& LegalDocument::desktopPrivacyPolicy() {
    static const LegalDocument document = makeDesktop();
    return document;
}

const LegalDocument& LegalDocument::phonePrivacyPolicy() {
    static const LegalDocument document = makePhone();
    return document;
}

}  // namespace pelorin::link
