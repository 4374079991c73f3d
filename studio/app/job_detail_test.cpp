// The job detail as the window shows it, for jobs in every phase the store can hold.
#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "studio/app/job_detail.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/quick_harness.h"
#include "tests/support/ui/studio_window.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
using testing::saveScreenshot;
using testing::seededJob;
using testing::StudioWindow;
using testing::waitUntil;

JobDetail& detailOf(StudioWindow& studio) {
    return *studio.window().property("detail").value<JobDetail*>();
}

QString textOf(StudioWindow& studio, const char* name) {
    auto* item = studio.item(name);
    return item && item->isVisible() ? item->property("text").toString() : QString();
}

QStringList labels(const QVariantList& entries, const char* key) {
    QStringList out;
    for (const QVariant& entry : entries) out.append(entry.toMap().value(key).toString());
    return out;
}

void type(StudioWindow& studio, const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(&studio.window(), *c);
}

StudioJob::Source phone() {
    return StudioJob::Source::phone("Anna's iPhone");
}

TEST(JobDetailTest, TheStartButtonNeedsTenPhotosAndWarnsBelowTwenty) {
    StudioWindow studio;
    const auto nine = seededJob("Nine", JobPhase::ready, 9);
    const auto ten = seededJob("Ten", JobPhase::cancelled, 10);
    const auto twenty = seededJob("Twenty", JobPhase::ready, 20);
    for (const auto& job : {nine, ten, twenty}) studio.seed(job);
    studio.start();

    studio.select(nine.id);
    auto* start = studio.item("start");
    ASSERT_TRUE(start);
    EXPECT_TRUE(start->isVisible());
    EXPECT_FALSE(start->isEnabled());
    EXPECT_EQ(start->property("text").toString(), "Start Processing");
    EXPECT_EQ(textOf(studio, "startNote"), "At least 10 photos are needed.");

    studio.select(ten.id);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(start->property("text").toString(), "Try Again");
    EXPECT_EQ(textOf(studio, "startNote"),
              "Only 10 photos. Expect a rough model; 40 to 100 work best.");

    studio.select(twenty.id);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(textOf(studio, "startNote"), "");
    saveScreenshot(studio.screenshot(), "window-ready");
}

TEST(JobDetailTest, AFailedPhoneJobDoesNotSuggestTheSampleButAFailedFolderJobDoes) {
    StudioWindow studio;
    auto fromPhone = seededJob("Boot", JobPhase::failed, 30, phone());
    fromPhone.message = "Studio could not read these photos.";
    auto fromFolder = seededJob("Chair", JobPhase::failed, 30);
    fromFolder.message = "The model could not be built.";
    studio.seed(fromPhone);
    studio.seed(fromFolder);
    studio.start();

    studio.select(fromPhone.id);
    EXPECT_TRUE(studio.showsText("Studio could not read these photos."));
    EXPECT_TRUE(studio.shows("hint"));
    EXPECT_FALSE(studio.shows("sampleSuggestion"));
    EXPECT_TRUE(studio.showsText("From Anna's iPhone"));

    studio.select(fromFolder.id);
    EXPECT_TRUE(studio.showsText("The model could not be built."));
    EXPECT_TRUE(studio.shows("hint"));
    EXPECT_TRUE(studio.shows("sampleSuggestion"));
    EXPECT_TRUE(studio.showsText("Imported folder"));
}

