#include "studio/platform/desktop_actions.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QMetaObject>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QThreadPool>
#include <QUrl>

namespace pelorin::studio {

namespace fs = std::filesystem;

namespace {

QUrl fileUrl(const fs::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

void openParent(const fs::path& item) {
    QDesktopServices::openUrl(fileUrl(item.parent_path()));
}

}  // namespace

void showInFolder(const fs::path& item) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openParent(item);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{fileUrl(item).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, item] {
        if (watcher->isError()) openParent(item);
        watcher->deleteLater();
    });
}

std::string defaultApplicationFor(const std::string& mimeType) {
    QProcess query;
    query.start("xdg-mime", {"query", "default", QString::fromStdString(mimeType)});
    if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0) {
        return {};
    }
    return query.readAllStandardOutput().trimmed().toStdString();
}

void openWithDefaultApplication(const fs::path& file, QObject* context,
                                std::function<void(bool opened)> done) {
    const std::string mimeType =
        QMimeDatabase().mimeTypeForFile(QString::fromStdString(file.string())).name().toStdString();
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start([guard, file, mimeType, done = std::move(done)] {
        const bool known = !defaultApplicationFor(mimeType).empty();
        QMetaObject::invokeMethod(
            guard.data(),
            [guard, file, known, done] {
                if (!guard) return;
                const bool opened = known && QDesktopServices::openUrl(fileUrl(file));
                if (done) done(opened);
            },
            Qt::QueuedConnection);
    });
}

std::optional<std::string> copyReplacing(const fs::path& source, const fs::path& destination) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(destination, error))) {
        fs::remove_all(destination, error);
        if (error) return error.message();
    }
    fs::copy(source, destination, fs::copy_options::recursive, error);
    if (error) return error.message();
    return std::nullopt;
}

}  // namespace pelorin::studio
