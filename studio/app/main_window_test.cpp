// The main window over a real store and link service: the welcome page, the selection, the
// toolbar's connection button and drops.
#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "link/messages/link_message.h"
#include "link/runtime/link_runtime.h"
#include "link/transport/link_connection.h"
#include "tests/support/capture_manifests.h"
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

void writePhotos(const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i)
        pelorin::testing::writeFile(folder / ("IMG_" + std::to_string(1000 + i) + ".jpg"),
                                    std::string(200, char(i)));
}

QString idText(const Uuid& id) {
    return QString::fromStdString(id.string());
}

// Starts the studio with two ready jobs and shows the second; returns both.
std::pair<StudioJob, StudioJob> startShowingTheSecondOfTwo(StudioWindow& studio) {
    const auto jobs = startWithTwoReadyJobs(studio, "Vase", "Teapot");
    studio.select(jobs.second.id);
    return jobs;
}

TEST(MainWindowTest, WelcomePageForAnEmptyStoreAndAfterDeletingTheShownJob) {
    {
        StudioWindow studio;
        studio.start();
        EXPECT_TRUE(studio.shows("welcome"));
        EXPECT_FALSE(studio.shows("detailView"));
        EXPECT_TRUE(studio.shows("noCaptures"));
        EXPECT_TRUE(studio.showsText("Turn photos into 3D models"));
        EXPECT_TRUE(studio.showsText(
            "Everything is processed on this computer. Nothing is uploaded to the internet."));
        // The welcome page's QR code is drawn from the link, not the fallback symbol.
        auto* code = studio.item("qrCode");
        ASSERT_TRUE(code);
        EXPECT_TRUE(code->property("valid").toBool());
        saveScreenshot(studio.screenshot(), "window-welcome");
    }

    StudioWindow studio;
    const auto [kept, shown] = startShowingTheSecondOfTwo(studio);
    ASSERT_TRUE(studio.shows("detailView"));
    EXPECT_FALSE(studio.shows("welcome"));

    // The list's context menu, as a user opens it: right click on the row, then Delete.
    auto* list = studio.item("jobList");
    ASSERT_TRUE(list);
    QQuickItem* row = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, row), Q_ARG(int, 0));
    ASSERT_TRUE(row);
    ASSERT_EQ(row->property("jobId").toString(), idText(shown.id));
    const QPointF centre = row->mapToScene(QPointF(row->width() / 2, row->height() / 2));
    QTest::mouseClick(&studio.window(), Qt::RightButton, {}, centre.toPoint());
    QQuickItem* remove = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (remove = studio.button("Delete")) != nullptr; }));
    EXPECT_TRUE(studio.button("Show in Folder"));
    studio.click(remove);

    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 1; }));
    EXPECT_TRUE(studio.shows("welcome"));
    EXPECT_FALSE(studio.shows("detailView"));
    EXPECT_TRUE(studio.shell().selection().isEmpty());
    // The folder goes on the job's background writer.
    EXPECT_TRUE(
        waitUntil([&] { return !fs::exists(StudioJob::folder(studio.jobsRoot(), shown.id)); }));
    EXPECT_TRUE(fs::exists(StudioJob::folder(studio.jobsRoot(), kept.id)));
}

TEST(MainWindowTest, AComputerThatCannotBuildModelsSaysSoAndOffersNoStart) {
    StudioWindow studio;
    const auto job = seededJob("Vase", JobPhase::ready, 30);
    studio.seed(job);
    studio.start(std::nullopt, false);
    EXPECT_TRUE(studio.shows("unsupported"));
    EXPECT_TRUE(studio.showsText("This computer cannot build models."));
    EXPECT_FALSE(studio.item("trySample")->isEnabled());
    studio.select(job.id);
    EXPECT_FALSE(studio.item("start")->isEnabled());
    EXPECT_TRUE(studio.showsText("This computer cannot build models."));
}