TEST(JobDetailTest, ActiveJobsReceivingWithoutCancelAndQueuedWaiting) {
    StudioWindow studio;
    auto receiving = seededJob("Boot", JobPhase::receiving, 7, phone());
    receiving.expectedImageCount = 40;
    const auto waiting = seededJob("Vase", JobPhase::ready, 30);
    const auto running = seededJob("Statue", JobPhase::ready, 30);
    for (const auto& job : {receiving, waiting, running}) studio.seed(job);
    auto slow = engine::ReplayScript::successfulRun(20);
    studio.setReplayScript(slow);
    studio.start();

    studio.select(receiving.id);
    EXPECT_TRUE(studio.shows("activePanel"));
    EXPECT_EQ(textOf(studio, "activity"), "Receiving");
    EXPECT_FALSE(studio.shows("cancel"));
    EXPECT_TRUE(studio.showsText("Receiving 7 of 40"));

    // One job runs; the next waits in the queue behind it.
    studio.store().queue(running.id, std::nullopt, true);
    studio.store().startNextIfIdle();
    studio.store().queue(waiting.id, std::nullopt, true);
    studio.store().startNextIfIdle();
    studio.select(waiting.id);
    EXPECT_EQ(textOf(studio, "remaining"), "Waiting for the current job to finish");
    EXPECT_TRUE(studio.shows("cancel"));
    EXPECT_TRUE(studio.showsText("Queued, 30 photos"));

    studio.select(running.id);
    ASSERT_TRUE(waitUntil([&] { return detailOf(studio).fraction() > 0.3; }, 20000));
    EXPECT_TRUE(studio.shows("cancel"));
    EXPECT_TRUE(textOf(studio, "remaining").startsWith("About "));
    // Screen readers get the ring as "Progress" with its value.
    ASSERT_EQ(studio.drawn("progressRing").size(), 1);
    QQuickItem* ringItem = studio.drawn("progressRing").first();
    QAccessibleInterface* ring = QAccessible::queryAccessibleInterface(ringItem);
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring->role(), QAccessible::ProgressBar);
    EXPECT_EQ(ring->text(QAccessible::Name), "Progress");
    EXPECT_EQ(ring->text(QAccessible::Description),
              QString::number(int(ringItem->property("fraction").toDouble() * 100)) + " percent");
    QTest::qWait(350);  // the ring's easing
    saveScreenshot(studio.screenshot(), "window-running");

    studio.click(studio.item("cancel"));
    ASSERT_TRUE(waitUntil([&] { return detailOf(studio).phase() == "cancelled"; }, 10000));
}

