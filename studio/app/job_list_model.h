#pragma once

#include <QtQml/qqmlregistration.h>
#include <QAbstractListModel>

#include <vector>

#include "studio/core/jobs/studio_job.h"

namespace pelorin::studio {

class JobStore;

// The job list for QML: one row per job in store order. The store reports a change on every
// progress tick, so rows are matched by job id and moved, inserted, removed or refreshed one by
// one; the model is never reset, and a row's delegate keeps its state while its job changes.
class JobListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application makes the job list")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

  public:
    enum Role {
        JobIdRole = Qt::UserRole + 1,
        NameRole,
        IconRole,
        SubtitleRole,
        FinishedRole,
        FailedRole,
        ActiveRole,
    };

    explicit JobListModel(JobStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(rows_.size()); }
    // The row of a job id text, -1 when it is not listed; and the id text of a row.
    Q_INVOKABLE int indexOf(const QString& jobId) const;
    Q_INVOKABLE QString idAt(int row) const;

    // The texts of a row, shared with the detail's facts.
    static QString icon(JobPhase phase);
    static QString subtitle(const StudioJob& job);

  signals:
    void countChanged();

  private:
    void sync();

    JobStore& store_;
    std::vector<StudioJob> rows_;
};

}  // namespace pelorin::studio