TEST(MainWindowTest, SelectionFollowsANewPhoneCaptureButNotAFolderImport) {
    pelorin::testing::ScratchFolder photos;
    writePhotos(photos.path() / "Lamp", 12);
    StudioWindow studio;
    const auto looked = seededJob("Vase", JobPhase::finished, 30);
    studio.seed(looked);
    studio.start();
    studio.select(looked.id);

    auto manifest = pelorin::testing::captureManifest(40, {.name = "Boot", .extension = ".heic"});
    manifest.createdAt = Date::now();
    studio.store().beginUpload(manifest, "Anna's iPhone", 0);
    EXPECT_EQ(studio.shell().selection(), idText(manifest.id));
    ASSERT_TRUE(waitUntil([&] { return studio.showsText("From Anna's iPhone"); }));

    // Back to the other job: the capture's later photos leave the choice alone.
    studio.select(looked.id);
    for (int i = 0; i < 3; ++i) studio.store().fileWritten(manifest.id);
    QTest::qWait(50);
    EXPECT_EQ(studio.shell().selection(), idText(looked.id));
    EXPECT_EQ(studio.store().jobs().front().imageCount, 3);

    // A folder import also becomes the first job, in phase ready: no switch.
    // Through the folder dialog's accept handler, as Import Photos > Folder… ends.
    QMetaObject::invokeMethod(
        &studio.window(), "importChosen",
        Q_ARG(QVariant, QVariant::fromValue(QList<QUrl>{QUrl::fromLocalFile(
                            QString::fromStdString((photos.path() / "Lamp").string()))})));
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 3; }));
    EXPECT_EQ(studio.store().jobs().front().name, "Lamp");
    EXPECT_EQ(studio.shell().selection(), idText(looked.id));
}

TEST(MainWindowTest, TheConnectionButtonCountsPairedPhones) {
    StudioWindow studio;
    studio.start();
    auto* button = studio.item("connectionButton");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->property("text").toString(), "Pair iPhone");

    link::LinkRuntime runtime;
    auto phone = link::LinkConnection::client(runtime, {"127.0.0.1", *studio.link().port()},
                                              studio.link().fingerprint());
    phone->start();
    link::Hello hello;
    hello.deviceID = Uuid::random();
    hello.deviceName = "Anna's iPhone";
    hello.appVersion = "1";
    hello.pairingCode = studio.link().pairingCode();
    hello.protocolVersion = 4;
    phone->send(link::msg::Hello{hello});
    ASSERT_TRUE(waitUntil([&] { return studio.link().devices().size() == 1; }, 20000));
    EXPECT_EQ(button->property("text").toString(), "1 connected");

    studio.click(button);
    ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
    QTest::qWait(400);
    EXPECT_TRUE(studio.showsText("Anna's iPhone"));
    EXPECT_FALSE(studio.showsText("No iPhone connected"));
    saveScreenshot(studio.screenshot(), "window-connection");
    phone->cancel();
}

TEST(MainWindowTest, ADroppedFolderBecomesAJobANonPhotoANoticeAndOtherItemsNothing) {
    pelorin::testing::ScratchFolder dropped;
    writePhotos(dropped.path() / "Chair", 25);
    pelorin::testing::writeFile(dropped.path() / "notes.txt", std::string("hello"));
    StudioWindow studio;
    studio.start();
    auto* highlight = studio.item("dropHighlight");
    ASSERT_TRUE(highlight);

    auto drop = [&](const fs::path& item) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(item.string()))});
        const QPoint at(600, 400);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&studio.window(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_TRUE(highlight->isVisible());
        QDropEvent event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&studio.window(), &event);
        EXPECT_TRUE(event.isAccepted());
        EXPECT_FALSE(highlight->isVisible());
    };

    drop(dropped.path() / "Chair");
    // The copies run in the background; meanwhile the window says so.
    EXPECT_TRUE(studio.shows("importIndicator"));
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 1; }));
    const StudioJob& job = studio.store().jobs().front();
    EXPECT_EQ(job.name, "Chair");
    EXPECT_EQ(job.phase, JobPhase::ready);
    EXPECT_EQ(job.imageCount, 25);
    ASSERT_TRUE(waitUntil([&] { return !studio.shell().isImporting(); }));
    EXPECT_FALSE(studio.shows("importIndicator"));
    EXPECT_TRUE(studio.showsText("Ready, 25 photos"));

    drop(dropped.path() / "notes.txt");
    ASSERT_TRUE(waitUntil([&] { return studio.shows("noticeAlert"); }));
    EXPECT_TRUE(studio.showsText("This is not a photo"));
    EXPECT_EQ(studio.store().jobs().size(), 1u);
    studio.click(studio.button("OK"));
    ASSERT_TRUE(waitUntil([&] { return !studio.shell().hasNotice(); }));

    // Items that are not files on this computer are left out; with nothing left, nothing
    // happens at all.
    auto choose = [&](const QList<QUrl>& urls) {
        QMetaObject::invokeMethod(&studio.window(), "importChosen",
                                  Q_ARG(QVariant, QVariant::fromValue(urls)));
    };
    choose({QUrl("https://example.com/photos")});
    QTest::qWait(300);
    EXPECT_FALSE(studio.shell().hasNotice());
    EXPECT_FALSE(studio.shell().isImporting());
    EXPECT_EQ(studio.store().jobs().size(), 1u);
    writePhotos(dropped.path() / "Stool", 25);
    choose({QUrl("https://example.com/photos"),
            QUrl::fromLocalFile(QString::fromStdString((dropped.path() / "Stool").string()))});
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 2; }));
    EXPECT_EQ(studio.store().jobs().front().name, "Stool");
    EXPECT_FALSE(studio.shell().hasNotice());
}

