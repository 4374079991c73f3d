#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/records/capture_records.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::engine {
class PhotogrammetryService;
struct EngineProgress;
struct EngineOutput;
struct EngineError;
}  // namespace pelorin::engine

namespace pelorin::studio {

class JobFileWriter;

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

    // Keeps the computer from idle sleep while a job runs: called with the reason when a run
    // starts; the run holds what it returns until it ends.
    using ActivityStarter = std::function<std::shared_ptr<void>(const std::string& reason)>;

    // Loads every job under `jobsRoot`. Asks the service once whether this computer can
    // reconstruct.
    JobStore(std::filesystem::path jobsRoot, std::shared_ptr<engine::PhotogrammetryService> service,
             ActivityStarter beginActivity = nullptr, QObject* parent = nullptr);
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

    // Hands the job's record to its background writer, which makes the folder and replaces
    // "job.json"; the newest state handed over is the one that ends on disk. A failure shows
    // "Could not save this job" when the writer reports it.
    void save(const StudioJob& job);
    // Blocks until every record and folder removal handed to the writer is done: for tests and
    // tools, never the window's thread while it runs.
    void waitForWrites();
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

    // Imports of photos the user chose; each runs its search and copies on a worker thread and
    // calls `done`, if given, on the main thread when it has finished.
    using Done = std::function<void()>;
    // Dropped or chosen items: the first folder, else all photos, else a notice.
    void importItems(const std::vector<std::filesystem::path>& items, Done done = nullptr);
    void importFolder(const std::filesystem::path& folder, Done done = nullptr);
    void importPhotos(const std::vector<std::filesystem::path>& photos, Done done = nullptr);
    // Imports the built-in sample set and queues it.
    void trySample(Done done = nullptr);
    // Where the built-in sample set lives; nothing when it is not installed.
    void setSampleFolder(std::optional<std::filesystem::path> folder) {
        sampleFolder_ = std::move(folder);
    }

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
    // Moves a folder of the job out of the jobs and removes it, on the job's writer queue so that
    // it never races a write of the job: a checkpoint or a job holds hundreds of megabytes, too
    // many to delete on the main thread. What a crash leaves behind goes at the next start.
    void discardFolder(const Uuid& id, const std::filesystem::path& folder);
    StudioJob* findJob(const Uuid& id);
    void report(const StudioJob& job);

    // The runner half.
    void runJob(const StudioJob& job);
    void applyProgress(const Uuid& id, const Uuid& token, const engine::EngineProgress& progress);
    void completeJob(const Uuid& id, const engine::EngineOutput& output);
    void endJob(const Uuid& id, JobPhase phase, std::optional<std::string> message);
    void finishRun(const Uuid& id, const Uuid& token);
    bool isCurrent(const Uuid& id, const Uuid& token) const;

    // The imports half.
    void createJobFromPhotos(std::vector<std::filesystem::path> photos, std::string provisionalName,
                             std::optional<std::filesystem::path> manifestCandidate,
                             std::optional<std::string> message, Done done);

    const std::filesystem::path jobsRoot_;
    std::shared_ptr<engine::PhotogrammetryService> service_;
    std::vector<StudioJob> jobs_;
    std::optional<Notice> notice_;
    bool isImporting_ = false;
    std::optional<RunningTask> runningTask_;
    // The engine's worker; joined when its run has been wound up on the main thread.
    std::unique_ptr<std::jthread> runThread_;
    ActivityStarter beginActivity_;
    std::shared_ptr<void> busyActivity_;
    std::optional<std::filesystem::path> sampleFolder_;
    std::optional<Uuid> runningJobID_;
    std::map<Uuid, Uuid> attempts_;
    std::map<Uuid, std::filesystem::path> deleteWhenStopped_;
    Date lastProgressSave_ = Date::distantPast();
    const bool photogrammetrySupported_;
    // Last, so that it finishes its writes before anything else of the store goes.
    std::unique_ptr<JobFileWriter> writer_;
};

// The number of photos directly inside a folder, by the same test the engine uses.
int countPhotos(const std::filesystem::path& folder);

}  // namespace pelorin::studio
