#include "engine/reconstruction/local/local_backend.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/reconstruction/local/colmap/child_process.h"
#include "engine/reconstruction/local/detail_plan.h"
#include "engine/reconstruction/photo_sample.h"
#include "engine/reconstruction/photogrammetry_engine.h"

namespace pelorin::engine::local {

namespace {

// Runs the pipeline on its own thread and hands its events out one by one.
class LocalSession : public PhotogrammetrySession {
  public:
    LocalSession(SampleSource samples, PhotogrammetryConfiguration configuration, ColmapTool colmap,
                 PipelineOptions options)
        : samples_(std::move(samples)),
          configuration_(std::move(configuration)),
          colmap_(std::move(colmap)),
          options_(std::move(options)) {}

    ~LocalSession() override {
        worker_.request_stop();
        if (worker_.joinable()) worker_.join();
    }

    std::optional<PhotogrammetryError> process(
        const std::vector<PhotogrammetryRequest>& requests) override {
        std::lock_guard guard(lock_);
        if (started_) return PhotogrammetryError::other("The session is already processing.");
        if (requests.empty()) return PhotogrammetryError::other("Nothing was requested.");
        for (const auto& request : requests) {
            if (request.kind == PhotogrammetryRequest::Kind::modelFile && request.url.empty())
                return PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput, 0,
                                           "A model request has no location."};
        }
        started_ = true;
        requests_ = requests;
        worker_ = std::jthread([this](std::stop_token stop) {
            std::stop_callback forward(stop, [this] { cancelSource_.request_stop(); });
            runReconstruction(
                samples_, configuration_, requests_,
                [this](PhotogrammetryEvent event) { push(std::move(event)); },
                cancelSource_.get_token(), colmap_, options_);
        });
        return std::nullopt;
    }

    pelorin::Expected<std::optional<PhotogrammetryEvent>, PhotogrammetryError> nextEvent()
        override {
        std::unique_lock guard(lock_);
        if (!started_) return std::optional<PhotogrammetryEvent>();
        ready_.wait(guard, [this] { return !queue_.empty() || ended_; });
        if (queue_.empty()) return std::optional<PhotogrammetryEvent>();
        PhotogrammetryEvent event = std::move(queue_.front());
        queue_.pop_front();
        return std::optional<PhotogrammetryEvent>(std::move(event));
    }

    void cancel() override {
        std::lock_guard guard(lock_);
        cancelSource_.request_stop();
    }

  private:
    void push(PhotogrammetryEvent event) {
        const bool last = std::holds_alternative<events::ProcessingComplete>(event) ||
                          std::holds_alternative<events::ProcessingCancelled>(event);
        std::lock_guard guard(lock_);
        if (ended_) return;
        queue_.push_back(std::move(event));
        if (last) ended_ = true;
        ready_.notify_all();
    }

    SampleSource samples_;
    const PhotogrammetryConfiguration configuration_;
    const ColmapTool colmap_;
    const PipelineOptions options_;
    std::vector<PhotogrammetryRequest> requests_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<PhotogrammetryEvent> queue_;
    bool started_ = false;
    bool ended_ = false;
    std::stop_source cancelSource_;
    std::jthread worker_;
};

}  // namespace

LocalBackend::LocalBackend(ColmapTool colmap, PipelineOptions options)
    : colmap_(std::move(colmap)), options_(std::move(options)) {}

bool LocalBackend::isSupported() const {
    if (!supported_) {
        auto result = runChild({colmap_.program, "help"}, {}, {}, {});
        supported_ = result && result->exitCode == 0;
    }
    return *supported_;
}

pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
LocalBackend::makeSession(const std::filesystem::path& folder,
                          const PhotogrammetryConfiguration& configuration) {
    auto photos = std::make_shared<std::vector<std::filesystem::path>>(
        PhotogrammetryEngine::photoURLs(folder));
    auto next = std::make_shared<std::size_t>(0);
    // The folder's photos in the finder's order, each decoded only when its turn comes, no
    // larger than the finest detail's working images need (the detail comes later, with the
    // requests). An unreadable photo comes as an empty image with the reason, so that it is
    // reported.
    const int leastLongSide = planFor(RequestDetail::full).workingSide;
    SampleSource source = [photos, next, leastLongSide]() -> std::optional<PhotogrammetrySample> {
        if (*next >= photos->size()) return std::nullopt;
        const std::size_t index = (*next)++;
        const auto& photo = (*photos)[index];
        auto loaded = loadPhotoSample(photo, leastLongSide);
        PhotogrammetrySample sample;
        if (loaded)
            sample = std::move(loaded.value());
        else
            sample.metadata["error"] = loaded.error().description;
        sample.id = static_cast<std::int64_t>(index);
        sample.sourceFile = photo;
        return sample;
    };
    return makeSession(std::move(source), configuration);
}

pelorin::Expected<std::unique_ptr<PhotogrammetrySession>, PhotogrammetryError>
LocalBackend::makeSession(SampleSource samples, const PhotogrammetryConfiguration& configuration) {
    if (!isSupported())
        return pelorin::unexpected(PhotogrammetryError::other("COLMAP does not run here."));
    if (configuration.checkpointDirectory.empty())
        return pelorin::unexpected(PhotogrammetryError{PhotogrammetryError::Kind::invalidOutput, 0,
                                                       "No checkpoint folder was given."});
    return std::unique_ptr<PhotogrammetrySession>(
        std::make_unique<LocalSession>(std::move(samples), configuration, colmap_, options_));
}

pelorin::Expected<PhotogrammetrySample, PhotogrammetryError> LocalBackend::loadSample(
    const std::filesystem::path& photo) {
    auto sample = loadPhotoSample(photo);
    if (sample) sample->sourceFile = photo;
    return sample;
}

}  // namespace pelorin::engine::local
