#include "tests/support/ui/studio_window.h"

#include <QQuickItem>
#include <QTest>

#include <functional>
#include <stdexcept>

#include "studio/core/jobs/job_file.h"
#include "tests/support/ui/preview_test_models.h"
#include "tests/support/ui/quick_harness.h"

namespace pelorin::studio::testing {

namespace fs = std::filesystem;

StudioJob seededJob(const std::string& name, JobPhase phase, int imageCount,
                    StudioJob::Source source) {
    static double clock = 0;
    StudioJob job;
    job.id = Uuid::random();
    job.name = name;
    job.source = std::move(source);
    // Each seeded job is newer than the last, so the list reads them newest first.
    job.createdAt = Date{8e8 + (clock += 60)};
    job.imageCount = imageCount;
    job.phase = phase;
    return job;
}

StudioWindow::StudioWindow(std::shared_ptr<engine::PhotogrammetryService> service)
    : jobsRoot_(scratch_ / "Studio" / "Jobs"), service_(std::move(service)) {
    preferences_ = std::make_unique<QSettings>(
        QString::fromStdString((scratch_ / "preferences.ini").string()), QSettings::IniFormat);
    auto script = engine::ReplayScript::successfulRun(0.6);
    backend_ = std::make_shared<engine::ReplayBackend>(script);
}

StudioWindow::~StudioWindow() {
    engine_.reset();
    shell_.reset();
    link_.reset();
    store_.reset();
}

void StudioWindow::seed(const StudioJob& job) {
    if (auto failure = writeJobFile(jobsRoot_, job)) throw std::runtime_error(*failure);
    // Photos for a run: small, each a different colour.
    const auto images = StudioJob::imagesFolder(jobsRoot_, job.id);
    fs::create_directories(images);
    for (int i = 0; i < job.imageCount; ++i) {
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(QColor::fromHsv((i * 37) % 360, 160, 200));
        photo.save(QString::fromStdString(
            (images / ("IMG_" + std::to_string(1000 + i) + ".jpg")).string()));
    }
    if (job.phase == JobPhase::finished) {
        const auto output = StudioJob::outputFolder(jobsRoot_, job.id);
        pelorin::testing::writeFile(output / "model.usdz",
                                    cubeModel(1.0f, QColor(230, 140, 40), QColor(40, 90, 230)));
        if (job.outputs && job.outputs->glbBytes)
            pelorin::testing::writeFile(output / "model.glb", std::string("glTF"));
        if (job.outputs && job.outputs->hasPointCloud)
            pelorin::testing::writeFile(output / "pointcloud.ply", std::string("ply\n"));
        if (job.outputs && job.outputs->hasOBJ)
            pelorin::testing::writeFile(output / "OBJ" / "model.obj", std::string("v 0 0 0\n"));
    }
}

void StudioWindow::setPairingCode(const std::string& code) {
    preferences_->setValue("pairingCode", QString::fromStdString(code));
}

void StudioWindow::start(std::optional<fs::path> sampleFolder, bool supported) {
    if (!supported) {
        auto script = engine::ReplayScript::successfulRun(0.6);
        script.supported = false;
        backend_ = std::make_shared<engine::ReplayBackend>(script);
    }
    store_ = std::make_unique<JobStore>(
        jobsRoot_,
        service_ ? service_ : std::static_pointer_cast<engine::PhotogrammetryService>(backend_));
    store_->setSampleFolder(std::move(sampleFolder));
    link_ = std::make_unique<StudioLink>(*store_, runtime_, *preferences_);
    shell_ = std::make_unique<StudioShell>(*store_, *link_, preferences_.get());
    engine_ = std::make_unique<QQmlApplicationEngine>();
    engine_->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine_->load(QUrl(QStringLiteral("qrc:/qt/qml/Pelorin/Studio/qml/Main.qml")));
    if (engine_->rootObjects().isEmpty()) throw std::runtime_error("Main.qml did not load");
    window_ = qobject_cast<QQuickWindow*>(engine_->rootObjects().first());
    if (!window_ || !QTest::qWaitForWindowExposed(window_))
        throw std::runtime_error("the main window was never exposed");
    // Keys go to the active window.
    window_->requestActivate();
    if (!QTest::qWaitForWindowActive(window_))
        throw std::runtime_error("the main window was never activated");
    // The content starts the link service once it has been drawn.
    waitUntil([&] { return link_->port().has_value(); }, 10000);
}

namespace {

// Visits `at` and every visible item under it, depth first, until `visit` returns true.
bool walkVisible(QQuickItem* at, const std::function<bool(QQuickItem*)>& visit) {
    if (!at->isVisible()) return false;
    if (visit(at)) return true;
    for (QQuickItem* child : at->childItems())
        if (walkVisible(child, visit)) return true;
    return false;
}

}  // namespace

QQuickItem* StudioWindow::item(const char* objectName) const {
    // Declared items are the window's QObject children; those a view made for its model are
    // found in the drawn tree (hidden ones too).
    if (auto* found = window_->findChild<QQuickItem*>(objectName)) return found;
    std::function<QQuickItem*(QQuickItem*)> find = [&](QQuickItem* at) -> QQuickItem* {
        if (at->objectName() == objectName) return at;
        for (QQuickItem* child : at->childItems())
            if (QQuickItem* found = find(child)) return found;
        return nullptr;
    };
    return find(window_->contentItem());
}

QObject* StudioWindow::popup(const char* objectName) const {
    return window_->findChild<QObject*>(objectName);
}

bool StudioWindow::shows(const char* objectName) const {
    if (QQuickItem* found = item(objectName)) return found->isVisible();
    // Popups, menus and dialogs are not items; they say whether they are open.
    QObject* found = popup(objectName);
    return found && found->property("visible").toBool();
}

QList<QQuickItem*> StudioWindow::drawn(const char* objectName) const {
    QList<QQuickItem*> found;
    walkVisible(window_->contentItem(), [&](QQuickItem* item) {
        if (item->objectName() == objectName) found.append(item);
        return false;
    });
    return found;
}

QStringList StudioWindow::menuEntries() const {
    QStringList found;
    walkVisible(window_->contentItem(), [&](QQuickItem* item) {
        if (item->inherits("QQuickMenuItem")) found.append(item->property("text").toString());
        return false;
    });
    return found;
}

QQuickItem* StudioWindow::button(const QString& text) const {
    QQuickItem* found = nullptr;
    walkVisible(window_->contentItem(), [&](QQuickItem* at) {
        if (at->inherits("QQuickAbstractButton") && at->property("text").toString() == text)
            found = at;
        return found != nullptr;
    });
    return found;
}

QStringList StudioWindow::texts(QQuickItem* under) const {
    QStringList out;
    walkVisible(under ? under : window_->contentItem(), [&](QQuickItem* item) {
        const QString text = item->property("text").toString();
        if ((item->inherits("QQuickText") || item->inherits("QQuickTextEdit")) && !text.isEmpty())
            out.append(text);
        return false;
    });
    return out;
}

void StudioWindow::select(const Uuid& id) {
    shell_->setSelection(QString::fromStdString(id.string()));
    waitUntil([&] {
        return window_->property("detail").value<QObject*>()->property("jobId") ==
               QString::fromStdString(id.string());
    });
}

void StudioWindow::click(QQuickItem* target) {
    if (!target) throw std::runtime_error("no such item to click");
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window_, Qt::LeftButton, {}, centre.toPoint());
}

QImage StudioWindow::screenshot() {
    return grab(*window_);
}

std::pair<StudioJob, StudioJob> startWithTwoReadyJobs(StudioWindow& studio,
                                                      const std::string& first,
                                                      const std::string& second) {
    const auto jobs =
        std::pair{seededJob(first, JobPhase::ready, 30), seededJob(second, JobPhase::ready, 30)};
    studio.seed(jobs.first);
    studio.seed(jobs.second);
    studio.start();
    return jobs;
}

}  // namespace pelorin::studio::testing