TEST(MainWindowTest, TheConnectionButtonOpensAndClosesThePanel) {
    StudioWindow studio;
    studio.start();
    auto* button = studio.item("connectionButton");
    ASSERT_TRUE(button);
    for (bool open : {true, false, true}) {
        studio.click(button);
        ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup") == open; }))
            << (open ? "not opened" : "not closed");
        QTest::qWait(250);  // past the popup's transition
        EXPECT_EQ(studio.shows("connectionPopup"), open);
    }
    QTest::keyClick(&studio.window(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !studio.shows("connectionPopup"); }));
}

// The window at its smallest and on a common laptop screen: the content keeps its minimum, and
// the connection panel and the privacy sheet stay inside the window, the panel scrolling to its
// last line.
TEST(MainWindowTest, TheContentKeepsItsMinimumAndPanelsFitSmallWindows) {
    struct Size {
        const char* name;
        int width, height;  // 0: the window's minimum
    };
    for (const Size size : {Size{"minimum", 0, 0}, Size{"laptop", 1366, 768}}) {
        SCOPED_TRACE(size.name);
        StudioWindow studio;
        studio.start();
        QQuickWindow& window = studio.window();
        window.resize(size.width ? size.width : window.minimumWidth(),
                      size.height ? size.height : window.minimumHeight());
        ASSERT_TRUE(waitUntil([&] {
            return window.height() == (size.height ? size.height : window.minimumHeight());
        }));
        auto* content = window.property("contentItem").value<QQuickItem*>();
        ASSERT_TRUE(content);
        EXPECT_GE(content->width(), 720);
        EXPECT_GE(content->height(), 500);

        studio.click(studio.item("connectionButton"));
        ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
        QTest::qWait(300);
        auto* scroll = studio.item("connectionScroll");
        ASSERT_TRUE(scroll);
        const QRectF box = scroll->mapRectToScene(QRectF(0, 0, scroll->width(), scroll->height()));
        EXPECT_LE(box.bottom(), window.height());
        const qreal end = scroll->property("contentHeight").toReal() - scroll->height();
        scroll->setProperty("contentY", std::max<qreal>(0, end));
        QTest::qWait(100);
        QQuickItem* last = nullptr;
        for (QQuickItem* item : studio.drawn(""))
            if (item->property("text").toString() == "No iPhone connected") last = item;
        ASSERT_TRUE(last);
        const QRectF line = last->mapRectToScene(QRectF(0, 0, last->width(), last->height()));
        EXPECT_TRUE(box.contains(line)) << "the panel's last line is out of reach";
        saveScreenshot(studio.screenshot(), QString("window-connection-") + size.name);
        QTest::keyClick(&window, Qt::Key_Escape);

        // The privacy sheet, over this window and over the smaller settings window.
        auto* settings = window.property("settingsWindow").value<QQuickWindow*>();
        ASSERT_TRUE(settings);
        settings->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
        for (auto [over, name] : {std::pair<QQuickWindow*, const char*>{&window, "privacySheet"},
                                  {settings, "settingsPrivacySheet"}}) {
            auto* sheet = over->findChild<QObject*>(name);
            ASSERT_TRUE(sheet) << name;
            QMetaObject::invokeMethod(sheet, "open");
            ASSERT_TRUE(waitUntil([&] { return sheet->property("opened").toBool(); }));
            EXPECT_LE(sheet->property("height").toReal(), over->height()) << name;
            EXPECT_LE(sheet->property("width").toReal(), over->width()) << name;
            QMetaObject::invokeMethod(sheet, "close");
            ASSERT_TRUE(waitUntil([&] { return !sheet->property("visible").toBool(); }));
        }
        settings->close();
    }
}

