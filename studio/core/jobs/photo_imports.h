#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::studio {

class JobStore;

// Photos the user chose become the store's jobs: dropped or chosen items are classified, a folder
// is searched for its photos, and the photos are copied into a new job. Searching and copying run
// on the worker pool; their results come back to the main thread.
class PhotoImports {
  public:
    // Called on the main thread when an import has finished, whatever its outcome.
    using Done = std::function<void()>;

    explicit PhotoImports(JobStore& store) : store_(store) {}

    // Dropped or chosen items: the first folder, else all photos, else a notice.
    void importItems(const std::vector<std::filesystem::path>& items, Done done);
    void importFolder(const std::filesystem::path& folder, Done done);
    void importPhotos(const std::vector<std::filesystem::path>& photos, Done done);
    // Imports the built-in sample set and queues it.
    void trySample(Done done);
    // Where the built-in sample set lives; nothing when it is not installed.
    void setSampleFolder(std::optional<std::filesystem::path> folder) {
        sampleFolder_ = std::move(folder);
    }

  private:
    void createJob(std::vector<std::filesystem::path> photos, std::string provisionalName,
                   std::optional<std::filesystem::path> manifestCandidate,
                   std::optional<std::string> message, Done done);

    JobStore& store_;
    std::optional<std::filesystem::path> sampleFolder_;
};

}  // namespace pelorin::studio
