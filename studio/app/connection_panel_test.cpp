// The pairing facts on screen: the QR code read back from the window's pixels, the code and the
// fingerprint as people and screen readers get them, and the settings window.
#include <QAccessible>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include "studio/app/pairing_qr.h"
#include "tests/support/ui/quick_harness.h"
#include "tests/support/ui/studio_window.h"

namespace pelorin::studio {
namespace {

using testing::readQRCode;
using testing::saveScreenshot;
using testing::StudioWindow;
using testing::waitUntil;

// The QR card of the open connection panel, as drawn.
QImage panelCode(StudioWindow& studio) {
    // The panel's card is the larger of the two on screen (the welcome page has the other).
    QQuickItem* card = nullptr;
    for (QQuickItem* item : studio.drawn("qrCard")) {
        if (!card || item->width() > card->width()) card = item;
    }
    if (!card) return {};
    const QRectF box = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
    return studio.screenshot().copy(box.toAlignedRect());
}

QAccessibleInterface* accessible(QQuickItem* item) {
    return item ? QAccessible::queryAccessibleInterface(item) : nullptr;
}

TEST(ConnectionPanelTest, TheDrawnQRCodeCarriesTheLinkAndFollowsANewCode) {
    StudioWindow studio;
    studio.start();
    ASSERT_TRUE(studio.link().port());
    studio.click(studio.item("connectionButton"));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
    QTest::qWait(400);

    const QString first = QString::fromStdString(studio.link().pairingLink().url());
    EXPECT_EQ(readQRCode(panelCode(studio)), first);
    EXPECT_TRUE(studio.showsText("Visible on Wi-Fi"));
    EXPECT_TRUE(studio.showsText("No iPhone connected"));

    studio.click(studio.item("newCode"));
    const QString second = QString::fromStdString(studio.link().pairingLink().url());
    ASSERT_NE(first, second);
    QTest::qWait(100);
    EXPECT_EQ(readQRCode(panelCode(studio)), second);
    const QString code = QString::fromStdString(studio.link().pairingCode());
    EXPECT_TRUE(studio.showsText(code.left(3) + " " + code.mid(3)));
}

TEST(ConnectionPanelTest, ALinkTooLongForAnyQRCodeGivesNoSymbol) {
    EXPECT_TRUE(qrModules(std::string(8000, 'x')).isNull());
    EXPECT_TRUE(qrModules("").isNull());
    const QImage modules = qrModules("pelorin3d://pair?v=1&name=A&code=012345");
    ASSERT_FALSE(modules.isNull());
    // A version 3 symbol (29 modules) with its three finder patterns' dark corners.
    EXPECT_EQ(modules.width(), 29);
    EXPECT_EQ(qGray(modules.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(modules.pixel(28, 0)), 0);
    EXPECT_EQ(qGray(modules.pixel(0, 28)), 0);
}

TEST(ConnectionPanelTest, ScreenReadersHearTheCodeDigitByDigitAndTheLabelsTheViewsGive) {
    StudioWindow studio;
    studio.setPairingCode("012345");
    studio.start();
    ASSERT_EQ(studio.link().pairingCode(), "012345");
    // A code that begins with a zero keeps it, in two groups of three.
    EXPECT_TRUE(studio.showsText("012 345"));

    studio.click(studio.item("connectionButton"));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
    const auto all = studio.window().findChildren<QQuickItem*>();
    QStringList names;
    int headings = 0, codes = 0, cards = 0;
    for (QQuickItem* item : all) {
        if (!item->isVisible() || item->window() != &studio.window()) continue;
        QAccessibleInterface* face = accessible(item);
        if (!face) continue;
        const QString name = face->text(QAccessible::Name);
        if (name == "Pairing code 0 1 2 3 4 5") ++codes;
        if (name == "Pairing QR code. Scan it with Pelorin on your iPhone." &&
            face->role() == QAccessible::Graphic)
            ++cards;
        if (face->role() == QAccessible::Heading) {
            ++headings;
            names.append(name);
        }
    }
    EXPECT_EQ(codes, 2);  // the welcome page and the panel
    EXPECT_EQ(cards, 2);
    EXPECT_TRUE(names.contains("Pair an iPhone"));
    EXPECT_TRUE(names.contains("Connected"));

    auto* button = accessible(studio.item("connectionButton"));
    ASSERT_TRUE(button);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), "Pair iPhone");
    EXPECT_EQ(button->text(QAccessible::Description), "Pair an iPhone");
}

// What a screen reader is told as the focus moves: the focused object's role and name.
std::vector<std::pair<QAccessible::Role, QString>>* heard = nullptr;
void recordFocus(QAccessibleEvent* event) {
    if (!heard || event->type() != QAccessible::Focus) return;
    QAccessibleInterface* face = event->accessibleInterface();
    heard->emplace_back(face ? face->role() : QAccessible::NoRole,
                        face ? face->text(QAccessible::Name) : QString());
}

// The accent pixels in and just around an item: its focus ring, when it has one.
int accentAround(const QImage& picture, QQuickItem* item) {
    const QRect box = item->mapRectToScene(QRectF(-5, -5, item->width() + 10, item->height() + 10))
                          .toAlignedRect()
                          .intersected(picture.rect());
    int count = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            count += testing::near(picture.pixel(x, y), QColor::fromRgbF(0.17f, 0.72f, 0.94f), 30);
    return count;
}

TEST(ConnectionPanelTest, TabReachesEachWelcomeControlInOrderNamedAndVisiblyFocused) {
    StudioWindow studio;
    studio.start(std::filesystem::path(PELORIN_SOURCE_RESOURCES) / "Sample Photos Statue");
    std::vector<std::pair<QAccessible::Role, QString>> events;
    heard = &events;
    // The bridge is on (see the tests' main), so focus changes are announced.
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); }));
    const auto previous = QAccessible::installUpdateHandler(&recordFocus);
    QStringList reached;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(&studio.window(), Qt::Key_Tab);
        QQuickItem* focus = studio.window().activeFocusItem();
        reached.append(focus ? focus->objectName() : QString());
        // Drawn for the keyboard's focus, on every stop.
        if (focus && i < 4) {
            EXPECT_GT(accentAround(studio.screenshot(), focus), 40)
                << "no focus ring on " << focus->objectName().toStdString();
        }
        if (i == 0) saveScreenshot(studio.screenshot(), "window-focus-toolbar");
        if (i == 3) saveScreenshot(studio.screenshot(), "window-focus-sample");
    }
    QAccessible::installUpdateHandler(previous);
    heard = nullptr;
    const QStringList order{"connectionButton", "importButton", "welcomeImport", "trySample"};
    EXPECT_EQ(reached, order + order);
    QStringList names;
    for (const auto& [role, name] : events) {
        EXPECT_EQ(role, QAccessible::Button) << name.toStdString();
        names.append(name);
    }
    const QStringList spoken{"Pair iPhone", "Import Photos", "Import Photos", "Try Sample Photos"};
    EXPECT_EQ(names, spoken + spoken);

    // A click leaves no ring.
    studio.click(studio.item("importButton"));
    QTest::keyClick(&studio.window(), Qt::Key_Escape);
    QTest::qWait(300);
    EXPECT_EQ(accentAround(studio.screenshot(), studio.item("connectionButton")), 0);

    // Space on the focused sample button starts the sample set.
    studio.item("trySample")->forceActiveFocus(Qt::TabFocusReason);
    QTest::keyClick(&studio.window(), Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return studio.store().jobs().size() == 1; }, 20000));
}

