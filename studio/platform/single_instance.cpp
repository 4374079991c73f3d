#include "studio/platform/single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <system_error>

namespace pelorin::studio {

namespace {
constexpr int answerMilliseconds = 3000;
const QByteArray raiseRequest = "raise\n";
const QByteArray raisedAnswer = "raised\n";
const QByteArray headlessAnswer = "headless\n";
}  // namespace

QString SingleInstance::socketName(const std::filesystem::path& dataFolder) {
    std::error_code ignored;
    const auto canonical = std::filesystem::weakly_canonical(dataFolder, ignored);
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray::fromStdString(canonical.empty() ? dataFolder.string() : canonical.string()),
        QCryptographicHash::Sha256);
    return "pelorin-studio-" + QString::fromLatin1(hash.toHex().left(24));
}

SingleInstance::SingleInstance(const std::filesystem::path& dataFolder, bool hasWindow,
                               QObject* parent)
    : QObject(parent), hasWindow_(hasWindow), folder_(dataFolder) {
    std::error_code error;
    std::filesystem::create_directories(dataFolder, error);
    lock_ =
        std::make_unique<QLockFile>(QString::fromStdString((dataFolder / "studio.lock").string()));
    // Only a dead owner makes the lock stale, never its age: a studio runs for days.
    lock_->setStaleLockTime(0);
    const QString name = socketName(dataFolder);
    if (!lock_->tryLock(0)) {
        outcome_ =
            lock_->error() == QLockFile::LockFailedError ? askTheFirst(name) : Outcome::lockFailed;
        return;
    }
    server_ = std::make_unique<QLocalServer>();
    // A socket left by a studio that died is ours now: the lock says nobody else runs.
    QLocalServer::removeServer(name);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(name);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() != raiseRequest) return socket->disconnectFromServer();
                socket->write(hasWindow_ ? raisedAnswer : headlessAnswer);
                socket->flush();
                socket->disconnectFromServer();
                if (hasWindow_) emit raiseRequested();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

SingleInstance::Outcome SingleInstance::askTheFirst(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(answerMilliseconds)) return Outcome::otherUnreachable;
    socket.write(raiseRequest);
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(answerMilliseconds))
        answer += socket.readAll();
    if (answer == raisedAnswer) return Outcome::raisedOther;
    if (answer == headlessAnswer) return Outcome::otherHeadless;
    return Outcome::otherUnreachable;
}

std::string SingleInstance::message() const {
    const std::string folder = folder_.string();
    switch (outcome_) {
        case Outcome::first:
        case Outcome::raisedOther:
            return {};
        case Outcome::otherHeadless:
            return "Pelorin Studio is already running without a window on " + folder +
                   ". Stop it first, or set PELORIN_STUDIO_HOME to use another folder.";
        case Outcome::otherUnreachable:
            return "Another Pelorin Studio is using " + folder +
                   " and does not answer. Stop it first, or set PELORIN_STUDIO_HOME to use "
                   "another folder.";
        case Outcome::lockFailed:
            return "Pelorin Studio cannot use " + folder + ": the folder is not writable.";
    }
    return {};
}

}  // namespace pelorin::studio
