#include "engine/reconstruction/local/colmap/colmap_runner.h"

#include <malloc.h>

#include "engine/reconstruction/local/colmap/child_process.h"
#include "engine/reconstruction/local/colmap/colmap_progress.h"
#include "engine/reconstruction/local/heap_thresholds.h"

namespace pelorin::engine::local {

bool runColmap(const StepContext& context, const ColmapTool& tool, Step step,
               std::vector<std::string> arguments, int imageCount, bool mayFail) {
    context.checkStop();
    // The pages our own steps freed but kept on the heap would otherwise stay resident beside
    // the child's peak.
    malloc_trim(0);
    arguments.insert(arguments.begin(), tool.program);
    ChildOptions options;
    options.workingDirectory = context.folder();
    // COLMAP links Qt and would look for a display otherwise. Its feature extraction spent a
    // fifth of its time zeroing freshly mapped pages.
    options.environment = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"GLIBC_TUNABLES",
         "glibc.malloc.mmap_threshold=" + std::to_string(heapMapThresholdBytes) +
             ":glibc.malloc.trim_threshold=" + std::to_string(heapTrimThresholdBytes)}};
    auto result = runChild(
        arguments, options,
        [&](std::string_view line) {
            if (auto fraction = colmapLineFraction(line, imageCount))
                context.progress(step, *fraction);
        },
        context.stop());
    context.checkStop();
    if (!result) StepContext::fail(PhotogrammetryError::other(result.error()));
    if (result->succeeded()) return true;
    if (mayFail) return false;
    std::string tail;
    for (const auto& line : result->lastLines) tail += "\n" + line;
    const std::string description = "colmap " + arguments[1] + " failed:" + tail;
    if (tail.find("No space left") != std::string::npos) context.failWriting(description);
    StepContext::fail(PhotogrammetryError::other(description));
}

}  // namespace pelorin::engine::local
