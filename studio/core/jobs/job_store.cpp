#include "studio/core/jobs/job_store.h"

#include <algorithm>

#include "common/unicode_text.h"
#include "engine/photos/photo_finder.h"
#include "engine/reconstruction/photogrammetry_service.h"
#include "link/records/manifest_file.h"
#include "studio/core/jobs/job_file.h"
#include "studio/core/jobs/job_file_writer.h"

namespace pelorin::studio {

namespace {

constexpr const char* deletedPrefix = ".deleted-";

}  // namespace

int countPhotos(const std::filesystem::path& folder) {
    return static_cast<int>(engine::PhotoFinder::photoURLs(folder).size());
}

JobStore::JobStore(std::filesystem::path jobsRoot,
                   std::shared_ptr<engine::PhotogrammetryService> service,
                   ActivityStarter beginActivity, JobFileWriter::Write write, QObject* parent)
    : QObject(parent),
      jobsRoot_(std::move(jobsRoot)),
      photogrammetrySupported_(service && service->isSupported()),
      imports_(*this),
      runner_(std::make_unique<JobRunner>(*this, std::move(service), std::move(beginActivity))),
      writer_(std::make_unique<JobFileWriter>(
          jobsRoot_, this,
          [this](const StudioJob& job, const std::string& reason) {
              showNotice("Could not save this job", job.name + ": " + reason);
          },
          std::move(write))) {
    load();
}

JobStore::~JobStore() {
    // Stop and wait for a run still going, so that it never reports to a store that is gone.
    runner_.reset();
}

void JobStore::load() {
    std::error_code error;
    std::filesystem::create_directories(jobsRoot_, error);

    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(jobsRoot_, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path());
    }

    std::vector<StudioJob> loaded;
    for (const auto& entry : entries) {
        if (entry.filename().string().starts_with(deletedPrefix)) {
            std::error_code ignored;
            std::filesystem::remove_all(entry, ignored);
            continue;
        }
        auto job = readJobFile(entry);
        if (!job) continue;
        switch (job->phase) {
            case JobPhase::queued:
            case JobPhase::processing:
                job->phase = JobPhase::ready;
                job->fraction = 0;
                job->message = "Processing was interrupted. Press Start to continue.";
                break;
            case JobPhase::receiving:
                job->message = "Waiting for the phone to reconnect. The upload will continue.";
                break;
            default:
                break;
        }
        loaded.push_back(std::move(job.value()));
    }
    std::stable_sort(loaded.begin(), loaded.end(), [](const StudioJob& a, const StudioJob& b) {
        return a.createdAt > b.createdAt;
    });
    if (loaded != jobs_) {
        jobs_ = std::move(loaded);
        emit jobsChanged();
    }
}

const StudioJob* JobStore::job(const Uuid& id) const {
    auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const StudioJob& j) { return j.id == id; });
    return it == jobs_.end() ? nullptr : &*it;
}

StudioJob* JobStore::findJob(const Uuid& id) {
    return const_cast<StudioJob*>(job(id));
}

void JobStore::report(const StudioJob& job) {
    if (onStatusChange) onStatusChange(job.status());
}

void JobStore::showNotice(const std::string& title, const std::string& message) {
    Notice notice{title, message};
    if (notice_ == notice) return;
    notice_ = std::move(notice);
    emit noticeChanged();
}

void JobStore::clearNotice() {
    if (!notice_) return;
    notice_.reset();
    emit noticeChanged();
}

void JobStore::setImporting(bool importing) {
    if (isImporting_ == importing) return;
    isImporting_ = importing;
    emit isImportingChanged();
}

void JobStore::save(const StudioJob& job) {
    writer_->write(job);
}

void JobStore::waitForWrites() {
    writer_->waitForDone();
}

void JobStore::update(const Uuid& id, bool save, const std::function<void(StudioJob&)>& change) {
    StudioJob* job = findJob(id);
    if (!job) return;
    const StudioJob before = *job;
    change(*job);
    if (*job != before) emit jobsChanged();
    if (save) this->save(*job);
    report(*job);
}

void JobStore::queue(const Uuid& id, const std::optional<link::ProcessingOptions>& options,
                     bool save) {
    update(id, save, [&](StudioJob& job) {
        if (options) job.options = *options;
        job.phase = JobPhase::queued;
        job.fraction = 0;
        job.stage.reset();
        job.secondsRemaining.reset();
        job.message.reset();
        job.notes.clear();
    });
}

void JobStore::stop(const Uuid& id) {
    if (runner_->cancel(id)) return;
    const StudioJob* existing = job(id);
    if (existing && existing->phase == JobPhase::queued) {
        update(id, true, [](StudioJob& job) {
            job.phase = JobPhase::cancelled;
            job.message.reset();
        });
    }
}

