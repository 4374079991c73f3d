#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QVariantMap>

namespace pelorin::studio {

// The privacy documents as plain QML values: {id, title, summary, lastUpdated, sections: [{heading,
// blocks: [{kind, text, items}]}], links: [{label, systemImage, url}]}, kind being "subheading",
// "paragraph", "bullets" or "negatives".
class LegalDocumentsBridge : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(LegalDocuments)
    QML_SINGLETON
    Q_PROPERTY(QVariantMap desktopPrivacyPolicy READ desktopPrivacyPolicy CONSTANT)
    Q_PROPERTY(QVariantMap phonePrivacyPolicy READ phonePrivacyPolicy CONSTANT)
    Q_PROPERTY(QString publisher READ publisher CONSTANT)

  public:
    using QObject::QObject;

    QVariantMap desktopPrivacyPolicy() const;
    QVariantMap phonePrivacyPolicy() const;
    QString publisher() const;
};

}  // namespace pelorin::studio
