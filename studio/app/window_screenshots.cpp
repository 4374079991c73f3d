// The pictures of the README and the AppStream file, from a real run: the studio's window
// process with the real backend, driven through the X server as a person drives it. The welcome
// page; the pairing panel with one phone (pelorin-phone) connected; the sample statue being
// built, mid-way; and the finished model. Needs a display (xvfb-run) and takes as long as the
// sample takes to build at its detail (medium). scripts/screenshots.sh runs it.
//
//   window_screenshots --phone <pelorin-phone> [--out <folder>]
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <optional>

#include "studio/app/window_process.h"
#include "studio/core/jobs/job_file.h"
#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace {

using namespace pelorin;
using namespace pelorin::studio;
using namespace pelorin::studio::testing;
using namespace std::chrono_literals;
using pelorin::testing::waitUntil;
namespace fs = std::filesystem;

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "window_screenshots: %s\n", why);
    std::exit(1);
}

// The one job in the jobs folder, as last written.
std::optional<StudioJob> onlyJob(const fs::path& jobs) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(jobs, error)) {
        if (entry.path().filename().string().starts_with(".")) continue;
        if (auto job = readJobFile(entry.path())) return *job;
    }
    return std::nullopt;
}

void save(const QRect& frame, const QString& folder, const char* name) {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(frame);
    const QString file = QDir(folder).filePath(QString(name) + ".png");
    if (!shot.save(file)) fail("a picture could not be saved");
    std::printf("%s\n", file.toUtf8().constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    QString phone, out = "docs/screenshots";
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString option = argv[i];
        if (option == "--phone") phone = argv[i + 1];
        if (option == "--out") out = argv[i + 1];
    }
    if (phone.isEmpty()) fail("usage: window_screenshots --phone <pelorin-phone> [--out <folder>]");
    QDir().mkpath(out);

    pelorin::testing::ScratchFolder home;
    QProcess window;
    QString printed;
    if (!startWindow(window, studioEnvironment(home.path(), true), printed))
        fail("the studio did not start");
    const QString link = printedLink(printed);
    const QString id =
        xdotool({"search", "--sync", "--name", "^Pelorin Studio$"}).section('\n', 0, 0);
    const QRect frame = windowFrame(id);
    if (frame.size() != QSize(1180, 760)) fail("the window is not at its default size");
    xdotool({"windowfocus", "--sync", id});
    QTest::qWait(1500);
    save(frame, out, "window-welcome");

    // A phone pairs; another session of it then stays connected, following the sample's job.
    if (QProcess::execute(phone, {"--link", link, "pair"}) != 0) fail("pelorin-phone did not pair");

    // The Tab key's fourth stop is Try Sample Photos.
    xdotool({"key", "--delay", "150", "Tab", "Tab", "Tab", "Tab", "space"});
    const fs::path jobs = home.path() / "Jobs";
    std::optional<StudioJob> job;
    if (!waitUntil([&] { return (job = onlyJob(jobs)).has_value(); }, 30s))
        fail("the sample set did not become a job");
    QProcess follower;
    follower.start(phone, {"--link", link, "watch", QString::fromStdString(job->id.string())});
    QTest::qWait(2000);
    click(frame.topLeft() + QPoint(967, 67));  // the toolbar's connection button
    // Off the button, so that its help is not drawn over the picture.
    const QPoint aside = frame.topLeft() + QPoint(480, 20);
    xdotool({"mousemove", "--sync", QString::number(aside.x()), QString::number(aside.y())});
    QTest::qWait(1000);
    save(frame, out, "window-connection");
    xdotool({"key", "Escape"});

    // The job mid-way: past a third, with its stage and the time left.
    click(frame.topLeft() + QPoint(140, 147));  // the list's first row
    const auto midway = [&] {
        job = onlyJob(jobs);
        return job && job->phase == JobPhase::processing && job->fraction >= 0.35 && job->stage &&
               job->secondsRemaining;
    };
    if (!waitUntil(midway, 60min)) fail("the run never got half-way");
    QTest::qWait(2500);  // the window shows what the file says
    save(frame, out, "window-running");

    const auto ended = [&] {
        job = onlyJob(jobs);
        return job && !link::isActive(job->phase);
    };
    if (!waitUntil(ended, 3h)) fail("the run never ended");
    if (job->phase != JobPhase::finished) fail("the sample was not built");
    QTest::qWait(5000);  // the preview loads and draws the model
    save(frame, out, "window-finished");

    follower.terminate();
    follower.waitForFinished(5000);
    window.terminate();
    window.waitForFinished(10000);
    return 0;
}
