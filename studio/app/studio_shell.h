#pragma once

#include <QtQml/qqmlregistration.h>
#include <QList>
#include <QObject>
#include <QQmlEngine>
#include <QStringList>
#include <QUrl>

#include <optional>

#include "common/uuid.h"
#include "studio/app/job_list_model.h"
#include "studio/core/phone/studio_link.h"

class QSettings;

namespace pelorin::studio {

class JobStore;

// The main window's state over the running studio: the job list and the selection, the store's
// notice and import indicator, and what the connection panel and the settings show of the link
// service. Made by the application before the window and handed to QML as the Studio singleton;
// QML binds to it and forwards the user's actions.
class StudioShell : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Studio)
    QML_SINGLETON
    Q_PROPERTY(pelorin::studio::JobListModel* jobs READ jobs CONSTANT)
    // The shown job's id text; empty for none.
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)
    // The selection names a job that exists: the detail is shown, else the welcome page.
    Q_PROPERTY(bool showsJob READ showsJob NOTIFY selectionChanged)
    Q_PROPERTY(bool photogrammetrySupported READ photogrammetrySupported CONSTANT)
    Q_PROPERTY(bool isImporting READ isImporting NOTIFY isImportingChanged)
    Q_PROPERTY(bool hasNotice READ hasNotice NOTIFY noticeChanged)
    Q_PROPERTY(QString noticeTitle READ noticeTitle NOTIFY noticeChanged)
    Q_PROPERTY(QString noticeMessage READ noticeMessage NOTIFY noticeChanged)
    Q_PROPERTY(QUrl downloadsFolder READ downloadsFolder CONSTANT)

    // "off", "starting", "listening" or "failed". A listener whose advertisement failed is
    // "listening": phones reach it through the QR code.
    Q_PROPERTY(QString serverState READ serverState NOTIFY linkChanged)
    Q_PROPERTY(QString serverStateText READ serverStateText NOTIFY linkChanged)
    // A line under the state for what it does not say; empty when there is nothing to add.
    Q_PROPERTY(QString serverNote READ serverNote NOTIFY linkChanged)
    Q_PROPERTY(QStringList devices READ devices NOTIFY linkChanged)
    Q_PROPERTY(QString connectionLabel READ connectionLabel NOTIFY linkChanged)
    Q_PROPERTY(QString connectionIcon READ connectionIcon NOTIFY linkChanged)
    Q_PROPERTY(QString studioName READ studioName NOTIFY linkChanged)
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY linkChanged)
    Q_PROPERTY(QString pairingLink READ pairingLink NOTIFY linkChanged)
    // The display form of the identity's fingerprint, or "Unavailable".
    Q_PROPERTY(QString fingerprint READ fingerprint NOTIFY linkChanged)
    Q_PROPERTY(QString version READ version CONSTANT)

  public:
    StudioShell(JobStore& store, StudioLink& link, QSettings* preferences = nullptr,
                QObject* parent = nullptr);
    ~StudioShell() override;

    // The instance the application made; QML must not own it.
    static StudioShell* create(QQmlEngine*, QJSEngine*);
    static StudioShell* instance();

    JobStore& store() const { return store_; }
    JobListModel* jobs() const { return jobs_; }
    QString selection() const { return selection_; }
    void setSelection(const QString& id);
    bool showsJob() const;
    bool photogrammetrySupported() const;
    bool isImporting() const;
    bool hasNotice() const;
    QString noticeTitle() const;
    QString noticeMessage() const;
    QUrl downloadsFolder() const;

    QString serverState() const;
    QString serverStateText() const;
    QString serverNote() const;
    QStringList devices() const;
    QString connectionLabel() const;
    QString connectionIcon() const;
    QString studioName() const;
    QString pairingCode() const;
    QString pairingLink() const;
    QString fingerprint() const;
    QString version() const;

    // The window's content is on screen: starts the link service and applies
    // "autoOpenFinished". Only the first call does anything.
    Q_INVOKABLE void contentShown();
    // Dropped or chosen locations; those that are not files on this computer are left out, and
    // when none is left nothing happens.
    Q_INVOKABLE void importUrls(const QList<QUrl>& urls);
    Q_INVOKABLE void trySample();
    Q_INVOKABLE void clearNotice();
    Q_INVOKABLE void showNotice(const QString& title, const QString& message);
    Q_INVOKABLE void newPairingCode();
    // The list's context menu.
    Q_INVOKABLE void deleteJob(const QString& id);
    Q_INVOKABLE void showJobFolder(const QString& id);

  signals:
    void selectionChanged();
    void isImportingChanged();
    void noticeChanged();
    void linkChanged();

  private:
    void jobsChanged();
    // The state as the user meets it: see serverState.
    StudioLink::ServerState::Kind shownServerState() const;
    // Listening while the advertisement failed (no DNS-SD daemon, say).
    bool listensUnadvertised() const;

    JobStore& store_;
    StudioLink& link_;
    QSettings* preferences_;
    JobListModel* jobs_;
    QString selection_;
    bool showsJob_ = false;
    std::optional<Uuid> firstJob_;
    bool started_ = false;
};

}  // namespace pelorin::studio
