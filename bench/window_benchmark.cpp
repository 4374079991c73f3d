// The window's costs a person feels: how long until the main window's first frame with 500 jobs
// in the store, against the studio without a window over the same store; and the longest stall
// of the main thread (the lateness of a 10 ms timer) while a reconstruction and a phone upload
// run with the window open. Needs a display (xvfb-run).
//
//   window_benchmark [--runs N] [--seconds S] [--unshown]
#include <QtQml/qqmlextensionplugin.h>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QQuickStyle>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/reconstruction/service_factory.h"
#include "link/messages/link_message.h"
#include "link/runtime/link_runtime.h"
#include "link/transport/link_connection.h"
#include "studio/core/jobs/job_file.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/studio_window.h"

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

namespace {

using namespace pelorin;
using namespace pelorin::studio;
namespace fs = std::filesystem;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void seedJobs(const fs::path& root, int count) {
    for (int i = 0; i < count; ++i) {
        StudioJob job;
        job.id = Uuid::random();
        job.name = "Capture " + std::to_string(i);
        job.createdAt = Date{8e8 + i * 60.0};
        job.imageCount = 40 + i % 80;
        switch (i % 4) {
            case 0:
                job.phase = JobPhase::finished;
                job.outputs = StudioJob::Outputs{.usdzBytes = 4'000'000, .hasOBJ = true};
                break;
            case 1:
                job.phase = JobPhase::ready;
                break;
            case 2:
                job.phase = JobPhase::failed;
                job.message = "The model could not be built.";
                break;
            default:
                job.phase = JobPhase::cancelled;
                job.source = StudioJob::Source::phone("Phone " + std::to_string(i));
        }
        if (auto failure = writeJobFile(root, job)) {
            std::fprintf(stderr, "could not seed: %s\n", failure->c_str());
            std::exit(1);
        }
    }
}

// Milliseconds from starting the process to the first line that begins with `marker`.
double timeToLine(const QStringList& arguments, const QProcessEnvironment& environment,
                  const QByteArray& marker) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(PELORIN_STUDIO_EXECUTABLE, arguments);
    QByteArray output;
    double at = -1;
    while (clock.elapsed() < 60000) {
        process.waitForReadyRead(20);
        output += process.readAllStandardOutput();
        if (output.startsWith(marker) || output.contains("\n" + marker)) {
            at = double(clock.nsecsElapsed()) / 1e6;
            break;
        }
        if (process.state() == QProcess::NotRunning) break;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) process.kill();
    return at;
}

void startBenchmark(int runs) {
    pelorin::testing::ScratchFolder home;
    seedJobs(home.path() / "Jobs", 500);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORIN_STUDIO_HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("PELORIN_PHOTOGRAMMETRY", "replay");
    std::vector<double> headless, window;
    for (int run = 0; run < runs; ++run) {
        headless.push_back(timeToLine({"--no-window"}, environment, "listening on port"));
        QProcessEnvironment firstFrame = environment;
        firstFrame.insert("PELORIN_FIRST_FRAME_EXIT", "1");
        window.push_back(timeToLine({}, firstFrame, "first frame: "));
    }
    std::printf("start with 500 jobs, median of %d runs (ms from process start):\n", runs);
    std::printf("  --no-window, until listening:      %8.1f\n", median(headless));
    std::printf("  window, until its first frame:     %8.1f\n", median(window));
    std::printf("  ratio window / --no-window:        %8.2f\n",
                median(window) / std::max(1.0, median(headless)));
    std::printf("  runs (no-window | window):");
    for (int run = 0; run < runs; ++run) std::printf(" %.0f|%.0f", headless[run], window[run]);
    std::printf("\n");
}

// A phone sending `count` photos of `size` bytes each as one capture.
void uploadFrom(link::LinkConnection& phone, const std::string& code, int count, std::size_t size) {
    link::Hello hello;
    hello.deviceID = Uuid::random();
    hello.deviceName = "Benchmark phone";
    hello.appVersion = "1";
    hello.pairingCode = code;
    hello.protocolVersion = 4;
    phone.send(link::msg::Hello{hello});
    link::CaptureManifest manifest;
    manifest.id = Uuid::random();
    manifest.name = "Uploaded";
    manifest.createdAt = Date::now();
    for (int i = 0; i < count; ++i) {
        link::ImageRecord image{.fileName = "IMG_" + std::to_string(2000 + i) + ".jpg"};
        image.bytes = std::int64_t(size);
        manifest.images.push_back(image);
    }
    phone.send(link::msg::BeginUpload{manifest});
    const std::vector<std::uint8_t> photo(size, 0x5a);
    for (int i = 0; i < count; ++i)
        phone.send(link::msg::File{manifest.id, manifest.images[i].fileName}, photo);
    phone.send(link::msg::EndUpload{manifest.id});
}

