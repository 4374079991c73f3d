#include <QImageReader>
#include <QQmlEngine>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "studio/design/symbols.h"
#include "tests/support/ui/quick_harness.h"

namespace pelorin::studio {
namespace {

using testing::grab;
using testing::near;
using testing::saveScreenshot;
using testing::showQml;
using testing::waitUntil;

struct Span {
    int first = -1;
    int last = -1;
};

// The columns holding a pixel close to `ink`; -1 for none.
Span inkColumns(const QImage& image, const QColor& ink, int tolerance) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (near(image.pixel(x, y), ink, tolerance)) {
                if (first < 0) first = x;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

TEST(DesignKitTest, EverySymbolHasADrawingThatDraws) {
    ASSERT_FALSE(symbolNames().isEmpty());
    for (const QString& name : symbolNames()) {
        QImageReader reader(symbolFile(name));
        reader.setScaledSize({24, 24});
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull())
            << name.toStdString() << ": " << reader.errorString().toStdString();
        int ink = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) ink += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(ink, 15) << name.toStdString();
    }
    EXPECT_TRUE(symbolFile("no.such.symbol").isEmpty());
}

TEST(DesignKitTest, ProgressRingAtZeroStillDrawsItsStartingDot) {
    auto shown = showQml(R"(
        import QtQuick
        import Pelorin.Design
        Rectangle {
            color: "black"
            ProgressRing { x: 10; y: 10; width: 80; height: 80; lineWidth: 10; tint: "#ff0000"
                           fraction: 0 }
        })",
                         {100, 100});
    const QImage image = grab(*shown.window);
    saveScreenshot(image, "progress-ring-zero");
    // The ring's top, where progress starts: a round-capped dot in the full tint.
    const QRgb top = image.pixel(50, 15);
    EXPECT_GT(qRed(top), 200) << std::hex << top;
    // The rest of the ring is only the faint track.
    for (const QPoint p : {QPoint(85, 50), QPoint(50, 85), QPoint(15, 50)}) {
        EXPECT_GT(qRed(image.pixel(p)), 20) << p.x() << "," << p.y();
        EXPECT_LT(qRed(image.pixel(p)), 90) << p.x() << "," << p.y();
    }
}

TEST(DesignKitTest, StatusPillWithoutSymbolShowsOnlyItsText) {
    auto shown = showQml(R"(
        import QtQuick
        import Pelorin.Design
        Rectangle {
            color: "black"
            property alias bare: bare
            property alias marked: marked
            property alias alone: alone
            StatusPill { id: bare; x: 10; y: 10; text: "Ready"; tint: "#ffffff" }
            StatusPill { id: marked; x: 10; y: 50; text: "Ready"; systemImage: "wifi"
                         tint: "#ffffff" }
            Text { id: alone; x: 10; y: 90; text: "Ready"; color: "#ffffff"
                   font.weight: Font.DemiBold; font.pixelSize: Theme.captionSize }
        })",
                         {200, 120});
    const QImage image = grab(*shown.window);
    saveScreenshot(image, "status-pills");
    auto* bare = shown.root->property("bare").value<QQuickItem*>();
    auto* marked = shown.root->property("marked").value<QQuickItem*>();
    ASSERT_TRUE(bare && marked);
    // Bright ink only: the capsule's fill and outline are at 11% and 20%.
    const auto row = [&](int top, int height) { return image.copy(0, top, 200, height); };
    const auto text = inkColumns(row(90, 20), Qt::white, 90);
    const auto inBare = inkColumns(row(int(bare->y()) + 2, int(bare->height()) - 4), Qt::white, 90);
    const auto inMarked =
        inkColumns(row(int(marked->y()) + 2, int(marked->height()) - 4), Qt::white, 90);
    ASSERT_GE(text.first, 0);
    EXPECT_NEAR(inBare.last - inBare.first, text.last - text.first, 1);
    EXPECT_NEAR(inBare.first, 10 + 9 + (text.first - 10), 1);
    EXPECT_GT(inMarked.last - inMarked.first, text.last - text.first + 8);
    EXPECT_LT(bare->width(), marked->width());
}

struct PressedButton {
    QPointF labelPosition;
    QSizeF labelSize;
    QImage picture;
};

class TactileButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shown_ = showQml(R"(
            import QtQuick
            import Pelorin.Design
            Rectangle {
                color: "#121212"
                function setReduced(value) { Motion.reduced = value }
                TactileButton { objectName: "button"; x: 30; y: 20; text: "Start"
                                prominent: true }
            })",
                         {200, 100});
        button_ = shown_.root->findChild<QQuickItem*>("button");
        label_ = shown_.root->findChild<QQuickItem*>("label");
        ASSERT_TRUE(button_ && label_);
    }
    void TearDown() override { setReduced(false); }

    void setReduced(bool reduced) {
        QMetaObject::invokeMethod(shown_.root, "setReduced", Q_ARG(QVariant, reduced));
    }
    PressedButton look() {
        const QRectF box = label_->mapRectToScene(QRectF(0, 0, label_->width(), label_->height()));
        return {box.topLeft(), box.size(), grab(*shown_.window)};
    }
    QPoint centre() const {
        return button_->mapToScene(QPointF(button_->width() / 2, button_->height() / 2)).toPoint();
    }

    testing::ShownItem shown_;
    QQuickItem* button_ = nullptr;
    QQuickItem* label_ = nullptr;
};

