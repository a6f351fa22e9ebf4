#include "app/shell/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace taskbell::app {

namespace {

constexpr int kConnectTimeoutMs = 1000;
const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "shown\n";
constexpr qsizetype kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;
const QString kSocketName = QStringLiteral("com.quillet.taskbell.instance");

void warn(const QString& text)
{
    std::fprintf(stderr, "taskbell: %s\n", text.toLocal8Bit().constData());
}

// A folder nobody but this user can enter or change: not a link, owned by the user, no group or other bits.
bool isPrivateFolder(const QString& folder)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// <temp>/taskbell-<uid>, created 0700 when missing, with /tmp when TMPDIR is too long for a socket path.
// Nothing when the folder exists but is not this user's private one (another user made it first).
QString privateTemporaryFolder()
{
    for (const QString& base : {QDir::tempPath(), QStringLiteral("/tmp")}) {
        QString folder = QDir(base).filePath(QStringLiteral("taskbell-%1").arg(::geteuid()));
        if (QFile::encodeName(folder).size() + 1 + kSocketName.size() > kMaxSocketPath) {
            continue;
        }
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
        return isPrivateFolder(folder) ? folder : QString();
    }
    return {};
}

uid_t peerUid(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return static_cast<uid_t>(-1);
    }
    return credentials.uid;
}

// A path too long for a local socket gets a short stand-in named after it in the private temporary folder.
QString usableSocketPath(QString path)
{
    if (path.isEmpty() || QFile::encodeName(path).size() <= kMaxSocketPath) {
        return path;
    }
    QString folder = privateTemporaryFolder();
    if (folder.isEmpty()) {
        return {};
    }
    QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(folder).filePath(QString::fromLatin1(digest) + QStringLiteral(".instance"));
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(usableSocketPath(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    QString folder = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!QDir::isAbsolutePath(folder) || !isPrivateFolder(folder)) {
        folder = privateTemporaryFolder();
    }
    return folder.isEmpty() ? QString() : QDir(folder).filePath(kSocketName);
}

bool SingleInstance::claim()
{
    if (socketPath_.isEmpty()) {
        warn(QStringLiteral("no private folder for the single-instance socket (XDG_RUNTIME_DIR is not set and "
                            "%1 is not private to you); a later start will not find this one")
                 .arg(QDir(QDir::tempPath()).filePath(QStringLiteral("taskbell-%1").arg(::geteuid()))));
        return true;
    }
    // Two programs started at the same moment must not both find the socket unanswered and both listen.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    lock.tryLock(5000);
    switch (notifyRunningInstance()) {
    case Answer::shown:
        return false;
    case Answer::foreign:
        warn(QStringLiteral("%1 belongs to another user; starting without the single-instance hand-over")
                 .arg(socketPath_));
        return true;
    case Answer::silent:
        warn(QStringLiteral("the program listening at %1 does not answer; starting without the single-instance "
                            "hand-over")
                 .arg(socketPath_));
        return true;
    case Answer::nobody:
        break;
    }
    // Nobody answered: whatever socket file is there belongs to an instance that is gone.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // Without the socket this instance still runs; only the hand-over of later starts is lost.
        warn(QStringLiteral("cannot listen at %1 (%2); a later start will not find this one")
                 .arg(socketPath_, server_->errorString()));
        return true;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

SingleInstance::Answer SingleInstance::notifyRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        return Answer::nobody;
    }
    if (peerUid(socket.socketDescriptor()) != ::geteuid()) {
        return Answer::foreign;
    }
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // Only the answer proves that a running instance has brought its panel forward.
    QElapsedTimer waited;
    waited.start();
    while (!socket.canReadLine() && waited.elapsed() < answerTimeout_.count() &&
           socket.state() == QLocalSocket::ConnectedState) {
        socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, answerTimeout_.count() - waited.elapsed())));
    }
    bool shown = socket.canReadLine() && socket.readLine(64) == kShown;
    socket.abort();
    return shown ? Answer::shown : Answer::silent;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (peerUid(socket->socketDescriptor()) != ::geteuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
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