TEST(JobDetailTest, FinishedJobsListOnlyTheFactsAndExportsTheyHave) {
    StudioWindow studio;
    auto bare = seededJob("Mug", JobPhase::finished, 25);
    bare.outputs = StudioJob::Outputs{.usdzBytes = 2'400'000};
    auto full = seededJob("Statue", JobPhase::finished, 72);
    full.startedAt = Date{9e8};
    full.finishedAt = Date{9e8 + 754};
    full.outputs = StudioJob::Outputs{.usdzBytes = 5'100'000,
                                      .hasOBJ = true,
                                      .hasPointCloud = true,
                                      .pointCount = 48'000,
                                      .skippedImages = 2,
                                      .usedMotionData = true,
                                      .maskedImages = 70,
                                      .glbBytes = 3'000'000};
    full.notes = {"Photos were downscaled to fit this computer's memory."};
    studio.seed(bare);
    studio.seed(full);
    studio.start();

    studio.select(bare.id);
    auto& detail = detailOf(studio);
    EXPECT_EQ(labels(detail.facts(), "label"), QStringList({"Detail", "USDZ size", "Motion data"}));
    EXPECT_EQ(labels(detail.facts(), "value"), QStringList({"Medium", "2.4 MB", "Not used"}));
    EXPECT_EQ(labels(detail.exports(), "label"), QStringList({"USDZ (Apple, AR Quick Look)"}));
    EXPECT_FALSE(studio.shows("notes"));

    studio.select(full.id);
    EXPECT_EQ(labels(detail.facts(), "label"),
              QStringList({"Detail", "USDZ size", "GLB size", "Took", "Points", "Motion data",
                           "Object found in", "Skipped photos"}));
    EXPECT_TRUE(studio.showsText("12 min 34 s"));
    EXPECT_TRUE(studio.showsText("70 of 72 photos"));
    EXPECT_TRUE(studio.showsText("Used"));
    EXPECT_TRUE(studio.showsText("Photos were downscaled to fit this computer's memory."));

    // The Export menu, opened as a user does, lists the four formats in order.
    studio.click(studio.item("export"));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("exportMenu"); }));
    QTest::qWait(300);
    EXPECT_EQ(studio.menuEntries(),
              QStringList({"USDZ (Apple, AR Quick Look)", "GLB (Android, Windows, web)",
                           "OBJ + textures (Blender, Maya)", "Point cloud PLY"}));
    QTest::keyClick(&studio.window(), Qt::Key_Escape);

    // A control below the fold that the keyboard reaches scrolls into view.
    auto* page = studio.item("detailView");
    EXPECT_EQ(page->property("contentY").toReal(), 0);
    studio.item("reprocess")->forceActiveFocus(Qt::TabFocusReason);
    EXPECT_GT(page->property("contentY").toReal(), 100);
    page->setProperty("contentY", 0);

    // The one preview shows the model in the result panel.
    auto* preview = studio.item("modelPreview");
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->parentItem(), studio.item("previewSlot"));
    ASSERT_TRUE(waitUntil([&] {
        return preview->property("status").toInt() == 2;  // Ready
    }));
    QTest::qWait(300);
    saveScreenshot(studio.screenshot(), "window-finished");

    // The notes come after Open and before Show in Folder and Reprocess.
    auto top = [&](const char* name) {
        QQuickItem* at = studio.item(name);
        return at ? at->mapToScene(QPointF(0, 0)).y() : -1;
    };
    EXPECT_LT(top("open"), top("notes"));
    EXPECT_LT(top("notes"), top("showInFolder"));
    EXPECT_LT(top("notes"), top("reprocess"));

    // Once it has the focus, the arrows turn the model and + and - zoom; a ring says so.
    preview->forceActiveFocus(Qt::TabFocusReason);
    ASSERT_TRUE(preview->hasActiveFocus());
    auto* ring = studio.item("previewFocusRing");
    ASSERT_TRUE(ring);
    EXPECT_TRUE(ring->isVisible());
    const auto at = [&](const char* name) { return preview->property(name).toReal(); };
    const qreal yaw = at("yaw"), pitch = at("pitch"), distance = at("distance");
    QTest::keyClick(&studio.window(), Qt::Key_Right);
    EXPECT_NEAR(at("yaw"), yaw - 15, 1e-6);
    QTest::keyClick(&studio.window(), Qt::Key_Left);
    QTest::keyClick(&studio.window(), Qt::Key_Left);
    EXPECT_NEAR(at("yaw"), yaw + 15, 1e-6);
    QTest::keyClick(&studio.window(), Qt::Key_Up);
    EXPECT_NEAR(at("pitch"), pitch + 10, 1e-6);
    QTest::keyClick(&studio.window(), Qt::Key_Plus);
    EXPECT_LT(at("distance"), distance);
    QTest::keyClick(&studio.window(), Qt::Key_Minus);
    QTest::keyClick(&studio.window(), Qt::Key_Minus);
    EXPECT_GT(at("distance"), distance);
}

// Entries that do not apply are not in the menu, so that the keyboard cannot reach them.
TEST(JobDetailTest, TheExportMenuHoldsOnlyTheJobsFormatsEachWithItsSymbol) {
    StudioWindow studio;
    auto job = seededJob("Statue", JobPhase::finished, 72);
    job.outputs = StudioJob::Outputs{.usdzBytes = 5000, .hasPointCloud = true};
    studio.seed(job);
    studio.start();
    studio.select(job.id);
    studio.click(studio.item("export"));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("exportMenu"); }));
    QTest::qWait(300);
    EXPECT_EQ(studio.menuEntries(),
              QStringList({"USDZ (Apple, AR Quick Look)", "Point cloud PLY"}));
    QStringList symbols;
    for (QQuickItem* icon : studio.drawn("exportIcon"))
        symbols.append(icon->property("symbol").toString());
    EXPECT_EQ(symbols, QStringList({"cube.fill", "circle.grid.3x3.fill"}));
    saveScreenshot(studio.screenshot(), "window-export-menu");

    // The second entry is the point cloud, not a hidden GLB.
    QTest::keyClick(&studio.window(), Qt::Key_Down);
    QTest::keyClick(&studio.window(), Qt::Key_Down);
    QTest::keyClick(&studio.window(), Qt::Key_Return);
    auto* dialog = studio.item("detailView")->property("saveDialog").value<QObject*>();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(waitUntil([&] { return dialog->property("visible").toBool(); }));
    EXPECT_EQ(dialog->property("kind").toString(), "ply");
    QMetaObject::invokeMethod(dialog, "reject");
}

