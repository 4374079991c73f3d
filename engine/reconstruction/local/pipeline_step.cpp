#include "engine/reconstruction/local/pipeline_step.h"

#include "engine/reconstruction/local/resource_probes.h"

namespace pelorin::engine::local {

namespace {
// Below this a failed write is taken for a full disk.
constexpr std::int64_t nearlyFullBytes = 64 << 20;
}  // namespace

void StepContext::finish(Step step) const {
    auto marked = checkpoint_.markDone(stepName(step));
    if (!marked) failWriting(marked.error().description());
    progress(step, 1.0);
}

PhotogrammetryError StepContext::writeError(const std::string& description) const {
    if (const auto free = freeDiskBytes(folder()); free && *free < nearlyFullBytes)
        return {PhotogrammetryError::Kind::insufficientStorage, bytesNeeded_ - *free, description};
    return {PhotogrammetryError::Kind::invalidOutput, 0, description};
}

void StepContext::write(std::string_view name, std::string_view contents) const {
    auto written = checkpoint_.write(name, contents);
    if (!written) failWriting(written.error().description());
}

}  // namespace pelorin::engine::local