TEST_F(TactileButtonTest, WithReducedMotionThePressedLabelStaysButTheKeyStillChanges) {
    setReduced(true);
    const PressedButton released = look();
    saveScreenshot(released.picture, "button-released");
    QTest::mousePress(shown_.window.get(), Qt::LeftButton, {}, centre());
    // Sampled over the time a spring would take: nothing moves at any moment.
    for (int sample = 0; sample < 4; ++sample) {
        const PressedButton pressed = look();
        EXPECT_EQ(pressed.labelPosition, released.labelPosition) << sample;
        EXPECT_EQ(pressed.labelSize, released.labelSize) << sample;
        QTest::qWait(70);
    }
    const PressedButton pressed = look();
    saveScreenshot(pressed.picture, "button-pressed-reduced");
    // The sheen dims and the shadow tightens: the key's top edge and the area below it differ.
    int changed = 0;
    for (int y = 0; y < released.picture.height(); ++y)
        for (int x = 0; x < released.picture.width(); ++x)
            changed += released.picture.pixel(x, y) != pressed.picture.pixel(x, y);
    EXPECT_GT(changed, 100);
    QTest::mouseRelease(shown_.window.get(), Qt::LeftButton, {}, centre());
}

TEST_F(TactileButtonTest, WithMotionThePressedLabelSinks) {
    setReduced(false);
    const PressedButton released = look();
    QTest::mousePress(shown_.window.get(), Qt::LeftButton, {}, centre());
    ASSERT_TRUE(waitUntil([&] {
        return std::abs(look().labelPosition.y() - released.labelPosition.y() - 1.5) < 0.01;
    }));
    EXPECT_EQ(look().labelPosition.x(), released.labelPosition.x());
    QTest::mouseRelease(shown_.window.get(), Qt::LeftButton, {}, centre());
    EXPECT_TRUE(waitUntil([&] { return look().labelPosition == released.labelPosition; }));
}

TEST(DesignKitTest, GalleryScreenshot) {
    // The gallery is a page of this test's, not of the shipped module.
    const QByteArray galleryFolder = QUrl::fromLocalFile(PELORIN_DESIGN_GALLERY).toEncoded();
    auto shown = showQml(R"(
        import QtQuick
        import Pelorin.Design
        import ")" + galleryFolder +
                             R"("
        Rectangle {
            color: Theme.background
            Gallery { x: 22; y: 22; width: parent.width - 44 }
        })",
                         {460, 400});
    QTest::qWait(400);  // the rings' first animation
    const QImage image = grab(*shown.window);
    saveScreenshot(image, "design-kit");
    // The finished pill's green and the prominent button's blue are both on the page.
    bool green = false, blue = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            green = green || near(image.pixel(x, y), QColor::fromRgbF(0.24, 0.80, 0.47), 12);
            blue = blue || near(image.pixel(x, y), QColor::fromRgbF(0.17, 0.72, 0.94), 12);
        }
    }
    EXPECT_TRUE(green);
    EXPECT_TRUE(blue);
}

TEST(DesignKitTest, ThePrivacySheetShowsTheDocumentAndDoneClosesIt) {
    auto shown = showQml(R"(
        import QtQuick
        import Pelorin.Design
        Rectangle {
            color: Theme.background
            property alias sheet: sheet
            LegalDocumentSheet { id: sheet; document: LegalDocuments.desktopPrivacyPolicy }
        })",
                         {700, 760});
    QObject* sheet = shown.root->property("sheet").value<QObject*>();
    ASSERT_TRUE(sheet);
    QMetaObject::invokeMethod(sheet, "open");
    ASSERT_TRUE(waitUntil([&] { return sheet->property("opened").toBool(); }));
    const QImage image = grab(*shown.window);
    saveScreenshot(image, "privacy-sheet");
    // And its end, where the links are.
    for (auto* item : shown.window->contentItem()->findChildren<QQuickItem*>()) {
        if (item->inherits("QQuickFlickable")) {
            item->setProperty("contentY",
                              item->property("contentHeight").toReal() - item->height());
            saveScreenshot(grab(*shown.window), "privacy-sheet-end");
        }
    }
    // Sized between its minimum and ideal, and centred.
    const qreal width = sheet->property("width").toReal();
    const qreal height = sheet->property("height").toReal();
    EXPECT_GE(width, 480);
    EXPECT_LE(width, 560);
    EXPECT_GE(height, 520);
    EXPECT_LE(height, 680);

    QQuickItem* done = nullptr;
    for (auto* item : shown.window->contentItem()->findChildren<QQuickItem*>())
        if (item->objectName() == "done") done = item;
    ASSERT_TRUE(done);
    const QPointF centre = done->mapToScene(QPointF(done->width() / 2, done->height() / 2));
    QTest::mouseClick(shown.window.get(), Qt::LeftButton, {}, centre.toPoint());
    EXPECT_TRUE(waitUntil([&] { return !sheet->property("visible").toBool(); }));
}

}  // namespace
}  // namespace pelorin::studio