TEST(JobDetailTest, ExportsProposeTheJobsNameAsFarAsTheFileSystemAllows) {
    struct Case {
        std::string name;
        QString file;       // proposed for the USDZ, in the downloads folder
        QString objFolder;  // made in the folder chosen for the OBJ
    };
    const QString longName(250, 'a');
    const std::vector<Case> cases{
        {"Vase #2", "Vase #2.usdz", "Vase #2 OBJ"},
        {"Why? Because", "Why? Because.usdz", "Why? Because OBJ"},
        {"Top/Bottom", "Top-Bottom.usdz", "Top-Bottom OBJ"},
        {".hidden", "hidden.usdz", "hidden OBJ"},
        {"..", "Model.usdz", "Model OBJ"},
        // 255 bytes is all a name may have.
        {std::string(300, 'a'), longName + ".usdz", QString(251, 'a') + " OBJ"},
    };
    StudioWindow studio;
    std::vector<StudioJob> jobs;
    for (const Case& c : cases) {
        auto job = seededJob(c.name, JobPhase::finished, 30);
        job.outputs = StudioJob::Outputs{.usdzBytes = 5000, .hasOBJ = true};
        studio.seed(job);
        jobs.push_back(job);
    }
    studio.start();
    pelorin::testing::ScratchFolder target;
    const QString downloads = studio.shell().downloadsFolder().toLocalFile();
    auto* view = studio.item("detailView");
    auto* dialog = view->property("saveDialog").value<QObject*>();
    QSignalSpy finished(&detailOf(studio), &JobDetail::exportFinished);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        studio.select(jobs[i].id);
        QMetaObject::invokeMethod(view, "chooseExport", Q_ARG(QVariant, "usdz"));
        const QUrl proposed = dialog->property("selectedFile").toUrl();
        EXPECT_EQ(proposed.toLocalFile(), downloads + "/" + cases[i].file);
        QMetaObject::invokeMethod(dialog, "reject");

        QMetaObject::invokeMethod(
            view, "objFolderChosen",
            Q_ARG(QVariant, QUrl::fromLocalFile(QString::fromStdString(target.path().string()))));
        ASSERT_TRUE(waitUntil([&] { return finished.count() == int(i) + 1; }));
        EXPECT_TRUE(fs::exists(target.path() / cases[i].objFolder.toStdString() / "model.obj"));
    }
}

