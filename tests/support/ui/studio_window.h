#pragma once

#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine/reconstruction/replay/replay_backend.h"
#include "link/runtime/link_runtime.h"
#include "studio/app/studio_shell.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio::testing {

// A job record for seeding the jobs folder before the studio starts.
StudioJob seededJob(const std::string& name, JobPhase phase, int imageCount,
                    StudioJob::Source source = StudioJob::Source::folder());

// The whole studio as the application makes it (store, link service, window state and the main
// window's QML), over a scratch jobs folder and the replay backend. Jobs written with seed()
// before start() are loaded by the store as at a real start.
class StudioWindow {
  public:
    // With the replay backend unless another service is given.
    explicit StudioWindow(std::shared_ptr<engine::PhotogrammetryService> service = nullptr);
    ~StudioWindow();

    const std::filesystem::path& jobsRoot() const { return jobsRoot_; }
    // Writes the job's record (and, for a finished job, a model and the outputs it names).
    void seed(const StudioJob& job);
    void setPreference(const char* key, const QVariant& value) {
        preferences_->setValue(key, value);
    }
    // The pairing code the link service starts with.
    void setPairingCode(const std::string& code);
    void setReplayScript(engine::ReplayScript script) { backend_->setScript(std::move(script)); }
    // Makes the store, the service and the window, and waits until the window is exposed.
    void start(std::optional<std::filesystem::path> sampleFolder = std::nullopt,
               bool supported = true);

    JobStore& store() { return *store_; }
    StudioLink& link() { return *link_; }
    StudioShell& shell() { return *shell_; }
    QQuickWindow& window() { return *window_; }

    // The first item of that object name under the window's content (popups included).
    QQuickItem* item(const char* objectName) const;
    // A popup, menu or dialog by object name.
    QObject* popup(const char* objectName) const;
    // Visible on screen (the item and every parent), or for a popup, open.
    bool shows(const char* objectName) const;
    // Every visible item of that object name in the drawn tree, popups included.
    QList<QQuickItem*> drawn(const char* objectName) const;
    // The texts of the open menu's entries, in order.
    QStringList menuEntries() const;
    // The visible button or menu entry with that text, popups included.
    QQuickItem* button(const QString& text) const;
    // Every text drawn by visible Text items under `item` (the whole window when null).
    QStringList texts(QQuickItem* under = nullptr) const;
    bool showsText(const QString& text) const { return texts().contains(text); }
    // Selects a job and waits for the detail to follow.
    void select(const Uuid& id);
    // Clicks the middle of an item.
    void click(QQuickItem* item);
    QImage screenshot();

  private:
    pelorin::testing::ScratchFolder scratch_;
    std::filesystem::path jobsRoot_;
    std::unique_ptr<QSettings> preferences_;
    std::shared_ptr<engine::ReplayBackend> backend_;
    std::shared_ptr<engine::PhotogrammetryService> service_;
    link::LinkRuntime runtime_;
    std::unique_ptr<JobStore> store_;
    std::unique_ptr<StudioLink> link_;
    std::unique_ptr<StudioShell> shell_;
    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow* window_ = nullptr;
};

// Seeds two ready jobs of 30 photos, named `first` and `second`, and starts the studio; returns
// both, nothing selected.
std::pair<StudioJob, StudioJob> startWithTwoReadyJobs(StudioWindow& studio,
                                                      const std::string& first,
                                                      const std::string& second);

}  // namespace pelorin::studio::testing
