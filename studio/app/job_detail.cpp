#include "studio/app/job_detail.h"

#include <QDir>
#include <QLocale>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include "common/formatters.h"
#include "studio/app/studio_shell.h"
#include "studio/core/jobs/job_store.h"
#include "studio/platform/desktop_actions.h"

namespace pelorin::studio {

namespace {

namespace fs = std::filesystem;

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), qsizetype(value.size()));
}

QVariantMap fact(const QString& label, const QString& value) {
    return {{"label", label}, {"value", value}};
}

// The job's name made into a file name that still reads as the name: "/" cannot be in one, a
// leading "." would hide the file (or be "." or ".."), and with `suffix` it must fit the 255 bytes
// a name may have.
QString fileName(const QString& name, const QString& suffix) {
    QString stem = name;
    stem.replace(QChar('/'), QChar('-'));
    stem.remove(QChar(0));
    while (stem.startsWith(QChar('.'))) stem.remove(0, 1);
    if (stem.trimmed().isEmpty()) stem = "Model";
    const qsizetype room = 255 - suffix.toUtf8().size();
    while (stem.toUtf8().size() > room) stem.chop(stem.back().isLowSurrogate() ? 2 : 1);
    return stem + suffix;
}

QVariantMap exportEntry(const QString& kind, const QString& label, const QString& icon) {
    return {{"kind", kind}, {"label", label}, {"icon", icon}};
}

}  // namespace

JobDetail::JobDetail(QObject* parent) : QObject(parent) {
    if (auto* shell = StudioShell::instance()) {
        store_ = &shell->store();
        connect(store_, &JobStore::jobsChanged, this, &JobDetail::refresh);
    }
}

JobDetail::JobDetail(JobStore& store, QObject* parent) : QObject(parent), store_(&store) {
    connect(store_, &JobStore::jobsChanged, this, &JobDetail::refresh);
}

void JobDetail::setJobId(const QString& id) {
    if (id == jobId_) return;
    jobId_ = id;
    job_.reset();
    refresh();
    // A newly shown job starts from its own name and options; unsaved edits of the last are
    // dropped.
    editingName_ = job_ ? text(job_->name) : QString();
    draft_ = job_ ? job_->options : ProcessingOptions{};
    emit jobIdChanged();
    emit changed();
    emit editingNameChanged();
    emit draftChanged();
}

void JobDetail::refresh() {
    std::optional<StudioJob> now;
    if (store_ && !jobId_.isEmpty()) {
        if (auto id = Uuid::parse(jobId_.toStdString())) {
            if (const StudioJob* found = store_->job(*id)) now = *found;
        }
    }
    if (now == job_) return;
    job_ = std::move(now);
    emit changed();
}

QString JobDetail::name() const {
    return job_ ? text(job_->name) : QString();
}

QString JobDetail::phase() const {
    return job_ ? text(link::jsonValue(job_->phase)) : QString();
}

QString JobDetail::statusTitle() const {
    return job_ ? text(link::title(job_->phase)) : QString();
}

QString JobDetail::statusIcon() const {
    if (!job_) return {};
    switch (job_->phase) {
        case JobPhase::receiving:
            return "arrow.down.circle.fill";
        case JobPhase::ready:
            return "circle.dashed";
        case JobPhase::queued:
        case JobPhase::processing:
            return "gearshape.2.fill";
        case JobPhase::finished:
            return "checkmark.seal.fill";
        case JobPhase::failed:
            return "exclamationmark.triangle.fill";
        case JobPhase::cancelled:
            return "stop.circle.fill";
    }
    return {};
}

QString JobDetail::sourceText() const {
    if (!job_) return {};
    if (job_->source.kind == StudioJob::Source::Kind::phone)
        return "From " + text(job_->source.deviceName);
    return "Imported folder";
}

QString JobDetail::sourceIcon() const {
    if (!job_) return {};
    return job_->source.kind == StudioJob::Source::Kind::phone ? "iphone" : "folder";
}

QString JobDetail::photosText() const {
    return job_ ? QString::number(job_->imageCount) + " photos" : QString();
}