// The lateness of a 10 ms timer on the main thread while it runs, and when the worst came.
class Lateness {
  public:
    Lateness() {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(10);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            late_.push_back(double(clock_.nsecsElapsed()) / 1e6 - 10);
            clock_.restart();
            if (late_.back() > 20) worst_.emplace_back(late_.back(), since_.elapsed() / 1000.0);
        });
    }
    void start() {
        since_.start();
        clock_.start();
        tick_.start();
    }
    void stop() {
        tick_.stop();
        std::sort(late_.begin(), late_.end());
        std::sort(worst_.rbegin(), worst_.rend());
    }
    double percentile(int p) const { return late_.empty() ? 0 : late_[late_.size() * p / 100]; }
    double worst() const { return late_.empty() ? 0 : late_.back(); }
    void print(const char* what) const {
        std::printf(
            "  %s: 10 ms timer lateness median %.1f ms, 99th percentile %.1f ms, worst %.1f ms "
            "(%zu ticks)\n",
            what, percentile(50), percentile(99), worst(), late_.size());
        std::printf("    stalls over 20 ms (ms at s):");
        for (std::size_t i = 0; i < worst_.size() && i < 8; ++i)
            std::printf(" %.0f@%.1f", worst_[i].first, worst_[i].second);
        std::printf(" (%zu in all)\n", worst_.size());
    }

  private:
    QTimer tick_;
    QElapsedTimer since_, clock_;
    std::vector<double> late_;
    std::vector<std::pair<double, double>> worst_;  // lateness, seconds since the start
};

void stallBenchmark(double seconds, bool shown) {
    auto service = engine::defaultPhotogrammetryService();
    pelorin::studio::testing::StudioWindow studio(service);
    StudioJob job;
    job.id = Uuid::random();
    job.name = "Statue";
    job.createdAt = Date::now();
    job.phase = JobPhase::ready;
    job.options.detail = link::ProcessingDetail::preview;
    const fs::path photos = fs::path(PELORIN_SOURCE_ROOT) / "tests/data/statue-reduced/photos";
    const auto images = StudioJob::imagesFolder(studio.jobsRoot(), job.id);
    fs::create_directories(images);
    for (const auto& entry : fs::directory_iterator(photos)) {
        fs::copy_file(entry.path(), images / entry.path().filename());
        job.imageCount += entry.path().extension() == ".jpg";
    }
    studio.seed(job);
    studio.start();
    if (shown) studio.select(job.id);

    // The same window and job, idle, for the baseline; then the run and the upload.
    Lateness idle;
    idle.start();
    QTest::qWait(5000);
    idle.stop();
    Lateness busy;
    studio.store().queue(job.id, std::nullopt, true);
    studio.store().startNextIfIdle();
    link::LinkRuntime runtime;
    auto phone = link::LinkConnection::client(runtime, {"127.0.0.1", *studio.link().port()},
                                              studio.link().fingerprint());
    phone->start();
    busy.start();
    uploadFrom(*phone, studio.link().pairingCode(), 120, 400'000);
    QElapsedTimer total;
    total.start();
    bool uploaded = false;
    double uploadedAt = 0;
    while (total.elapsed() < seconds * 1000) {
        QTest::qWait(50);
        if (!uploaded && studio.store().jobs().size() == 2 &&
            studio.store().jobs().front().phase != JobPhase::receiving) {
            uploaded = true;
            uploadedAt = total.elapsed() / 1000.0;
        }
    }
    busy.stop();
    const StudioJob& built = *studio.store().job(job.id);
    std::printf(
        "main thread during a reconstruction (%s backend) and a phone upload "
        "(120 photos of 400 kB), %.0f s, the job %s:\n",
        service->isSupported() ? "this computer's" : "no", seconds,
        shown ? "shown in the window" : "not shown (the welcome page is)");
    std::printf("  job: %s, %s; upload %s\n", std::string(link::title(built.phase)).c_str(),
                built.stage.value_or(built.message.value_or("")).c_str(),
                uploaded ? ("complete after " + std::to_string(uploadedAt) + " s").c_str()
                         : "not complete");
    idle.print("idle window, 5 s (baseline)");
    busy.print("during the run and the upload");
    std::printf("  ratio busy / idle: 99th percentile %.1f, worst %.1f\n",
                busy.percentile(99) / std::max(0.1, idle.percentile(99)),
                busy.worst() / std::max(0.1, idle.worst()));
    phone->cancel();
    studio.store().stop(job.id);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle("Basic");
    int runs = 5;
    double seconds = 60;
    bool shown = true;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        if (option == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        if (option == "--unshown") shown = false;
    }
    if (runs > 0) startBenchmark(runs);
    stallBenchmark(seconds, shown);
    return 0;
}
