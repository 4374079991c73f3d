#pragma once

#include <QObject>
#include <QThreadPool>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/uuid.h"
#include "studio/core/jobs/studio_job.h"

namespace pelorin::studio {

// Writes job records off the main thread, on one serial queue per job: the caller hands over the
// newest state and goes on. A state whose write has not begun is replaced by a newer one, so the
// file ends as the last state handed over however slow the disk is. Other work on a job's folder
// (removing it) joins the same queue, so that it never races a write of that job.
class JobFileWriter {
  public:
    // Writes one record; the system's reason when it could not. A parameter so that a test can
    // stand in for a slow disk.
    using Write =
        std::function<std::optional<std::string>(const std::filesystem::path&, const StudioJob&)>;
    // Runs on `context`'s thread with the state that could not be written and the reason.
    using Failed = std::function<void(const StudioJob&, const std::string&)>;

    JobFileWriter(std::filesystem::path root, QObject* context, Failed failed,
                  Write write = nullptr);
    // Lets every queued write land: a change made just before quitting is not lost.
    ~JobFileWriter();
    JobFileWriter(const JobFileWriter&) = delete;
    JobFileWriter& operator=(const JobFileWriter&) = delete;

    void write(const StudioJob& job);
    // Runs `work` on the job's queue, after everything queued for it so far.
    void run(const Uuid& id, std::function<void()> work);
    // Drops the job's writes that have not begun: its folder is about to go, and a late write
    // would make it again.
    void forget(const Uuid& id);
    // Blocks until every queue is empty.
    void waitForDone();

  private:
    struct Task {
        std::optional<StudioJob> record;
        std::function<void()> work;
    };
    struct Queue {
        std::deque<Task> tasks;
        bool draining = false;
    };

    void enqueue(const Uuid& id, Task task);
    void drain(const Uuid& id);
    void perform(Task& task);

    const std::filesystem::path root_;
    QObject* const context_;
    Failed failed_;
    Write write_;
    std::mutex mutex_;
    std::map<Uuid, Queue> queues_;  // under mutex_
    QThreadPool pool_;
};

}  // namespace pelorin::studio