QString JobDetail::captureModeText() const {
    return job_ && job_->captureMode ? text(link::title(*job_->captureMode)) : QString();
}

QString JobDetail::captureModeIcon() const {
    if (!job_ || !job_->captureMode) return {};
    return *job_->captureMode == CaptureMode::classic ? "camera.aperture" : "arkit";
}

QString JobDetail::panel() const {
    if (!job_) return {};
    if (link::isActive(job_->phase)) return "active";
    if (job_->phase == JobPhase::finished) return "result";
    return "start";
}

QString JobDetail::percentText() const {
    return job_ ? text(common::Formatters::percent(job_->fraction)) : QString();
}

QString JobDetail::activityText() const {
    if (!job_) return {};
    if (job_->phase == JobPhase::receiving) return "Receiving";
    return text(job_->stage.value_or(std::string(link::title(job_->phase))));
}

QString JobDetail::remainingText() const {
    if (!job_) return {};
    if (auto left = common::Formatters::duration(job_->secondsRemaining))
        return "About " + text(*left) + " left";
    if (job_->phase == JobPhase::queued) return "Waiting for the current job to finish";
    return {};
}

QString JobDetail::message() const {
    return job_ && job_->message ? text(*job_->message) : QString();
}

QString JobDetail::messageIcon() const {
    return isFailed() ? "exclamationmark.triangle.fill" : "info.circle.fill";
}

bool JobDetail::suggestsSample() const {
    return isFailed() && job_->source.kind == StudioJob::Source::Kind::folder;
}

QString JobDetail::startLabel() const {
    return is(JobPhase::ready) ? "Start Processing" : "Try Again";
}

bool JobDetail::canStart() const {
    return job_ && store_ && store_->photogrammetrySupported() && job_->imageCount >= 10;
}

QString JobDetail::startNote() const {
    if (!job_ || !store_) return {};
    if (!store_->photogrammetrySupported()) return "This computer cannot build models.";
    if (job_->imageCount <= 9) return "At least 10 photos are needed.";
    if (job_->imageCount <= 19) {
        return "Only " + QString::number(job_->imageCount) +
               " photos. Expect a rough model; 40 to 100 work best.";
    }
    return {};
}

fs::path JobDetail::outputFolder() const {
    if (!job_ || !store_) return {};
    return StudioJob::outputFolder(store_->jobsRoot(), job_->id);
}

QString JobDetail::modelPath() const {
    if (!is(JobPhase::finished)) return {};
    return QString::fromStdString((outputFolder() / "model.usdz").string());
}

QVariantList JobDetail::facts() const {
    if (!is(JobPhase::finished)) return {};
    const StudioJob::Outputs outputs = job_->outputs.value_or(StudioJob::Outputs{});
    QVariantList list;
    list.append(fact("Detail", text(link::title(job_->options.detail))));
    if (auto size = common::Formatters::bytes(outputs.usdzBytes))
        list.append(fact("USDZ size", text(*size)));
    if (auto size = common::Formatters::bytes(outputs.glbBytes))
        list.append(fact("GLB size", text(*size)));
    if (auto took = common::Formatters::duration(job_->duration()))
        list.append(fact("Took", text(*took)));
    if (outputs.pointCount) list.append(fact("Points", QLocale().toString(*outputs.pointCount)));
    list.append(fact("Motion data", outputs.usedMotionData ? "Used" : "Not used"));
    if (outputs.maskedImages && *outputs.maskedImages >= 1) {
        list.append(fact("Object found in", QString::number(*outputs.maskedImages) + " of " +
                                                QString::number(job_->imageCount) + " photos"));
    }
    if (outputs.skippedImages >= 1)
        list.append(fact("Skipped photos", QString::number(outputs.skippedImages)));
    return list;
}

