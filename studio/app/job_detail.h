#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>

#include <optional>

#include "studio/core/jobs/studio_job.h"

namespace pelorin::studio {

class JobStore;

// What the detail column shows of one job, and its actions. Reads the job from the store on
// every change and announces a change only when the job itself changed. The name being edited and
// the draft options are view state: they are taken from the job when `jobId` changes and reach the
// job only through rename and start.
class JobDetail : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString jobId READ jobId WRITE setJobId NOTIFY jobIdChanged)
    Q_PROPERTY(bool exists READ exists NOTIFY changed)
    Q_PROPERTY(QString name READ name NOTIFY changed)
    Q_PROPERTY(QString phase READ phase NOTIFY changed)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY changed)
    Q_PROPERTY(QString statusIcon READ statusIcon NOTIFY changed)
    Q_PROPERTY(bool isFinished READ isFinished NOTIFY changed)
    Q_PROPERTY(bool isFailed READ isFailed NOTIFY changed)
    Q_PROPERTY(bool isActive READ isActive NOTIFY changed)
    Q_PROPERTY(QString sourceText READ sourceText NOTIFY changed)
    Q_PROPERTY(QString sourceIcon READ sourceIcon NOTIFY changed)
    Q_PROPERTY(QString photosText READ photosText NOTIFY changed)
    Q_PROPERTY(QString captureModeText READ captureModeText NOTIFY changed)
    Q_PROPERTY(QString captureModeIcon READ captureModeIcon NOTIFY changed)
    // "active", "start" or "result".
    Q_PROPERTY(QString panel READ panel NOTIFY changed)
    Q_PROPERTY(double fraction READ fraction NOTIFY changed)
    Q_PROPERTY(QString percentText READ percentText NOTIFY changed)
    Q_PROPERTY(QString activityText READ activityText NOTIFY changed)
    Q_PROPERTY(QString remainingText READ remainingText NOTIFY changed)
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY changed)
    Q_PROPERTY(QString message READ message NOTIFY changed)
    Q_PROPERTY(QString messageIcon READ messageIcon NOTIFY changed)
    Q_PROPERTY(bool showsHint READ showsHint NOTIFY changed)
    Q_PROPERTY(bool suggestsSample READ suggestsSample NOTIFY changed)
    Q_PROPERTY(QString startLabel READ startLabel NOTIFY changed)
    Q_PROPERTY(bool canStart READ canStart NOTIFY changed)
    Q_PROPERTY(QString startNote READ startNote NOTIFY changed)
    Q_PROPERTY(QString modelPath READ modelPath NOTIFY changed)
    // [{label, value}] in the order shown.
    Q_PROPERTY(QVariantList facts READ facts NOTIFY changed)
    // [{kind, label, icon}], the Export menu's entries: kind "usdz", "glb", "obj" or "ply".
    Q_PROPERTY(QVariantList exports READ exports NOTIFY changed)
    Q_PROPERTY(QStringList notes READ notes NOTIFY changed)
    Q_PROPERTY(QString objFolderName READ objFolderName NOTIFY changed)

    Q_PROPERTY(QString editingName READ editingName WRITE setEditingName NOTIFY editingNameChanged)
    Q_PROPERTY(int detail READ detail WRITE setDetail NOTIFY draftChanged)
    Q_PROPERTY(QString detailSummary READ detailSummary NOTIFY draftChanged)
    Q_PROPERTY(bool objectMasking READ objectMasking WRITE setObjectMasking NOTIFY draftChanged)
    Q_PROPERTY(bool isolateSubject READ isolateSubject WRITE setIsolateSubject NOTIFY draftChanged)
    Q_PROPERTY(bool sequentialOrdering READ sequentialOrdering WRITE setSequentialOrdering NOTIFY
                   draftChanged)
    Q_PROPERTY(bool highFeatureSensitivity READ highFeatureSensitivity WRITE
                   setHighFeatureSensitivity NOTIFY draftChanged)
    Q_PROPERTY(bool useMotionData READ useMotionData WRITE setUseMotionData NOTIFY draftChanged)
    Q_PROPERTY(bool exportOBJ READ exportOBJ WRITE setExportOBJ NOTIFY draftChanged)
    Q_PROPERTY(
        bool exportPointCloud READ exportPointCloud WRITE setExportPointCloud NOTIFY draftChanged)

  public:
    // In QML the store is the application's (the Studio singleton's).
    explicit JobDetail(QObject* parent = nullptr);
    JobDetail(JobStore& store, QObject* parent = nullptr);

    QString jobId() const { return jobId_; }
    void setJobId(const QString& id);

    bool exists() const { return job_.has_value(); }
    QString name() const;
    QString phase() const;
    QString statusTitle() const;
    QString statusIcon() const;
    bool isFinished() const { return is(JobPhase::finished); }
    bool isFailed() const { return is(JobPhase::failed); }
    bool isActive() const { return job_ && link::isActive(job_->phase); }
    QString sourceText() const;
    QString sourceIcon() const;
    QString photosText() const;
    QString captureModeText() const;
    QString captureModeIcon() const;
    QString panel() const;
    double fraction() const { return job_ ? job_->fraction : 0; }
    QString percentText() const;
    QString activityText() const;
    QString remainingText() const;
    bool canCancel() const { return isActive() && !is(JobPhase::receiving); }
    QString message() const;
    QString messageIcon() const;
    bool showsHint() const { return isFailed(); }
    bool suggestsSample() const;
    QString startLabel() const;
    bool canStart() const;
    QString startNote() const;
    QString modelPath() const;
    QVariantList facts() const;
    QVariantList exports() const;
    QStringList notes() const;
    QString objFolderName() const;

    QString editingName() const { return editingName_; }
    void setEditingName(const QString& name);
    int detail() const { return int(draft_.detail); }
    void setDetail(int detail);
    QString detailSummary() const;
    bool objectMasking() const { return draft_.objectMasking; }
    void setObjectMasking(bool on) { setDraft(&ProcessingOptions::objectMasking, on); }
    bool isolateSubject() const { return draft_.isolateSubject; }
    void setIsolateSubject(bool on) { setDraft(&ProcessingOptions::isolateSubject, on); }
    bool sequentialOrdering() const { return draft_.sequentialOrdering; }
    void setSequentialOrdering(bool on) { setDraft(&ProcessingOptions::sequentialOrdering, on); }
    bool highFeatureSensitivity() const { return draft_.highFeatureSensitivity; }
    void setHighFeatureSensitivity(bool on) {
        setDraft(&ProcessingOptions::highFeatureSensitivity, on);
    }
    bool useMotionData() const { return draft_.useMotionData; }
    void setUseMotionData(bool on) { setDraft(&ProcessingOptions::useMotionData, on); }
    bool exportOBJ() const { return draft_.exportOBJ; }
    void setExportOBJ(bool on) { setDraft(&ProcessingOptions::exportOBJ, on); }
    bool exportPointCloud() const { return draft_.exportPointCloud; }
    void setExportPointCloud(bool on) { setDraft(&ProcessingOptions::exportPointCloud, on); }

    // Renames the job to the edited name (the store ignores a blank one).
    Q_INVOKABLE void rename();
    // Queues the job with the draft options and starts the runner if idle (Start, Reprocess).
    Q_INVOKABLE void start();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void showInFolder();
    // Opens the model with the default application: the GLB when there is one, else the USDZ.
    Q_INVOKABLE void open();
    // The name proposed in the save dialog for an export kind ("usdz", "glb", "ply"): the job's
    // name as far as the file system allows it.
    Q_INVOKABLE QString proposedFileName(const QString& kind) const;
    // That name inside `folder`, as a file location (a "#" or "?" in it stays part of the name).
    Q_INVOKABLE QUrl proposedFile(const QString& kind, const QUrl& folder) const;
    // Copies an output to the chosen place, off the main thread, replacing what is there; the
    // copy is then shown in the file manager, or exportFailed says why it could not be made.
    // For "obj", `destination` is the chosen folder and the copy goes into it as objFolderName.
    Q_INVOKABLE void exportTo(const QString& kind, const QUrl& destination);

  signals:
    void jobIdChanged();
    void changed();
    void editingNameChanged();
    void draftChanged();
    void exportFinished(const QString& path);
    void exportFailed(const QString& title, const QString& message);
    // Nothing on this computer opens the model.
    void openFailed(const QString& message);

  private:
    bool is(JobPhase phase) const { return job_ && job_->phase == phase; }
    void refresh();
    void setDraft(bool ProcessingOptions::*field, bool on);
    std::filesystem::path outputFolder() const;

    JobStore* store_ = nullptr;
    QString jobId_;
    std::optional<StudioJob> job_;
    QString editingName_;
    ProcessingOptions draft_;
};

}  // namespace pelorin::studio