void JobStore::beginUpload(const link::CaptureManifest& manifest, const std::string& deviceName,
                           int existingFiles) {
    const Uuid& id = manifest.id;
    runner_->cancel(id);
    runner_->forget(id);

    StudioJob job;
    job.id = id;
    job.name = manifest.name;
    job.source = StudioJob::Source::phone(deviceName);
    job.createdAt = manifest.createdAt;
    job.imageCount = existingFiles;
    const int expected = static_cast<int>(manifest.images.size());
    job.expectedImageCount = expected;
    job.options = manifest.options;
    job.phase = JobPhase::receiving;
    job.fraction = expected > 0 ? static_cast<double>(existingFiles) / expected : 0;
    job.captureMode = manifest.captureMode;
    if (existingFiles >= 1) {
        job.message = "Resuming: " + std::to_string(existingFiles) + " of " +
                      std::to_string(expected) + " photos were already here.";
    }

    std::erase_if(jobs_, [&](const StudioJob& j) { return j.id == id; });
    jobs_.insert(jobs_.begin(), job);
    emit jobsChanged();
    save(job);
    report(job);
}

void JobStore::add(StudioJob job) {
    jobs_.insert(jobs_.begin(), std::move(job));
    emit jobsChanged();
    save(jobs_.front());
}

void JobStore::fileWritten(const Uuid& id) {
    update(id, false, [](StudioJob& job) {
        job.imageCount += 1;
        if (job.expectedImageCount && *job.expectedImageCount > 0) {
            job.fraction = static_cast<double>(job.imageCount) / *job.expectedImageCount;
        }
    });
}

std::vector<std::string> JobStore::endUpload(const Uuid& id) {
    const std::string manifestName(link::CaptureManifest::fileName);
    const StudioJob* existing = job(id);
    if (!existing) return {manifestName};
    if (existing->phase != JobPhase::receiving) return {};

    const auto images = StudioJob::imagesFolder(jobsRoot_, id);
    const int count = countPhotos(images);
    const auto manifest = link::readManifest(images);
    std::vector<std::string> missing;
    if (manifest) missing = manifest->missingFiles(images);

    const bool short_ = existing->expectedImageCount && *existing->expectedImageCount > count;
    if (!manifest || !missing.empty() || short_) {
        std::string message;
        if (missing.empty()) {
            message = "Waiting for the phone to send the capture again.";
        } else if (missing.size() == 1) {
            message = "Waiting for 1 more photo from the phone.";
        } else {
            message =
                "Waiting for " + std::to_string(missing.size()) + " more photos from the phone.";
        }
        update(id, true, [&](StudioJob& job) { job.message = message; });
        if (missing.empty()) return {manifestName};
        return missing;
    }

    update(id, true, [&](StudioJob& job) {
        job.imageCount = count;
        job.fraction = 0;
        job.message.reset();
    });
    queue(id, std::nullopt, true);
    startNextIfIdle();
    if (count < 20) {
        update(id, true, [&](StudioJob& job) {
            job.addNote("Only " + std::to_string(count) +
                        " photos. Models need at least 20; 40 to 100 work best.");
        });
    }
    return {};
}

void JobStore::markWaitingForPhone(const Uuid& id) {
    update(id, true, [](StudioJob& job) {
        job.message = "Waiting for the iPhone to reconnect. The upload will continue.";
    });
}

void JobStore::rename(const Uuid& id, const std::string& newName) {
    const std::string name = common::trimmedWhiteSpace(newName);
    if (name.empty()) return;
    update(id, true, [&](StudioJob& job) { job.name = name; });
}

void JobStore::discardFolder(const Uuid& id, const std::filesystem::path& folder) {
    const auto aside = jobsRoot_ / (deletedPrefix + Uuid::random().string());
    writer_->run(id, [folder, aside] {
        std::error_code error;
        if (!std::filesystem::exists(folder, error)) return;
        std::filesystem::rename(folder, aside, error);
        std::filesystem::remove_all(error ? folder : aside, error);
    });
}

void JobStore::deleteJob(const Uuid& id) {
    const bool wasRunning = runner_->runningJobID() == id;
    stop(id);
    runner_->forget(id);
    const auto erased = std::erase_if(jobs_, [&](const StudioJob& j) { return j.id == id; });
    if (erased > 0) emit jobsChanged();

    // A record not yet written would make the folder again.
    writer_->forget(id);
    const auto folder = StudioJob::folder(jobsRoot_, id);
    if (!wasRunning) {
        discardFolder(id, folder);
        return;
    }
    // The run still writes into the folder until it has wound down; move it out of sight and
    // let the runner remove it when the run ends. Should the move fail, the runner's removal of
    // the old place (unless the capture has come back) takes the folder instead.
    const auto aside = jobsRoot_ / (deletedPrefix + Uuid::random().string());
    writer_->run(id, [folder, aside] {
        std::error_code ignored;
        std::filesystem::rename(folder, aside, ignored);
    });
    runner_->removeWhenStopped(id, aside);
}

}  // namespace pelorin::studio
