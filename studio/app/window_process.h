#pragma once

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <filesystem>

// Driving the studio's window process from outside, as a person does: through the X server with
// xdotool. For the window process tests and the screenshots of real runs.
namespace pelorin::studio::testing {

// xdotool with its output; empty when it failed.
QString xdotool(const QStringList& arguments);

// The window's place on the screen.
QRect windowFrame(const QString& id);

void click(const QPoint& at);

// A studio of its own in `home`; with the replay backend unless `realBackend`.
QProcessEnvironment studioEnvironment(const std::filesystem::path& home, bool realBackend = false);

// Starts the studio with its window; true once it has printed its start lines, pairing link
// included, into `printed`.
bool startWindow(QProcess& window, const QProcessEnvironment& environment, QString& printed);

// The last pairing link in what the studio printed.
QString printedLink(const QString& printed);

}  // namespace pelorin::studio::testing