QVariantList JobDetail::exports() const {
    if (!is(JobPhase::finished)) return {};
    const StudioJob::Outputs outputs = job_->outputs.value_or(StudioJob::Outputs{});
    QVariantList list;
    list.append(exportEntry("usdz", "USDZ (Apple, AR Quick Look)", "cube.fill"));
    if (outputs.glbBytes)
        list.append(exportEntry("glb", "GLB (Android, Windows, web)", "cube.transparent"));
    if (outputs.hasOBJ) list.append(exportEntry("obj", "OBJ + textures (Blender, Maya)", "folder"));
    if (outputs.hasPointCloud)
        list.append(exportEntry("ply", "Point cloud PLY", "circle.grid.3x3.fill"));
    return list;
}

QStringList JobDetail::notes() const {
    QStringList list;
    if (job_)
        for (const auto& note : job_->notes) list.append(text(note));
    return list;
}

QString JobDetail::objFolderName() const {
    return job_ ? fileName(name(), " OBJ") : QString();
}

void JobDetail::setEditingName(const QString& name) {
    if (name == editingName_) return;
    editingName_ = name;
    emit editingNameChanged();
}

void JobDetail::setDetail(int detail) {
    if (detail < 0 || detail >= int(link::allProcessingDetails.size()) ||
        detail == int(draft_.detail)) {
        return;
    }
    draft_.detail = link::allProcessingDetails[detail];
    emit draftChanged();
}

QString JobDetail::detailSummary() const {
    return text(link::summary(draft_.detail));
}

void JobDetail::setDraft(bool ProcessingOptions::*field, bool on) {
    if (draft_.*field == on) return;
    draft_.*field = on;
    emit draftChanged();
}

void JobDetail::rename() {
    if (job_ && store_) store_->rename(job_->id, editingName_.toStdString());
}

void JobDetail::start() {
    if (!job_ || !store_ || !canStart()) return;
    const Uuid id = job_->id;
    store_->queue(id, draft_, true);
    store_->startNextIfIdle();
}

void JobDetail::stop() {
    if (job_ && store_) store_->stop(job_->id);
}

void JobDetail::showInFolder() {
    if (job_ && store_) studio::showInFolder(StudioJob::folder(store_->jobsRoot(), job_->id));
}

void JobDetail::open() {
    if (!is(JobPhase::finished)) return;
    const bool glb = job_->outputs && job_->outputs->glbBytes;
    const fs::path file = outputFolder() / (glb ? "model.glb" : "model.usdz");
    QPointer<JobStore> store(store_);
    openWithDefaultApplication(file, this, [store](bool opened) {
        if (!opened && store) {
            store->showNotice("Could not open the model",
                              "No application on this computer opens this model. Use Export "
                              "instead.");
        }
    });
}

QString JobDetail::proposedFileName(const QString& kind) const {
    return fileName(name(), "." + kind);
}

QUrl JobDetail::proposedFile(const QString& kind, const QUrl& folder) const {
    return QUrl::fromLocalFile(QDir(folder.toLocalFile()).filePath(proposedFileName(kind)));
}

void JobDetail::exportTo(const QString& kind, const QUrl& destination) {
    if (!is(JobPhase::finished) || !destination.isLocalFile()) return;
    fs::path source = outputFolder();
    fs::path target = destination.toLocalFile().toStdString();
    if (kind == "usdz") {
        source /= "model.usdz";
    } else if (kind == "glb") {
        source /= "model.glb";
    } else if (kind == "ply") {
        source /= "pointcloud.ply";
    } else if (kind == "obj") {
        source /= "OBJ";
        target /= objFolderName().toStdString();
    } else {
        return;
    }
    QPointer<JobDetail> self(this);
    QThreadPool::globalInstance()->start([self, source, target] {
        const auto failure = copyReplacing(source, target);
        QMetaObject::invokeMethod(
            self.data(),
            [self, target, failure] {
                if (!self) return;
                const QString path = QString::fromStdString(target.string());
                if (failure) {
                    emit self->exportFailed(
                        "Could not export " + QString::fromStdString(target.filename().string()),
                        QString::fromStdString(*failure));
                    return;
                }
                studio::showInFolder(target);
                emit self->exportFinished(path);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace pelorin::studio