// Without a DNS-SD daemon the listener still takes phones by the QR code: that is listening,
// with a line saying what does not work. Without a listener the studio is not available.
TEST(ConnectionPanelTest, TheBadgeTellsAMissingAdvertisementFromAMissingListener) {
    struct Case {
        const char* name;
        bool identity;
        const char* badge;
        bool note;
    };
    // The tests' main puts the system bus, where the daemon would be, out of reach.
    for (const Case c : {Case{"no-dnssd", true, "Visible on Wi-Fi", true},
                         Case{"no-listener", false, "Not available", false}}) {
        SCOPED_TRACE(c.name);
        StudioWindow studio;
        if (!c.identity)
            std::filesystem::create_directories(studio.jobsRoot().parent_path() /
                                                "link-identity.key");
        studio.start();
        ASSERT_TRUE(waitUntil(
            [&] {
                return studio.link().serverState().kind == StudioLink::ServerState::Kind::failed;
            },
            10000));
        studio.click(studio.item("connectionButton"));
        ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
        QTest::qWait(300);
        EXPECT_EQ(studio.item("serverState")->property("text").toString(), c.badge);
        EXPECT_EQ(studio.shows("serverNote"), c.note);
        if (c.note) {
            EXPECT_TRUE(studio.showsText(
                "Phones cannot find this computer by name. Scan the QR code to pair."));
            EXPECT_EQ(readQRCode(panelCode(studio)).toStdString(),
                      studio.link().pairingLink().url());
        }
        testing::saveScreenshot(studio.screenshot(), QString("window-connection-") + c.name);
    }
}

