#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QQmlEngine>

namespace pelorin::studio {

class JobStore;
class StudioLink;

// What the window's first page shows of the running studio: its name, the pairing code and the
// newest finished model. Made by the application before the window, handed to QML as is.
class StudioShell : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Studio)
    QML_SINGLETON
    Q_PROPERTY(QString studioName READ studioName NOTIFY linkChanged)
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY linkChanged)
    Q_PROPERTY(QString latestModel READ latestModel NOTIFY latestModelChanged)
    Q_PROPERTY(QString latestModelName READ latestModelName NOTIFY latestModelChanged)

  public:
    StudioShell(JobStore& store, StudioLink& link, QObject* parent = nullptr);
    ~StudioShell() override;

    // The instance the application made; QML must not own it.
    static StudioShell* create(QQmlEngine*, QJSEngine*);

    QString studioName() const;
    QString pairingCode() const;
    QString latestModel() const { return latestModel_; }
    QString latestModelName() const { return latestModelName_; }

  signals:
    void linkChanged();
    void latestModelChanged();

  private:
    void updateLatestModel();

    JobStore& store_;
    StudioLink& link_;
    QString latestModel_;
    QString latestModelName_;
};

}  // namespace pelorin::studio
