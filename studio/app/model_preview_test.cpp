#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "studio/app/model_preview.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/preview_test_models.h"
#include "tests/support/ui/quick_harness.h"

namespace pelorin::studio {
namespace {

using testing::grab;
using testing::saveScreenshot;
using testing::showQml;
using testing::waitUntil;

const QColor red(230, 30, 30), blue(30, 30, 230);

class ModelPreviewViewTest : public ::testing::Test {
  protected:
    void show(const std::filesystem::path& file) {
        shown_ = showQml(QByteArray(R"(
            import QtQuick
            import Pelorin.Studio
            ModelPreviewView { source: ")") +
                             QByteArray::fromStdString(file.string()) + "\" }",
                         {320, 240});
        preview_ = shown_.root->property("preview").value<ModelPreview*>();
        ASSERT_TRUE(preview_);
    }
    bool settled() {
        return waitUntil([&] {
            return preview_->status() == ModelPreview::Status::Ready ||
                   preview_->status() == ModelPreview::Status::Failed;
        });
    }
    QRgb centre() {
        const QImage image = grab(*shown_.window);
        last_ = image;
        return image.pixel(image.width() / 2, image.height() / 2);
    }
    bool visible(const char* name) {
        auto* item = shown_.root->findChild<QQuickItem*>(name);
        return item && item->isVisible();
    }

    pelorin::testing::ScratchFolder folder_;
    testing::ShownItem shown_;
    ModelPreview* preview_ = nullptr;
    QImage last_;
};

bool reddish(QRgb c) {
    return qRed(c) > 80 && qRed(c) > 2 * qGreen(c) && qRed(c) > 2 * qBlue(c);
}
bool bluish(QRgb c) {
    return qBlue(c) > 80 && qBlue(c) > 2 * qGreen(c) && qBlue(c) > 2 * qRed(c);
}

TEST_F(ModelPreviewViewTest, ShowsTheTextureTheRightWayUpInTheCentre) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::cubeModel(2.0f, red, blue));
    show(file);
    ASSERT_TRUE(settled());
    ASSERT_EQ(preview_->status(), ModelPreview::Status::Ready);
    const QRgb pixel = centre();
    saveScreenshot(last_, "preview-cube");
    EXPECT_TRUE(reddish(pixel)) << std::hex << pixel;
    EXPECT_FALSE(visible("spinner"));
    EXPECT_FALSE(visible("failure"));
}

TEST_F(ModelPreviewViewTest, AnUntexturedModelIsGreyNotAFailure) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::cubeModel(0.02f, red, blue, false));
    show(file);
    ASSERT_TRUE(settled());
    ASSERT_EQ(preview_->status(), ModelPreview::Status::Ready);
    const QRgb pixel = centre();
    EXPECT_GT(qGray(pixel), 40) << std::hex << pixel;
    EXPECT_LT(std::abs(qRed(pixel) - qBlue(pixel)), 12) << std::hex << pixel;
}

TEST_F(ModelPreviewViewTest, DamagedOrMissingFilesShowTheFailureLabel) {
    testing::Bytes whole = testing::cubeModel(1.0f, red, blue);
    const auto damaged = folder_ / "damaged.usdz";
    pelorin::testing::writeFile(damaged,
                                testing::Bytes(whole.begin(), whole.begin() + whole.size() / 2));
    show(damaged);
    ASSERT_TRUE(settled());
    EXPECT_EQ(preview_->status(), ModelPreview::Status::Failed);
    EXPECT_TRUE(visible("failure"));
    EXPECT_FALSE(visible("spinner"));
    // The label is drawn, in light text on the background, where the model would be.
    const QImage image = grab(*shown_.window);
    saveScreenshot(image, "preview-failure");
    int light = 0;
    for (int y = 100; y < 160; ++y)
        for (int x = 60; x < 260; ++x) light += qGray(image.pixel(x, y)) > 100;
    EXPECT_GT(light, 40);

    shown_.root->setProperty("source", QString::fromStdString((folder_ / "missing.usdz").string()));
    EXPECT_EQ(preview_->status(), ModelPreview::Status::Loading);
    ASSERT_TRUE(settled());
    EXPECT_EQ(preview_->status(), ModelPreview::Status::Failed);
}