TEST(ConnectionPanelTest, CtrlCommaOpensSettingsWithTheCodeAndFingerprintAndCtrlOTheImports) {
    StudioWindow studio;
    studio.start();
    QTest::keyClick(&studio.window(), Qt::Key_Comma, Qt::ControlModifier);
    auto* settings = studio.window().property("settingsWindow").value<QQuickWindow*>();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(waitUntil([&] { return settings->isVisible(); }));
    auto* code = settings->findChild<QQuickItem*>("settingsCode");
    auto* fingerprint = settings->findChild<QQuickItem*>("settingsFingerprint");
    ASSERT_TRUE(code && fingerprint);
    EXPECT_EQ(code->property("text").toString().toStdString(), studio.link().pairingCode());
    EXPECT_EQ(fingerprint->property("text").toString().toStdString(),
              link::SecureLink::displayFingerprint(*studio.link().fingerprint()));
    studio.link().newPairingCode();
    EXPECT_EQ(code->property("text").toString().toStdString(), studio.link().pairingCode());
    auto* version = settings->findChild<QQuickItem*>("settingsVersion");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->property("text").toString(), QStringLiteral(PELORIN_VERSION));
    testing::saveScreenshot(testing::grab(*settings), "window-settings");
    settings->close();

    // Ctrl+O offers the two import dialogs.
    studio.window().requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&studio.window()));
    QTest::keyClick(&studio.window(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return studio.shows("importMenu"); }));
    QTest::qWait(200);
    EXPECT_EQ(studio.menuEntries(), QStringList({"Photos…", "Folder…"}));
}

TEST(ConnectionPanelTest, WithoutAnIdentityTheFingerprintIsUnavailableEverywhere) {
    StudioWindow studio;
    // A folder where the key file belongs: no identity can be read or made.
    std::filesystem::create_directories(studio.jobsRoot().parent_path() / "link-identity.key");
    studio.start();
    ASSERT_FALSE(studio.link().fingerprint());
    studio.click(studio.item("connectionButton"));
    ASSERT_TRUE(waitUntil([&] { return studio.shows("connectionPopup"); }));
    QTest::qWait(300);
    EXPECT_TRUE(studio.showsText("Unavailable"));
    const QString link = readQRCode(panelCode(studio));
    EXPECT_EQ(link.toStdString(), studio.link().pairingLink().url());
    EXPECT_FALSE(link.contains("fp="));
    auto* settings = studio.window().property("settingsWindow").value<QQuickWindow*>();
    EXPECT_EQ(settings->findChild<QQuickItem*>("settingsFingerprint")->property("text"),
              "Unavailable");
}

}  // namespace
}  // namespace pelorin::studio
