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
#include "studio/core/jobs/job_file_writer.h"
#include "studio/core/jobs/job_runner.h"
#include "studio/core/jobs/photo_imports.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::engine {
class PhotogrammetryService;
}  // namespace pelorin::engine

namespace pelorin::studio {

// Owns every job of the application: loads them at start-up and repairs those cut short, writes
// each back when it changes, fills the jobs of phone uploads, queues, stops, renames and deletes
// them, and keeps the one notice waiting for the user. Its runner builds the queued jobs and its
// imports turn chosen photos into jobs. Lives on the main thread and takes no locks; work done
// elsewhere reaches it as a queued call.
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

    using ActivityStarter = JobRunner::ActivityStarter;

    // Loads every job under `jobsRoot`. Asks the service once whether this computer can
    // reconstruct. `write` replaces how job records reach the disk, for tests of a slow or
    // failing disk.
    JobStore(std::filesystem::path jobsRoot, std::shared_ptr<engine::PhotogrammetryService> service,
             ActivityStarter beginActivity = nullptr, JobFileWriter::Write write = nullptr,
             QObject* parent = nullptr);
    ~JobStore() override;

    const std::vector<StudioJob>& jobs() const { return jobs_; }
    const StudioJob* job(const Uuid& id) const;
    const std::optional<Notice>& notice() const { return notice_; }
    bool isImporting() const { return isImporting_; }
    bool photogrammetrySupported() const { return photogrammetrySupported_; }
    const std::filesystem::path& jobsRoot() const { return jobsRoot_; }
    std::optional<Uuid> runningJobID() const { return runner_->runningJobID(); }

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
    void startNextIfIdle() { runner_->startNextIfIdle(); }
    // A new job at the top of the list, saved.
    void add(StudioJob job);
    // Moves a folder of the job out of the jobs and removes it, on the job's writer queue so that
    // it never races a write of the job: a checkpoint or a job holds hundreds of megabytes, too
    // many to delete on the main thread. What a crash leaves behind goes at the next start.
    void discardFolder(const Uuid& id, const std::filesystem::path& folder);

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

    // Imports of photos the user chose (see PhotoImports); `done`, if given, is called on the
    // main thread when one has finished.
    using Done = PhotoImports::Done;
    void importItems(const std::vector<std::filesystem::path>& items, Done done = nullptr) {
        imports_.importItems(items, std::move(done));
    }
    void importFolder(const std::filesystem::path& folder, Done done = nullptr) {
        imports_.importFolder(folder, std::move(done));
    }
    void importPhotos(const std::vector<std::filesystem::path>& photos, Done done = nullptr) {
        imports_.importPhotos(photos, std::move(done));
    }
    void trySample(Done done = nullptr) { imports_.trySample(std::move(done)); }
    void setSampleFolder(std::optional<std::filesystem::path> folder) {
        imports_.setSampleFolder(std::move(folder));
    }

  signals:
    void jobsChanged();
    void noticeChanged();
    void isImportingChanged();

  private:
    void load();
    StudioJob* findJob(const Uuid& id);
    void report(const StudioJob& job);

    const std::filesystem::path jobsRoot_;
    std::vector<StudioJob> jobs_;
    std::optional<Notice> notice_;
    bool isImporting_ = false;
    const bool photogrammetrySupported_;
    PhotoImports imports_;
    // Last but one, so that a run still going is stopped and joined before the jobs go.
    std::unique_ptr<JobRunner> runner_;
    // Last, so that it finishes its writes before anything else of the store goes.
    std::unique_ptr<JobFileWriter> writer_;
};

// The number of photos directly inside a folder, by the same test the engine uses.
int countPhotos(const std::filesystem::path& folder);

}  // namespace pelorin::studio
