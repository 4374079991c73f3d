#include "studio/design/legal_documents_bridge.h"

#include <QVariantList>

#include "link/legal/legal_document.h"

namespace pelorin::studio {

namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QString kindName(link::LegalDocument::Block::Kind kind) {
    using Kind = link::LegalDocument::Block::Kind;
    switch (kind) {
        case Kind::subheading:
            return QStringLiteral("subheading");
        case Kind::paragraph:
            return QStringLiteral("paragraph");
        case Kind::bullets:
            return QStringLiteral("bullets");
        case Kind::negatives:
            return QStringLiteral("negatives");
    }
    return {};
}

QVariantMap toMap(const link::LegalDocument& document) {
    QVariantList sections;
    for (const auto& section : document.sections) {
        QVariantList blocks;
        for (const auto& block : section.blocks) {
            QStringList items;
            for (const auto& item : block.items) items.append(text(item));
            blocks.append(QVariantMap{
                {"kind", kindName(block.kind)}, {"text", text(block.text)}, {"items", items}});
        }
        sections.append(QVariantMap{{"heading", text(section.heading)}, {"blocks", blocks}});
    }
    QVariantList links;
    for (const auto& link : document.links) {
        links.append(QVariantMap{{"label", text(link.label)},
                                 {"systemImage", text(link.systemImage)},
                                 {"url", text(link.url)}});
    }
    return {{"id", text(document.id)},
            {"title", text(document.title)},
            {"summary", text(document.summary)},
            {"lastUpdated", text(document.lastUpdated)},
            {"sections", sections},
            {"links", links}};
}

}  // namespace

QVariantMap LegalDocumentsBridge::desktopPrivacyPolicy() const {
    static const QVariantMap map = toMap(link::LegalDocument::desktopPrivacyPolicy());
    return map;
}

QVariantMap LegalDocumentsBridge::phonePrivacyPolicy() const {
    static const QVariantMap map = toMap(link::LegalDocument::phonePrivacyPolicy());
    return map;
}

QString LegalDocumentsBridge::publisher() const {
    return text(link::LegalDocument::publisherName());
}

}  // namespace pelorin::studio