TEST_F(ModelPreviewViewTest, ShowingAgainReloadsAModelChangedAtTheSamePath) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::cubeModel(1.0f, red, blue));
    show(file);
    ASSERT_TRUE(settled());
    EXPECT_TRUE(reddish(centre()));

    // The job is built again: same path, new model. Hidden and shown, the view loads it afresh,
    // with the spinner and without the old model in between.
    pelorin::testing::writeFile(file, testing::cubeModel(1.0f, blue, red));
    shown_.root->setVisible(false);
    shown_.root->setVisible(true);
    EXPECT_EQ(preview_->status(), ModelPreview::Status::Loading);
    EXPECT_EQ(preview_->subsetCount(), 0);
    EXPECT_TRUE(visible("spinner"));
    ASSERT_TRUE(settled());
    EXPECT_TRUE(bluish(centre())) << std::hex << centre();
}

TEST_F(ModelPreviewViewTest, ALoadCancelledByHidingNeverReachesTheView) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::cubeModel(1.0f, red, blue));
    shown_ = showQml(QByteArray(R"(
        import QtQuick
        import Pelorin.Studio
        ModelPreviewView { visible: false; source: ")") +
                         QByteArray::fromStdString(file.string()) + "\" }",
                     {320, 240});
    preview_ = shown_.root->property("preview").value<ModelPreview*>();
    ASSERT_TRUE(preview_);
    // Shown and hidden again before the worker's answer can be delivered.
    shown_.root->setVisible(true);
    ASSERT_EQ(preview_->status(), ModelPreview::Status::Loading);
    shown_.root->setVisible(false);
    QTest::qWait(500);
    EXPECT_EQ(preview_->status(), ModelPreview::Status::Idle);
    EXPECT_EQ(preview_->subsetCount(), 0);
}

// Turning and zooming belong to the preview: a page around it neither scrolls nor pans.
TEST_F(ModelPreviewViewTest, DragTurnsAndTheWheelZoomsWithoutScrollingThePage) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::cubeModel(1.0f, red, blue));
    shown_ = showQml(QByteArray(R"(
        import QtQuick
        import Pelorin.Studio
        Flickable {
            contentHeight: 2000
            property alias view: view
            ModelPreviewView { id: view; width: 320; height: 240; source: ")") +
                         QByteArray::fromStdString(file.string()) + "\" } }",
                     {320, 240});
    auto* view = shown_.root->property("view").value<QQuickItem*>();
    ASSERT_TRUE(view);
    preview_ = view->property("preview").value<ModelPreview*>();
    ASSERT_TRUE(settled());
    const qreal yaw = view->property("yaw").toReal();
    const qreal distance = view->property("distance").toReal();

    QWheelEvent wheel(QPointF(160, 120), QPointF(160, 120), QPoint(), QPoint(0, -240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(shown_.window.get(), &wheel);
    EXPECT_GT(view->property("distance").toReal(), distance);
    EXPECT_EQ(shown_.root->property("contentY").toReal(), 0);

    QTest::mousePress(shown_.window.get(), Qt::LeftButton, {}, QPoint(100, 120));
    for (int x = 110; x <= 220; x += 10) QTest::mouseMove(shown_.window.get(), QPoint(x, 120), 16);
    QTest::mouseRelease(shown_.window.get(), Qt::LeftButton, {}, QPoint(220, 120), 16);
    EXPECT_LT(view->property("yaw").toReal(), yaw - 20);
    EXPECT_EQ(shown_.root->property("contentY").toReal(), 0);
    EXPECT_EQ(shown_.root->property("contentX").toReal(), 0);
}

TEST_F(ModelPreviewViewTest, PreviewScreenshot) {
    const auto file = folder_ / "model.usdz";
    pelorin::testing::writeFile(file, testing::sphereModel(20000, 512));
    shown_ = showQml(QByteArray(R"(
        import QtQuick
        import Pelorin.Studio
        ModelPreviewView { source: ")") +
                         QByteArray::fromStdString(file.string()) + "\" }",
                     {560, 400});
    preview_ = shown_.root->property("preview").value<ModelPreview*>();
    ASSERT_TRUE(settled());
    ASSERT_EQ(preview_->status(), ModelPreview::Status::Ready);
    saveScreenshot(grab(*shown_.window), "preview");
}

}  // namespace
}  // namespace pelorin::studio
