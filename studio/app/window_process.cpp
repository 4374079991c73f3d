#include "studio/app/window_process.h"

#include "tests/support/qt_event_loop.h"

namespace pelorin::studio::testing {

QString xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start("xdotool", arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0) return {};
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QRect windowFrame(const QString& id) {
    const QStringList geometry = xdotool({"getwindowgeometry", "--shell", id}).split('\n');
    auto value = [&](const QString& key) {
        for (const QString& line : geometry)
            if (line.startsWith(key + "=")) return line.mid(key.size() + 1).toInt();
        return -1;
    };
    return {value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
}

void click(const QPoint& at) {
    xdotool(
        {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

QProcessEnvironment studioEnvironment(const std::filesystem::path& home, bool realBackend) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORIN_STUDIO_HOME", QString::fromStdString(home.string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    if (realBackend)
        environment.remove("PELORIN_PHOTOGRAMMETRY");
    else
        environment.insert("PELORIN_PHOTOGRAMMETRY", "replay");
    return environment;
}

bool startWindow(QProcess& window, const QProcessEnvironment& environment, QString& printed) {
    window.setProcessEnvironment(environment);
    window.start(PELORIN_STUDIO_EXECUTABLE, {});
    return pelorin::testing::waitUntil(
        [&] {
            printed += QString::fromUtf8(window.readAllStandardOutput());
            return printed.contains("pairing link: ") && printed.endsWith('\n');
        },
        std::chrono::seconds(30));
}

QString printedLink(const QString& printed) {
    QString link;
    for (const QString& line : printed.split('\n'))
        if (line.startsWith("pairing link: ")) link = line.mid(14);
    return link;
}

}  // namespace pelorin::studio::testing