// The store reports a change on every progress tick: the list must follow by id, moving and
// refreshing rows, so that a selected or scrolled row never jumps or loses its delegate.
TEST(MainWindowTest, TheListFollowsTheStoreRowByRowAndNeverResets) {
    StudioWindow studio;
    const auto old = seededJob("Vase", JobPhase::ready, 30, StudioJob::Source::phone("A"));
    const auto middle = seededJob("Mug", JobPhase::finished, 30);
    studio.seed(old);
    studio.seed(middle);
    studio.start();
    JobListModel& model = *studio.shell().jobs();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    auto ids = [&] {
        QStringList out;
        for (int row = 0; row < model.rowCount(); ++row) out.append(model.idAt(row));
        return out;
    };

    // The old capture comes back from its phone: its row moves to the top.
    auto manifest = pelorin::testing::captureManifest(20, {.name = "Vase again"});
    manifest.id = old.id;
    manifest.createdAt = Date::now();
    studio.store().beginUpload(manifest, "Anna's iPhone", 0);
    EXPECT_EQ(ids(), QStringList({idText(old.id), idText(middle.id)}));
    EXPECT_EQ(model.data(model.index(0), JobListModel::SubtitleRole).toString(),
              "Receiving 0 of 20");
    // A tick changes one row and nothing else.
    changes.clear();
    studio.store().fileWritten(old.id);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.first().at(0).toModelIndex().row(), 0);
    EXPECT_EQ(model.data(model.index(0), JobListModel::SubtitleRole).toString(),
              "Receiving 1 of 20");

    studio.store().deleteJob(middle.id);
    EXPECT_EQ(ids(), QStringList({idText(old.id)}));
    EXPECT_EQ(resets.count(), 0);
}

// The pixels of the picture inside `item` that are drawn in `colour`.
int pixelsOf(const QImage& picture, QQuickItem* item, const QColor& colour) {
    const QRect box = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()))
                          .toAlignedRect()
                          .intersected(picture.rect());
    int count = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            count += testing::near(picture.pixel(x, y), colour, 40);
    return count;
}

TEST(MainWindowTest, TheListOpensItsMenuWithShiftF10AndDeletesWithTheDeleteKey) {
    StudioWindow studio;
    const auto [kept, doomed] = startShowingTheSecondOfTwo(studio);
    auto* list = studio.item("jobList");
    ASSERT_TRUE(list);

    list->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(&studio.window(), Qt::Key_F10, Qt::ShiftModifier);
    QQuickItem* remove = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (remove = studio.button("Delete")) != nullptr; }));
    QTest::qWait(250);
    // Delete is destructive and looks it: its text is drawn in the danger colour.
    const QColor danger = QColor::fromRgbF(1.0f, 0.36f, 0.33f);
    EXPECT_GT(pixelsOf(studio.screenshot(), remove, danger), 15);
    saveScreenshot(studio.screenshot(), "window-job-menu");
    QTest::keyClick(&studio.window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return studio.button("Delete") == nullptr; }));

    // Delete on the selected row goes the menu's way: the selection is cleared, the job goes.
    list->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(&studio.window(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 1; }));
    EXPECT_EQ(studio.store().jobs().front().id, kept.id);
    EXPECT_TRUE(studio.shell().selection().isEmpty());
    EXPECT_TRUE(studio.shows("welcome"));
}

TEST(MainWindowTest, AutoOpenFinishedShowsTheNewestFinishedJobAtStart) {
    {
        StudioWindow studio;
        studio.setPreference("autoOpenFinished", true);
        studio.seed(seededJob("Vase", JobPhase::ready, 30));
        studio.start();
        EXPECT_TRUE(studio.shell().selection().isEmpty());
        EXPECT_TRUE(studio.shows("welcome"));
    }
    StudioWindow studio;
    studio.setPreference("autoOpenFinished", true);
    const auto older = seededJob("Mug", JobPhase::finished, 30);
    const auto newer = seededJob("Vase", JobPhase::finished, 30);
    studio.seed(older);
    studio.seed(newer);
    studio.seed(seededJob("Chair", JobPhase::ready, 30));
    studio.start();
    ASSERT_TRUE(waitUntil([&] { return studio.shell().selection() == idText(newer.id); }));
    EXPECT_TRUE(studio.shows("detailView"));
}

}  // namespace
}  // namespace pelorin::studio
