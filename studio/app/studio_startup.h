#pragma once

#include <QSettings>

#include <memory>
#include <variant>

#include "link/runtime/link_runtime.h"
#include "studio/core/jobs/job_store.h"
#include "studio/core/phone/studio_link.h"
#include "studio/platform/single_instance.h"

class QCoreApplication;

namespace pelorin::studio {

// The services both modes run, made once per process and in start-up order: one studio per data
// folder, the job store (which loads and repairs every job), the link service over it. The
// members are declared in that order so that they also end in reverse of it.
class StudioServices {
  public:
    // The services, or the exit status when this process should end: 0 when another studio owns
    // the data folder (and was asked to come forward), 1 when the folder cannot be claimed (the
    // reason printed on stderr). Prints the start lines; the link service is not started yet.
    // `hasWindow`: whether this studio shows a window that a second start may raise.
    static std::variant<std::unique_ptr<StudioServices>, int> start(bool hasWindow);

    SingleInstance& instance() { return *instance_; }
    JobStore& store() { return store_; }
    StudioLink& link() { return link_; }
    QSettings& preferences() { return preferences_; }

  private:
    explicit StudioServices(std::unique_ptr<SingleInstance> instance);

    std::unique_ptr<SingleInstance> instance_;
    JobStore store_;
    link::LinkRuntime runtime_;
    QSettings preferences_;
    StudioLink link_;
};

// Names the application for its settings and the desktop; call before anything reads them.
void nameApplication();

// Ctrl-C or a polite kill ends the event loop as Quit does, so that a running job is stopped and
// waited for and every object goes in order.
void quitOnSignals(QCoreApplication& app);

// Anything left after Qt took its own options is not ours: prints the usage and gives status 2.
bool hasUnknownArguments();

}  // namespace pelorin::studio
