// The studio as a person meets it: the window process itself, and the sample set from the
// welcome page to a model on screen.
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"
#include "tests/support/ui/quick_harness.h"
#include "tests/support/ui/studio_window.h"

namespace pelorin::studio {
namespace {

using testing::StudioWindow;
using testing::waitUntil;

// The window process prints what --no-window prints, and its QR code, read off the screen,
// is exactly the pairing link it printed.
TEST(WindowProcessTest, PrintsTheStartLinesAndShowsThePrintedLinkAsItsQRCode) {
    pelorin::testing::ScratchFolder home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORIN_STUDIO_HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("PELORIN_PHOTOGRAMMETRY", "replay");

    QProcess headless;
    headless.setProcessEnvironment(environment);
    headless.start(PELORIN_STUDIO_EXECUTABLE, {"--no-window"});
    ASSERT_TRUE(waitUntil(
        [&] { return headless.canReadLine() && headless.peek(1 << 16).contains("pairing link: "); },
        20000));
    headless.terminate();
    headless.waitForFinished(10000);
    const QStringList plain = QString::fromUtf8(headless.readAllStandardOutput()).split('\n');

    QProcess window;
    window.setProcessEnvironment(environment);
    window.start(PELORIN_STUDIO_EXECUTABLE, {});
    QString printed;
    ASSERT_TRUE(waitUntil(
        [&] {
            printed += QString::fromUtf8(window.readAllStandardOutput());
            return printed.contains("pairing link: ") && printed.endsWith('\n');
        },
        30000));
    const QStringList lines = printed.split('\n');
    // The same studio (same folder, identity and code) says the same, up to the port.
    for (const char* start :
         {"Pelorin Studio", "jobs folder: ", "reconstruction: ", "studio name: ", "pairing code: ",
          "fingerprint: ", "0 jobs loaded"}) {
        const auto find = [&](const QStringList& in) {
            for (const QString& line : in)
                if (line.startsWith(start)) return line;
            return QString();
        };
        EXPECT_FALSE(find(lines).isEmpty()) << start;
        EXPECT_EQ(find(lines), find(plain)) << start;
    }
    QString link;
    for (const QString& line : lines)
        if (line.startsWith("pairing link: ")) link = line.mid(14);
    ASSERT_FALSE(link.isEmpty());

    // The welcome page shows the code; the whole screen is read, the window being another
    // process's.
    QString seen;
    waitUntil(
        [&] {
            seen = testing::readQRCode(QGuiApplication::primaryScreen()->grabWindow(0).toImage());
            return seen == link;
        },
        20000);
    EXPECT_EQ(seen, link);
    window.terminate();
    window.waitForFinished(10000);
}

TEST(WindowEndToEndTest, TheSamplePhotosBecomeAModelOnScreen) {
    StudioWindow studio;
    studio.start(std::filesystem::path(PELORIN_SOURCE_RESOURCES) / "Sample Photos Statue");
    studio.click(studio.item("trySample"));
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 1; }, 30000));
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().front().phase == JobPhase::finished; },
                          60000));
    studio.select(studio.store().jobs().front().id);
    auto* preview = studio.item("modelPreview");
    ASSERT_TRUE(preview);
    ASSERT_TRUE(waitUntil([&] { return preview->property("status").toInt() >= 2; }, 20000))
        << preview->property("status").toInt() << " "
        << preview->property("source").toString().toStdString() << " "
        << preview->parentItem()->objectName().toStdString() << " "
        << int(studio.store().jobs().front().phase);
    ASSERT_EQ(preview->property("status").toInt(), 2)
        << studio.store().jobs().front().message.value_or("") << " "
        << preview->property("source").toString().toStdString();
    QTest::qWait(300);

    const QImage shot = studio.screenshot();
    const QRectF box = preview->mapRectToScene(QRectF(0, 0, preview->width(), preview->height()));
    const QColor background(18, 18, 18);  // the theme's background grey
    int model = 0;
    const int cx = int(box.center().x()), cy = int(box.center().y());
    for (int y = cy - 20; y <= cy + 20; ++y)
        for (int x = cx - 20; x <= cx + 20; ++x)
            model += !testing::near(shot.pixel(x, y), background, 12);
    EXPECT_GT(model, 41 * 41 / 2);
    testing::saveScreenshot(shot, "window-sample-finished");
}

}  // namespace
}  // namespace pelorin::studio
