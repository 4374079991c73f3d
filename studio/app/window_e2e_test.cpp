// The studio as a person meets it: the window process itself, its pairing QR code and the
// sample set from the welcome page to a model on screen.
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "studio/app/window_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/quick_harness.h"

namespace pelorin::studio {
namespace {

using testing::click;
using testing::startWindow;
using testing::studioEnvironment;
using testing::waitUntil;
using testing::windowFrame;
using testing::xdotool;

// The window process prints what --no-window prints, and its QR code, read off the screen,
// is exactly the pairing link it printed.
TEST(WindowProcessTest, PrintsTheStartLinesAndShowsThePrintedLinkAsItsQRCode) {
    pelorin::testing::ScratchFolder home;
    const QProcessEnvironment environment = studioEnvironment(home.path());

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
    QString printed;
    ASSERT_TRUE(startWindow(window, environment, printed));
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
    const QString link = testing::printedLink(printed);
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

    // "New Code" in the connection panel: the process prints the new link, and both codes on
    // the screen (the welcome page's and the panel's) carry it.
    const QString id =
        xdotool({"search", "--sync", "--name", "^Pelorin Studio$"}).section('\n', 0, 0);
    const QRect frame = windowFrame(id);
    ASSERT_EQ(frame.size(), QSize(1180, 760));
    click(frame.topLeft() + QPoint(967, 67));  // the toolbar's "Pair iPhone"
    QTest::qWait(500);
    click(frame.topLeft() + QPoint(968, 121));  // the panel's "New Code"
    QString renewed;
    ASSERT_TRUE(waitUntil(
        [&] {
            printed += QString::fromUtf8(window.readAllStandardOutput());
            renewed = testing::printedLink(printed);
            return renewed != link && printed.endsWith('\n');
        },
        20000));
    QStringList codes;
    waitUntil(
        [&] {
            codes = testing::readQRCode(QGuiApplication::primaryScreen()->grabWindow(0).toImage())
                        .split('\n');
            return codes == QStringList{renewed, renewed};
        },
        20000);
    EXPECT_EQ(codes, QStringList({renewed, renewed}));
    window.terminate();
    window.waitForFinished(10000);
}

// The application as a person starts it, driven through the X server: Tab to "Try Sample
// Photos", Space, wait for the job, click it in the list, and look at the preview.
TEST(WindowProcessTest, TheSamplePhotosBecomeAModelOnScreen) {
    pelorin::testing::ScratchFolder home;
    const QProcessEnvironment environment = studioEnvironment(home.path());
    QProcess window;
    QString printed;
    ASSERT_TRUE(startWindow(window, environment, printed));
    const QString id =
        xdotool({"search", "--sync", "--name", "^Pelorin Studio$"}).section('\n', 0, 0);
    ASSERT_FALSE(id.isEmpty());
    const QRect frame = windowFrame(id);
    ASSERT_EQ(frame.size(), QSize(1180, 760));

    // The Tab key's stops on the welcome page, in reading order: the toolbar's two buttons, the
    // card's Import Photos, then Try Sample Photos.
    xdotool({"windowfocus", "--sync", id});
    xdotool({"key", "--delay", "150", "Tab", "Tab", "Tab", "Tab", "space"});
    const auto jobs = home.path() / "Jobs";
    auto finished = [&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(jobs, error)) {
            const auto bytes = pelorin::testing::readBytes(entry.path() / "job.json");
            if (std::string(bytes.begin(), bytes.end()).find("\"phase\":\"finished\"") !=
                std::string::npos)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitUntil(finished, 90000));

    // The job is the list's first row; the preview fills the panel at the top of the detail.
    click(frame.topLeft() + QPoint(140, 147));
    const QPoint centre = frame.topLeft() + QPoint(736, 397);
    const QColor background(18, 18, 18);
    int model = 0;
    QImage shot;
    waitUntil(
        [&] {
            shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            model = 0;
            for (int y = centre.y() - 20; y <= centre.y() + 20; ++y)
                for (int x = centre.x() - 20; x <= centre.x() + 20; ++x)
                    model += !testing::near(shot.pixel(x, y), background, 12);
            return model > 41 * 41 / 2;
        },
        30000);
    testing::saveScreenshot(shot.copy(frame), "window-process-sample");
    EXPECT_GT(model, 41 * 41 / 2);
    window.terminate();
    window.waitForFinished(10000);
}

}  // namespace
}  // namespace pelorin::studio
