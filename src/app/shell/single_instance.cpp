#include "app/shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace taskbell::app {

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kAnswerTimeoutMs = 3000;
const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(QStringLiteral("com.quillet.taskbell.instance"));
}

bool SingleInstance::claim()
{
    // Two programs started at the same moment must not both find the socket unanswered and both listen.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    lock.tryLock(5000);
    if (notifyRunningInstance()) {
        return false;
    }
    // Nobody answered: whatever socket file is there belongs to an instance that is gone.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // Without the socket this instance still runs; only the hand-over of later starts is lost.
        return true;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

bool SingleInstance::notifyRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return false;
    }
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // The running instance answers once it has brought its panel forward; a busy one may answer late,
    // and it is running either way.
    socket.waitForReadyRead(kAnswerTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only whole requests count; anything else on the socket is ignored.
            while (socket->canReadLine()) {
                if (socket->readLine(64) == kShowRequest) {
                    emit activationRequested();
                    socket->write(kShown);
                    socket->flush();
                }
            }
            if (socket->bytesAvailable() > 256) {
                socket->abort();
            }
        });
    }
}

} // namespace taskbell::app