TEST(JobDetailTest, AnExportReplacesWhatIsThereAndAFailedOneLeavesTheJobAlone) {
    pelorin::testing::ScratchFolder target;
    StudioWindow studio;
    auto job = seededJob("Statue", JobPhase::finished, 72);
    job.outputs = StudioJob::Outputs{.usdzBytes = 5000, .hasOBJ = true, .glbBytes = 4};
    studio.seed(job);
    studio.start();
    studio.select(job.id);
    auto& detail = detailOf(studio);
    auto* view = studio.item("detailView");

    const auto existing = target / "Statue.glb";
    pelorin::testing::writeFile(existing, std::string("an older export, longer than the new one"));
    QSignalSpy finished(&detail, &JobDetail::exportFinished);
    QMetaObject::invokeMethod(
        view, "saveChosen", Q_ARG(QVariant, "glb"),
        Q_ARG(QVariant, QUrl::fromLocalFile(QString::fromStdString(existing.string()))));
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(pelorin::testing::readBytes(existing),
              pelorin::testing::readBytes(StudioJob::outputFolder(studio.jobsRoot(), job.id) /
                                          "model.glb"));

    // The OBJ folder goes into the chosen folder under the job's name, replacing an old one.
    pelorin::testing::writeFile(target / "Statue OBJ" / "stale.obj", std::string("old"));
    QMetaObject::invokeMethod(
        view, "objFolderChosen",
        Q_ARG(QVariant, QUrl::fromLocalFile(QString::fromStdString(target.path().string()))));
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 2; }));
    EXPECT_TRUE(fs::exists(target / "Statue OBJ" / "model.obj"));
    EXPECT_FALSE(fs::exists(target / "Statue OBJ" / "stale.obj"));

    // Below a file, nothing can be written: the alert says why, the job stays as it was.
    const StudioJob before = *studio.store().job(job.id);
    const auto impossible = existing / "Statue.usdz";
    QMetaObject::invokeMethod(
        view, "saveChosen", Q_ARG(QVariant, "usdz"),
        Q_ARG(QVariant, QUrl::fromLocalFile(QString::fromStdString(impossible.string()))));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("exportAlert"); }));
    EXPECT_TRUE(studio.showsText("Could not export Statue.usdz"));
    EXPECT_TRUE(studio.showsText("Not a directory"));
    EXPECT_EQ(*studio.store().job(job.id), before);
    EXPECT_TRUE(fs::exists(StudioJob::outputFolder(studio.jobsRoot(), job.id) / "model.usdz"));
    EXPECT_EQ(finished.count(), 2);
    studio.click(studio.button("OK"));
    ASSERT_TRUE(waitUntil([&] { return !studio.shows("exportAlert"); }));

    // Open: with no application registered for GLB models, the user is told so. (A private,
    // empty set of applications: the machine's own might take GLB.)
    pelorin::testing::ScratchFolder desktop;
    const QByteArray empty = QByteArray::fromStdString(desktop.path().string());
    qputenv("XDG_CONFIG_HOME", empty);
    qputenv("XDG_DATA_HOME", empty);
    qputenv("XDG_DATA_DIRS", empty);
    // (The button sits below the fold of the scrolled page: its signal is sent, not a click.)
    QMetaObject::invokeMethod(studio.item("open"), "clicked");
    ASSERT_TRUE(waitUntil([&] { return studio.shell().hasNotice(); }, 10000));
    EXPECT_EQ(studio.shell().noticeMessage(),
              "No application on this computer opens this model. Use Export instead.");
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) qunsetenv(name);
}

TEST(JobDetailTest, TheDraftOptionsReachTheJobOnlyThroughStart) {
    StudioWindow studio;
    const auto [first, second] = startWithTwoReadyJobs(studio, "Vase", "Mug");
    studio.select(first.id);
    auto& detail = detailOf(studio);

    detail.setDetail(3);
    detail.setIsolateSubject(true);
    detail.setEditingName("  Blue vase ");
    // Another job and back: the edits were never started, so they are gone.
    studio.select(second.id);
    studio.select(first.id);
    EXPECT_EQ(detail.detail(), int(link::ProcessingDetail::medium));
    EXPECT_FALSE(detail.isolateSubject());
    EXPECT_EQ(detail.editingName(), "Vase");
    EXPECT_EQ(studio.store().job(first.id)->options, first.options);

    detail.setDetail(3);
    detail.setIsolateSubject(true);
    studio.click(studio.item("start"));
    const auto& options = studio.store().job(first.id)->options;
    EXPECT_EQ(options.detail, link::ProcessingDetail::full);
    EXPECT_TRUE(options.isolateSubject);

    // The name field: blank names are ignored, others stored trimmed; the field keeps its text.
    auto* field = studio.item("nameField");
    ASSERT_TRUE(field);
    field->forceActiveFocus();
    QTest::keyClick(&studio.window(), Qt::Key_A, Qt::ControlModifier);
    type(studio, "   ");
    QTest::keyClick(&studio.window(), Qt::Key_Return);
    EXPECT_EQ(studio.store().job(first.id)->name, "Vase");
    EXPECT_EQ(field->property("text").toString(), "   ");
    QTest::keyClick(&studio.window(), Qt::Key_A, Qt::ControlModifier);
    type(studio, " Blue vase ");
    QTest::keyClick(&studio.window(), Qt::Key_Return);
    EXPECT_EQ(studio.store().job(first.id)->name, "Blue vase");
}

}  // namespace
}  // namespace pelorin::studio
