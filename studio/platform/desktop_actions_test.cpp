// The desktop actions against a private session bus with a stand-in file manager, and xdg-mime
// over a private set of default applications.
#include "studio/platform/desktop_actions.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include "tests/support/qt_event_loop.h"
#include "tests/support/scratch_folder.h"

namespace pelorin::studio {
namespace {

namespace fs = std::filesystem;
using pelorin::testing::waitUntil;

// The file manager's D-Bus face: records what it was asked to show.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

  public:
    QStringList shown;

  public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

// Where QDesktopServices would have sent the user.
class Opener : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class DesktopActionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QDesktopServices::setUrlHandler("file", &opener_, "open");
        pelorin::testing::writeFile(folder_ / "Statue OBJ" / "model.glb", std::string("glTF"));
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler("file"); }

    fs::path item() const { return folder_ / "Statue OBJ" / "model.glb"; }
    QUrl url(const fs::path& path) const {
        return QUrl::fromLocalFile(QString::fromStdString(path.string()));
    }

    pelorin::testing::ScratchFolder folder_;
    Opener opener_;
};

TEST_F(DesktopActionsTest, ShowInFolderAsksTheFileManagerElseOpensTheParentFolder) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    FileManager manager;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &manager,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    showInFolder(item());
    ASSERT_TRUE(waitUntil([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown, QStringList{url(item()).toString()});
    EXPECT_TRUE(opener_.opened.isEmpty());

    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");
    showInFolder(item());
    ASSERT_TRUE(waitUntil([&] { return !opener_.opened.isEmpty(); }));
    EXPECT_EQ(opener_.opened, QList<QUrl>{url(folder_ / "Statue OBJ")});
    EXPECT_EQ(manager.shown.size(), 1);
}

TEST_F(DesktopActionsTest, OpenUsesTheDefaultApplicationOnlyWhenTheTypeHasOne) {
    // The test's own MIME types, applications and defaults, and none of the machine's: a model
    // viewer installed here must not decide the first case.
    const auto config = folder_ / "config";
    const auto data = folder_ / "data";
    const auto system = folder_ / "system";
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString((folder_ / "system-config").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.string()));
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(system.string()));
    // xdg-mime asks the desktop's own tools when it recognises one; the generic lookup reads only
    // the folders above.
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
        qunsetenv(name);
    pelorin::testing::writeFile(
        system / "mime" / "packages" / "models.xml",
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                    "  <mime-type type=\"model/gltf-binary\">\n"
                    "    <comment>glTF model</comment>\n"
                    "    <glob pattern=\"*.glb\"/>\n"
                    "  </mime-type>\n"
                    "</mime-info>\n"));
    QObject context;
    std::optional<bool> result;
    openWithDefaultApplication(item(), &context, [&](bool opened) { result = opened; });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(opener_.opened.isEmpty());

    pelorin::testing::writeFile(data / "applications" / "model-viewer.desktop",
                                std::string("[Desktop Entry]\nType=Application\nName=Viewer\n"
                                            "Exec=true %f\nMimeType=model/gltf-binary;\n"));
    pelorin::testing::writeFile(config / "mimeapps.list",
                                std::string("[Default Applications]\n"
                                            "model/gltf-binary=model-viewer.desktop\n"));
    EXPECT_EQ(defaultApplicationFor("model/gltf-binary"), "model-viewer.desktop");
    result.reset();
    openWithDefaultApplication(item(), &context, [&](bool opened) { result = opened; });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(opener_.opened, QList<QUrl>{url(item())});
}

}  // namespace
}  // namespace pelorin::studio

// A private session bus for the file manager's stand-in, so the desktop's own bus is never
// touched; it ends with the tests.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (bus.waitForReadyRead(10000)) qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    bus.terminate();
    bus.waitForFinished(5000);
    return status;
}

#include "desktop_actions_test.moc"
