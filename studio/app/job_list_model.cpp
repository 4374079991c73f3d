#include "studio/app/job_list_model.h"

#include <algorithm>

#include "common/formatters.h"
#include "studio/core/jobs/job_store.h"

namespace pelorin::studio {

JobListModel::JobListModel(JobStore& store, QObject* parent)
    : QAbstractListModel(parent), store_(store), rows_(store.jobs()) {
    connect(&store_, &JobStore::jobsChanged, this, &JobListModel::sync);
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QString JobListModel::icon(JobPhase phase) {
    switch (phase) {
        case JobPhase::receiving:
            return "arrow.down.circle";
        case JobPhase::ready:
            return "photo.stack";
        case JobPhase::queued:
        case JobPhase::processing:
            return "gearshape.2.fill";
        case JobPhase::finished:
            return "cube.fill";
        case JobPhase::failed:
            return "exclamationmark.triangle.fill";
        case JobPhase::cancelled:
            return "stop.circle";
    }
    return {};
}

QString JobListModel::subtitle(const StudioJob& job) {
    std::string text;
    switch (job.phase) {
        case JobPhase::receiving:
            text = "Receiving " + std::to_string(job.imageCount) + " of " +
                   std::to_string(job.expectedImageCount.value_or(0));
            break;
        case JobPhase::processing:
            text =
                job.stage.value_or("Processing") + " " + common::Formatters::percent(job.fraction);
            break;
        default:
            text = std::string(link::title(job.phase)) + ", " + std::to_string(job.imageCount) +
                   " photos";
            if (job.captureMode) text += ", " + std::string(link::title(*job.captureMode));
    }
    return QString::fromStdString(text);
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const StudioJob& job = rows_[index.row()];
    switch (role) {
        case JobIdRole:
            return QString::fromStdString(job.id.string());
        case Qt::DisplayRole:
        case NameRole:
            return QString::fromStdString(job.name);
        case IconRole:
            return icon(job.phase);
        case SubtitleRole:
            return subtitle(job);
        case FinishedRole:
            return job.phase == JobPhase::finished;
        case FailedRole:
            return job.phase == JobPhase::failed;
        case ActiveRole:
            return link::isActive(job.phase);
    }
    return {};
}

int JobListModel::indexOf(const QString& jobId) const {
    const auto id = Uuid::parse(jobId.toStdString());
    if (!id) return -1;
    for (int row = 0; row < int(rows_.size()); ++row)
        if (rows_[row].id == *id) return row;
    return -1;
}

QString JobListModel::idAt(int row) const {
    if (row < 0 || row >= int(rows_.size())) return {};
    return QString::fromStdString(rows_[row].id.string());
}

QHash<int, QByteArray> JobListModel::roleNames() const {
    return {{JobIdRole, "jobId"},       {NameRole, "name"},         {IconRole, "symbol"},
            {SubtitleRole, "subtitle"}, {FinishedRole, "finished"}, {FailedRole, "failed"},
            {ActiveRole, "active"}};
}

void JobListModel::sync() {
    const auto& jobs = store_.jobs();
    const int before = int(rows_.size());
    // The common case, a progress tick: same jobs in the same order, one of them changed.
    const bool sameOrder =
        rows_.size() == jobs.size() &&
        std::equal(rows_.begin(), rows_.end(), jobs.begin(),
                   [](const StudioJob& a, const StudioJob& b) { return a.id == b.id; });
    if (sameOrder) {
        for (int row = 0; row < int(rows_.size()); ++row) {
            if (rows_[row] == jobs[row]) continue;
            rows_[row] = jobs[row];
            emit dataChanged(index(row), index(row));
        }
        return;
    }
    // Rows whose job is gone leave first, from the bottom so the indices stay valid.
    for (int row = int(rows_.size()) - 1; row >= 0; --row) {
        const bool kept = std::any_of(jobs.begin(), jobs.end(),
                                      [&](const StudioJob& j) { return j.id == rows_[row].id; });
        if (kept) continue;
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
    // Then each place, top down, gets its job: moved up from further down, or inserted.
    for (int place = 0; place < int(jobs.size()); ++place) {
        const StudioJob& job = jobs[place];
        auto found = std::find_if(rows_.begin() + place, rows_.end(),
                                  [&](const StudioJob& r) { return r.id == job.id; });
        if (found == rows_.end()) {
            beginInsertRows({}, place, place);
            rows_.insert(rows_.begin() + place, job);
            endInsertRows();
            continue;
        }
        const int from = int(found - rows_.begin());
        if (from != place) {
            beginMoveRows({}, from, from, {}, place);
            StudioJob moved = std::move(*found);
            rows_.erase(found);
            rows_.insert(rows_.begin() + place, std::move(moved));
            endMoveRows();
        }
        if (!(rows_[place] == job)) {
            rows_[place] = job;
            emit dataChanged(index(place), index(place));
        }
    }
    if (int(rows_.size()) != before) emit countChanged();
}

}  // namespace pelorin::studio
