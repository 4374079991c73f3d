#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/capture_records.h"
#include "studio/core/studio_job.h"

namespace pelorin::engine {
class PhotogrammetryService;
}

namespace pelorin::studio {

// Owns every job of the application: loads them at start-up and repairs those cut short, writes
// each back when it changes, fills the jobs of phone uploads, queues, stops, renames and deletes
// them, and keeps the one notice waiting for the user. Lives on the main thread and takes no
// locks; work done elsewhere reaches it as a queued call.
class JobStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isImporting READ isImporting NOTIFY isImportingChanged)

  public:
    // The one message waiting to be shown; a newer one replaces it.
    struct Notice {
        std::string title;
        std::string message;
        bool operator==(const Notice&) const = default;
    };

    // Loads every job under `jobsRoot`. Asks the service once whether this computer can
    // reconstruct.
    JobStore(std::filesystem::path jobsRoot, std::shared_ptr<engine::PhotogrammetryService> service,
             QObject* parent = nullptr);
    ~JobStore() override;

    const std::vector<StudioJob>& jobs() const { return jobs_; }
    const StudioJob* job(const Uuid& id) const;
    const std::optional<Notice>& notice() const { return notice_; }
    bool isImporting() const { return isImporting_; }
    bool photogrammetrySupported() const { return photogrammetrySupported_; }
    const std::filesystem::path& jobsRoot() const { return jobsRoot_; }
    std::optional<Uuid> runningJobID() const { return runningJobID_; }

    // Called after every change made through update, and by beginUpload.
    std::function<void(const link::JobStatus&)> onStatusChange;

    void showNotice(const std::string& title, const std::string& message);
    void clearNotice();
    void setImporting(bool importing);

    // Writes the job's folder and "job.json"; a failure shows "Could not save this job".
    bool save(const StudioJob& job);
    // The one road by which jobs change: applies `change` to the job, optionally saves it and
    // reports its status. Nothing happens for an unknown id.
    void update(const Uuid& id, bool save, const std::function<void(StudioJob&)>& change);
    // Puts the job in the queue, with new options when given.
    void queue(const Uuid& id, const std::optional<link::ProcessingOptions>& options, bool save);
    // Cancels the job's run, or takes it out of the queue.
    void stop(const Uuid& id);
    // Starts the oldest queued job when nothing runs.
    void startNextIfIdle();

    // Creates, or starts again, the job of a phone capture.
    void beginUpload(const link::CaptureManifest& manifest, const std::string& deviceName,
                     int existingFiles);
    // Counts one more received photo (in memory only).
    void fileWritten(const Uuid& id);
    // The names the phone still has to send; empty when the upload is complete and queued.
    std::vector<std::string> endUpload(const Uuid& id);
    // Tells the user that a receiving job waits for its phone.
    void markWaitingForPhone(const Uuid& id);

    void rename(const Uuid& id, const std::string& newName);
    void deleteJob(const Uuid& id);

  signals:
    void jobsChanged();
    void noticeChanged();
    void isImportingChanged();

  private:
    friend class JobStoreTestAccess;

    // The run in progress: cancelling it asks the engine to wind down.
    struct RunningTask {
        std::function<void()> cancel;
    };

    void load();
    StudioJob* findJob(const Uuid& id);
    void report(const StudioJob& job);

    const std::filesystem::path jobsRoot_;
    std::shared_ptr<engine::PhotogrammetryService> service_;
    std::vector<StudioJob> jobs_;
    std::optional<Notice> notice_;
    bool isImporting_ = false;
    std::optional<RunningTask> runningTask_;
    std::optional<Uuid> runningJobID_;
    std::map<Uuid, Uuid> attempts_;
    std::map<Uuid, std::filesystem::path> deleteWhenStopped_;
    Date lastProgressSave_ = Date::distantPast();
    const bool photogrammetrySupported_;
};

// The number of photos directly inside a folder, by the same test the engine uses.
int countPhotos(const std::filesystem::path& folder);

}  // namespace pelorin::studio
