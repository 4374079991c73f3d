// How long a finished model takes to appear in the preview, against reading its file's bytes,
// and how long the main thread stalls meanwhile. Run on a display (xvfb-run -a on a server):
//   preview_benchmark [triangles] [texture side] [hidden]
// A 10 ms timer runs throughout; its worst lateness is the longest the main thread was busy.
// As in the window, the view is shown from start-up without a model, which prepares its shaders;
// "hidden" keeps it hidden until the first load instead.
#include <QtQml/qqmlextensionplugin.h>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "studio/app/model_preview.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/ui/preview_test_models.h"

Q_IMPORT_QML_PLUGIN(Pelorin_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Pelorin_StudioPlugin)

namespace {

using pelorin::studio::ModelPreview;

double readBytesMs(const std::filesystem::path& file) {
    QElapsedTimer clock;
    clock.start();
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes(std::filesystem::file_size(file));
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return double(clock.nsecsElapsed()) / 1e6;
}

struct Trial {
    double readyMs = 0;       // shown to the model handed to the view
    double firstFrameMs = 0;  // shown to the first frame drawn with it
    double frameMs = 0;       // drawing that frame (software rendering on the main thread)
    double worstStallMs = 0;  // worst lateness of the 10 ms timer
    double worstStallOutsideDrawingMs = 0;  // the same without the time spent drawing frames
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle("Basic");
    const int triangles = argc > 1 ? std::atoi(argv[1]) : 250000;
    const int textureSide = argc > 2 ? std::atoi(argv[2]) : 2048;
    const bool hiddenAtStart = argc > 3 && std::strcmp(argv[3], "hidden") == 0;

    pelorin::testing::ScratchFolder folder;
    const auto file = folder / "model.usdz";
    pelorin::testing::writeFile(file,
                                pelorin::studio::testing::sphereModel(triangles, textureSide));
    std::printf("view %s at start-up\n", hiddenAtStart ? "hidden" : "shown without a model");
    std::printf("model: %d triangles, %dx%d JPEG texture, %.1f MB\n", triangles, textureSide,
                textureSide, double(std::filesystem::file_size(file)) / 1e6);

    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Pelorin.Studio\nModelPreviewView {}",
                      QUrl(QStringLiteral("qrc:/bench/Preview.qml")));
    auto* view = qobject_cast<QQuickItem*>(component.create());
    if (!view) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    QQuickWindow window;
    window.resize(800, 600);
    view->setParentItem(window.contentItem());
    view->setSize(window.size());
    view->setVisible(!hiddenAtStart);
    auto* preview = view->property("preview").value<ModelPreview*>();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    QTest::qWait(1000);
    view->setVisible(false);
    view->setProperty("source", QString::fromStdString(file.string()));

