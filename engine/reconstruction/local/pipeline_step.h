#pragma once

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

#include "engine/reconstruction/local/checkpoint.h"
#include "engine/reconstruction/local/run_progress.h"
#include "engine/reconstruction/photogrammetry_service.h"

namespace pelorin::engine::local {

// A step ends early by throwing one of these; the pipeline turns them into the service's
// events on its own thread.
struct StepCancelled {};
struct StepFailure {
    PhotogrammetryError error;
};

// What every step is handed: the checkpoint folder it reads its inputs from and writes its
// outputs into, progress, the service's event stream, and the stop token.
class StepContext {
  public:
    StepContext(Checkpoint& checkpoint, RunProgress& progress,
                std::function<void(PhotogrammetryEvent)> emit, std::stop_token stop,
                unsigned threads)
        : checkpoint_(checkpoint),
          progress_(progress),
          emit_(std::move(emit)),
          stop_(std::move(stop)),
          threads_(threads) {}

    const std::filesystem::path& folder() const { return checkpoint_.folder(); }
    std::filesystem::path operator/(std::string_view name) const { return checkpoint_ / name; }
    const std::stop_token& stop() const { return stop_; }
    unsigned threads() const { return threads_; }

    void emit(PhotogrammetryEvent event) const { emit_(std::move(event)); }
    void progress(Step step, double within) const { progress_.report(step, within); }

    bool done(Step step) const { return checkpoint_.done(stepName(step)); }
    // Marks the step finished in the checkpoint and reports it whole.
    void finish(Step step) const;

    void checkStop() const {
        if (stop_.stop_requested()) throw StepCancelled{};
    }
    [[noreturn]] static void fail(PhotogrammetryError error) {
        throw StepFailure{std::move(error)};
    }
    // A failed write: a full disk when the disk is (nearly) full, else an output error.
    PhotogrammetryError writeError(const std::string& description) const;
    [[noreturn]] void failWriting(const std::string& description) const {
        fail(writeError(description));
    }
    // Writes a checkpoint file or fails the step.
    void write(std::string_view name, std::string_view contents) const;

    // How much the checkpoint will need, for the full-disk error; known once photos are counted.
    void setBytesNeeded(std::int64_t bytes) { bytesNeeded_ = bytes; }
    std::int64_t bytesNeeded() const { return bytesNeeded_; }

  private:
    Checkpoint& checkpoint_;
    RunProgress& progress_;
    std::function<void(PhotogrammetryEvent)> emit_;
    std::stop_token stop_;
    unsigned threads_;
    std::int64_t bytesNeeded_ = 0;
};

}  // namespace pelorin::engine::local
