#include "studio/app/studio_shell.h"

#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"

namespace pelorin::studio {

namespace {
StudioShell* current = nullptr;
}

StudioShell::StudioShell(JobStore& store, StudioLink& link, QObject* parent)
    : QObject(parent), store_(store), link_(link) {
    current = this;
    connect(&link_, &StudioLink::pairingCodeChanged, this, &StudioShell::linkChanged);
    connect(&store_, &JobStore::jobsChanged, this, &StudioShell::updateLatestModel);
    updateLatestModel();
}

StudioShell::~StudioShell() {
    if (current == this) current = nullptr;
}

StudioShell* StudioShell::create(QQmlEngine*, QJSEngine*) {
    Q_ASSERT(current);
    QQmlEngine::setObjectOwnership(current, QQmlEngine::CppOwnership);
    return current;
}

QString StudioShell::studioName() const {
    return QString::fromStdString(link_.studioName());
}

QString StudioShell::pairingCode() const {
    return QString::fromStdString(link_.pairingCode());
}

void StudioShell::updateLatestModel() {
    const StudioJob* latest = nullptr;
    for (const auto& job : store_.jobs()) {
        if (job.phase != link::JobPhase::finished) continue;
        if (!latest || job.finishedAt.value_or(job.createdAt) >
                           latest->finishedAt.value_or(latest->createdAt)) {
            latest = &job;
        }
    }
    QString model, name;
    if (latest) {
        model = QString::fromStdString(
            (StudioJob::outputFolder(store_.jobsRoot(), latest->id) / "model.usdz").string());
        name = QString::fromStdString(latest->name);
    }
    if (model == latestModel_ && name == latestModelName_) return;
    latestModel_ = model;
    latestModelName_ = name;
    emit latestModelChanged();
}

}  // namespace pelorin::studio