    // The stall probe.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    double worstLateness = 0;
    double worstOutsideDrawing = 0;
    qint64 drawnSinceTick = 0;  // time spent drawing frames since the last tick
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstLateness = std::max(worstLateness, double(now - lastTick) / 1e6 - 10);
        worstOutsideDrawing =
            std::max(worstOutsideDrawing, double(now - lastTick - drawnSinceTick) / 1e6 - 10);
        lastTick = now;
        drawnSinceTick = 0;
    });
    probe.start(10);

    qint64 frameStart = 0;
    qint64 lastFrameMs = 0;
    QObject::connect(
        &window, &QQuickWindow::beforeSynchronizing, &window,
        [&] { frameStart = clock.nsecsElapsed(); }, Qt::DirectConnection);
    QObject::connect(
        &window, &QQuickWindow::frameSwapped, &window,
        [&] {
            // frameSwapped can come twice for one frame; count each frame's drawing once.
            if (frameStart == 0) return;
            lastFrameMs = clock.nsecsElapsed() - frameStart;
            drawnSinceTick += lastFrameMs;
            frameStart = 0;
        },
        Qt::DirectConnection);

    auto runTrial = [&]() {
        Trial trial;
        view->setVisible(false);
        QTest::qWait(200);
        lastTick = clock.nsecsElapsed();
        worstLateness = 0;
        worstOutsideDrawing = 0;
        drawnSinceTick = 0;
        bool ready = false, drawn = false;
        qint64 readyAt = 0, modelFrameStart = 0;
        const qint64 start = clock.nsecsElapsed();
        auto readyConnection = QObject::connect(preview, &ModelPreview::statusChanged, [&] {
            if (preview->status() == ModelPreview::Status::Ready && !ready) {
                ready = true;
                readyAt = clock.nsecsElapsed();
                trial.readyMs = double(readyAt - start) / 1e6;
            }
        });
        // The first frame begun after the model reached the view is the one that draws it.
        auto syncConnection = QObject::connect(
            &window, &QQuickWindow::beforeSynchronizing, &window,
            [&] {
                if (ready && !modelFrameStart) modelFrameStart = clock.nsecsElapsed();
            },
            Qt::DirectConnection);
        auto frameConnection = QObject::connect(
            &window, &QQuickWindow::frameSwapped, &window,
            [&] {
                if (modelFrameStart && !drawn) {
                    drawn = true;
                    trial.firstFrameMs = double(clock.nsecsElapsed() - start) / 1e6;
                    trial.frameMs = double(clock.nsecsElapsed() - modelFrameStart) / 1e6;
                }
            },
            Qt::DirectConnection);
        view->setVisible(true);
        const bool done = QTest::qWaitFor(
            [&] { return drawn || preview->status() == ModelPreview::Status::Failed; }, 30000);
        QObject::disconnect(readyConnection);
        QObject::disconnect(frameConnection);
        QObject::disconnect(syncConnection);
        // A stall after the first frame still counts if it happened while settling.
        QTest::qWait(100);
        trial.worstStallMs = worstLateness;
        trial.worstStallOutsideDrawingMs = worstOutsideDrawing;
        if (!done || !drawn) std::fprintf(stderr, "the model never appeared\n");
        return trial;
    };

    std::vector<double> reads;
    for (int i = 0; i < 5; ++i) reads.push_back(readBytesMs(file));
    const double read = median(reads);

    const Trial cold = runTrial();
    std::vector<Trial> warm;
    for (int i = 0; i < 5; ++i) warm.push_back(runTrial());
    auto warmMedian = [&](double Trial::*field) {
        std::vector<double> values;
        for (const auto& t : warm) values.push_back(t.*field);
        return median(values);
    };
    double warmWorstStall = 0, warmWorstOutside = 0;
    for (const auto& t : warm) {
        warmWorstStall = std::max(warmWorstStall, t.worstStallMs);
        warmWorstOutside = std::max(warmWorstOutside, t.worstStallOutsideDrawingMs);
    }

    // Turning the model: one redraw of the scene, as while orbiting.
    std::vector<double> turns;
    for (int i = 0; i < 5; ++i) {
        lastFrameMs = 0;
        view->setProperty("yaw", view->property("yaw").toReal() + 10);
        if (QTest::qWaitFor([&] { return lastFrameMs > 0; }, 5000))
            turns.push_back(double(lastFrameMs) / 1e6);
    }

    std::printf("reading the file's bytes (page cache warm): %.1f ms\n", read);
    std::printf("%-28s %10s %10s\n", "", "cold", "warm (median/worst of 5)");
    std::printf("%-28s %10.1f %10.1f\n", "model handed to the view ms", cold.readyMs,
                warmMedian(&Trial::readyMs));
    std::printf("%-28s %10.1f %10.1f\n", "first frame with model ms", cold.firstFrameMs,
                warmMedian(&Trial::firstFrameMs));
    std::printf("%-28s %10.1f %10.1f\n", "  of which drawing it ms", cold.frameMs,
                warmMedian(&Trial::frameMs));
    std::printf("%-28s %10.1f %10.1f\n", "worst main-thread stall ms", cold.worstStallMs,
                warmWorstStall);
    std::printf("%-28s %10.1f %10.1f\n", "  outside drawing frames ms",
                cold.worstStallOutsideDrawingMs, warmWorstOutside);
    if (!turns.empty())
        std::printf("redrawing the model while turning it: %.1f ms a frame (median of %zu)\n",
                    median(turns), turns.size());
    std::printf("first frame / reading the bytes: %.1fx cold, %.1fx warm\n",
                cold.firstFrameMs / read, warmMedian(&Trial::firstFrameMs) / read);
    return 0;
}
