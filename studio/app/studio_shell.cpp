#include "studio/app/studio_shell.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>

#include "link/security/secure_link.h"
#include "studio/app/job_list_model.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/desktop_actions.h"

namespace pelorin::studio {

namespace {

StudioShell* current = nullptr;

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

std::optional<Uuid> idOf(const QString& text) {
    return Uuid::parse(text.toStdString());
}

}  // namespace

StudioShell::StudioShell(JobStore& store, StudioLink& link, QSettings* preferences, QObject* parent)
    : QObject(parent),
      store_(store),
      link_(link),
      preferences_(preferences),
      jobs_(new JobListModel(store, this)) {
    current = this;
    if (!store_.jobs().empty()) firstJob_ = store_.jobs().front().id;
    connect(&store_, &JobStore::jobsChanged, this, &StudioShell::jobsChanged);
    connect(&store_, &JobStore::noticeChanged, this, &StudioShell::noticeChanged);
    connect(&store_, &JobStore::isImportingChanged, this, &StudioShell::isImportingChanged);
    for (auto signal : {&StudioLink::serverStateChanged, &StudioLink::devicesChanged,
                        &StudioLink::pairingCodeChanged, &StudioLink::portChanged}) {
        connect(&link_, signal, this, &StudioShell::linkChanged);
    }
}

StudioShell::~StudioShell() {
    if (current == this) current = nullptr;
}

StudioShell* StudioShell::create(QQmlEngine*, QJSEngine*) {
    Q_ASSERT(current);
    QQmlEngine::setObjectOwnership(current, QQmlEngine::CppOwnership);
    return current;
}

StudioShell* StudioShell::instance() {
    return current;
}

void StudioShell::setSelection(const QString& id) {
    const bool shows = id.isEmpty() ? false : bool(store_.job(idOf(id).value_or(Uuid())));
    if (id == selection_ && shows == showsJob_) return;
    selection_ = id;
    showsJob_ = shows;
    emit selectionChanged();
}

bool StudioShell::showsJob() const {
    return showsJob_;
}

void StudioShell::jobsChanged() {
    const auto& jobs = store_.jobs();
    const std::optional<Uuid> first = jobs.empty() ? std::nullopt : std::optional(jobs.front().id);
    if (first != firstJob_) {
        firstJob_ = first;
        // A phone has just begun sending: show its capture. Only a change of the first job
        // counts, so its later photos never pull the selection back.
        if (first && jobs.front().phase == JobPhase::receiving) {
            setSelection(text(first->string()));
            return;
        }
    }
    // The shown job may have been deleted.
    setSelection(selection_);
}

bool StudioShell::photogrammetrySupported() const {
    return store_.photogrammetrySupported();
}

bool StudioShell::isImporting() const {
    return store_.isImporting();
}

bool StudioShell::hasNotice() const {
    return store_.notice().has_value();
}

QString StudioShell::noticeTitle() const {
    return store_.notice() ? text(store_.notice()->title) : QString();
}

QString StudioShell::noticeMessage() const {
    return store_.notice() ? text(store_.notice()->message) : QString();
}

QUrl StudioShell::downloadsFolder() const {
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

bool StudioShell::listensUnadvertised() const {
    // The listener reports its port before it advertises; a failure after that is the
    // advertisement's, and the port still takes phones.
    return link_.serverState().kind == StudioLink::ServerState::Kind::failed && link_.port();
}

StudioLink::ServerState::Kind StudioShell::shownServerState() const {
    return listensUnadvertised() ? StudioLink::ServerState::Kind::listening
                                 : link_.serverState().kind;
}

QString StudioShell::serverState() const {
    using Kind = StudioLink::ServerState::Kind;
    switch (shownServerState()) {
        case Kind::off:
            return "off";
        case Kind::starting:
            return "starting";
        case Kind::listening:
            return "listening";
        case Kind::failed:
            return "failed";
    }
    return {};
}

QString StudioShell::serverStateText() const {
    using Kind = StudioLink::ServerState::Kind;
    switch (shownServerState()) {
        case Kind::off:
            return "Off";
        case Kind::starting:
            return "Starting";
        case Kind::listening:
            return "Visible on Wi-Fi";
        case Kind::failed:
            return "Not available";
    }
    return {};
}

QString StudioShell::serverNote() const {
    if (!listensUnadvertised()) return {};
    return "Phones cannot find this computer by name. Scan the QR code to pair.";
}

QStringList StudioShell::devices() const {
    QStringList names;
    for (const auto& device : link_.devices()) names.append(text(device.name));
    return names;
}

QString StudioShell::connectionLabel() const {
    const auto count = link_.devices().size();
    return count == 0 ? QString("Pair iPhone") : QString::number(count) + " connected";
}

QString StudioShell::connectionIcon() const {
    return link_.devices().empty() ? "iphone.slash" : "iphone.radiowaves.left.and.right";
}

QString StudioShell::studioName() const {
    return text(link_.studioName());
}

QString StudioShell::pairingCode() const {
    return text(link_.pairingCode());
}

QString StudioShell::pairingLink() const {
    return text(link_.pairingLink().url());
}

QString StudioShell::fingerprint() const {
    const auto value = link_.fingerprint();
    return value ? text(link::SecureLink::displayFingerprint(*value)) : QString("Unavailable");
}

QString StudioShell::version() const {
    // The build's own number: the settings and About show it however the process was started.
    return QStringLiteral(PELORIN_VERSION);
}

void StudioShell::contentShown() {
    if (started_) return;
    started_ = true;
    link_.start();
    if (preferences_ && preferences_->value("autoOpenFinished").toBool()) {
        QString finished;
        for (const auto& job : store_.jobs()) {
            if (job.phase == JobPhase::finished) {
                finished = text(job.id.string());
                break;
            }
        }
        setSelection(finished);
    }
}

void StudioShell::importUrls(const QList<QUrl>& urls) {
    std::vector<std::filesystem::path> items;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) items.emplace_back(url.toLocalFile().toStdString());
    }
    if (!items.empty()) store_.importItems(items);
}

void StudioShell::trySample() {
    store_.trySample();
}

void StudioShell::clearNotice() {
    store_.clearNotice();
}

void StudioShell::showNotice(const QString& title, const QString& message) {
    store_.showNotice(title.toStdString(), message.toStdString());
}

void StudioShell::newPairingCode() {
    link_.newPairingCode();
}

void StudioShell::deleteJob(const QString& id) {
    const auto job = idOf(id);
    if (!job) return;
    if (selection_ == id) setSelection(QString());
    store_.deleteJob(*job);
}

void StudioShell::showJobFolder(const QString& id) {
    if (const auto job = idOf(id)) studio::showInFolder(StudioJob::folder(store_.jobsRoot(), *job));
}

}  // namespace pelorin::studio
