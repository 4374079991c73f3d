#include "studio/core/jobs/job_file_writer.h"

#include <QMetaObject>

#include "studio/core/jobs/job_file.h"

namespace pelorin::studio {

JobFileWriter::JobFileWriter(std::filesystem::path root, QObject* context, Failed failed,
                             Write write)
    : root_(std::move(root)),
      context_(context),
      failed_(std::move(failed)),
      write_(write ? std::move(write) : Write(&writeJobFile)) {
    // Jobs are independent: two can be written at once, but never one job twice at once.
    pool_.setMaxThreadCount(2);
}

JobFileWriter::~JobFileWriter() {
    waitForDone();
}

void JobFileWriter::write(const StudioJob& job) {
    {
        std::lock_guard lock(mutex_);
        auto it = queues_.find(job.id);
        if (it != queues_.end() && !it->second.tasks.empty() && it->second.tasks.back().record) {
            it->second.tasks.back().record = job;
            return;
        }
    }
    enqueue(job.id, Task{job, {}});
}

void JobFileWriter::run(const Uuid& id, std::function<void()> work) {
    enqueue(id, Task{std::nullopt, std::move(work)});
}

void JobFileWriter::forget(const Uuid& id) {
    std::lock_guard lock(mutex_);
    if (auto it = queues_.find(id); it != queues_.end())
        std::erase_if(it->second.tasks, [](const Task& task) { return task.record.has_value(); });
}

void JobFileWriter::waitForDone() {
    pool_.waitForDone();
}

void JobFileWriter::enqueue(const Uuid& id, Task task) {
    std::lock_guard lock(mutex_);
    Queue& queue = queues_[id];
    queue.tasks.push_back(std::move(task));
    if (queue.draining) return;
    queue.draining = true;
    pool_.start([this, id] { drain(id); });
}

void JobFileWriter::drain(const Uuid& id) {
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            auto it = queues_.find(id);
            if (it->second.tasks.empty()) {
                queues_.erase(it);
                return;
            }
            task = std::move(it->second.tasks.front());
            it->second.tasks.pop_front();
        }
        perform(task);
    }
}

void JobFileWriter::perform(Task& task) {
    if (!task.record) {
        task.work();
        return;
    }
    auto failure = write_(root_, *task.record);
    if (!failure) return;
    // The writer outlives no store (its destructor waits), so the context is alive here; a
    // queued call to it is dropped if it goes before the call is delivered.
    QMetaObject::invokeMethod(
        context_,
        [failed = failed_, job = std::move(*task.record), reason = std::move(*failure)] {
            failed(job, reason);
        },
        Qt::QueuedConnection);
}

}  // namespace pelorin::studio
