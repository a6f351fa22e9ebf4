#include "app/shell/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <poll.h>
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

uid_t peerUid(int descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
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

std::optional<sockaddr_un> socketAddress(const QString& path)
{
    QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.isEmpty() || name.size() > kMaxSocketPath) {
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    return address;
}

// Milliseconds left of `timeout` since `started`, at least 0.
int remaining(const QElapsedTimer& started, std::chrono::milliseconds timeout)
{
    return static_cast<int>(std::max<qint64>(0, timeout.count() - started.elapsed()));
}

// Waits up to `timeout` for `events` on `descriptor`; false on a timeout or an error.
bool waitFor(int descriptor, short events, std::chrono::milliseconds timeout)
{
    QElapsedTimer started;
    started.start();
    pollfd entry{descriptor, events, 0};
    for (;;) {
        int ready = ::poll(&entry, 1, remaining(started, timeout));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// The device and inode of the file at `name` itself (a link is not followed), if there is one.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QByteArray& name)
{
    struct stat info
    {
    };
    if (::lstat(name.constData(), &info) != 0) {
        return std::nullopt;
    }
    return std::pair(info.st_dev, info.st_ino);
}

// A socket file left behind by an instance of this user that is gone is removed; nothing else is.
void removeStaleSocket(const QString& path)
{
    QByteArray name = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(name.constData(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::geteuid()) {
        ::unlink(name.constData());
    }
}

} // namespace

// One accepted connection of a later start: its bytes so far, read as they come.
struct SingleInstance::Connection
{
    int descriptor = -1;
    QByteArray received;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Connection()
    {
        notifier.reset();
        ::close(descriptor);
    }
};

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(usableSocketPath(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)))
{
}

SingleInstance::~SingleInstance()
{
    connections_.clear();
    if (listener_ < 0) {
        return;
    }
    listenerNotifier_.reset();
    ::close(listener_);
    // The socket file goes with the instance, unless something else has taken its place.
    QByteArray name = QFile::encodeName(socketPath_);
    if (listened_ && fileIdentity(name) == listened_) {
        ::unlink(name.constData());
    }
}

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
    // Nobody answered: a socket of this user there belongs to an instance that is gone.
    removeStaleSocket(socketPath_);
    if (QString error = listen(); !error.isEmpty()) {
        // Without the socket this instance still runs; only the hand-over of later starts is lost.
        warn(QStringLiteral("cannot listen at %1 (%2); a later start will not find this one").arg(socketPath_, error));
    }
    return true;
}

// Listens at the socket path, readable and writable by this user only; the error's text when it cannot.
QString SingleInstance::listen()
{
    auto address = socketAddress(socketPath_);
    int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (!address || descriptor < 0) {
        return QString::fromLocal8Bit(std::strerror(address ? errno : ENAMETOOLONG));
    }
    QByteArray name = QFile::encodeName(socketPath_);
    mode_t mask = ::umask(0177);
    bool bound = ::bind(descriptor, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    int error = errno;
    ::umask(mask);
    if (!bound || ::chmod(name.constData(), 0600) != 0 || ::listen(descriptor, 8) != 0) {
        error = bound ? errno : error;
        if (bound) {
            ::unlink(name.constData());
        }
        ::close(descriptor);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    listened_ = fileIdentity(name);
    listener_ = descriptor;
    listenerNotifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(listenerNotifier_.get(), &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
    return {};
}

SingleInstance::Answer SingleInstance::notifyRunningInstance()
{
    auto address = socketAddress(socketPath_);
    int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (!address || descriptor < 0) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return Answer::nobody;
    }
    auto answer = [&] {
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
            if (errno == EAGAIN) {
                return Answer::silent; // a listener that does not take its connections
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (errno != EINPROGRESS || !waitFor(descriptor, POLLOUT, std::chrono::milliseconds(kConnectTimeoutMs)) ||
                ::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
                return Answer::nobody;
            }
        }
        if (peerUid(descriptor) != ::geteuid()) {
            return Answer::foreign;
        }
        if (::send(descriptor, kShowRequest.constData(), std::size_t(kShowRequest.size()), MSG_NOSIGNAL) !=
            kShowRequest.size()) {
            return Answer::silent;
        }
        // Only the answer proves that a running instance has brought its panel forward.
        QElapsedTimer waited;
        waited.start();
        QByteArray received;
        while (!received.contains('\n') && received.size() < 64 &&
               waitFor(descriptor, POLLIN, answerTimeout_ - std::chrono::milliseconds(waited.elapsed()))) {
            char buffer[64];
            ssize_t count = ::recv(descriptor, buffer, sizeof buffer, 0);
            if (count <= 0 && !(count < 0 && (errno == EINTR || errno == EAGAIN))) {
                break;
            }
            received.append(buffer, std::max<ssize_t>(count, 0));
        }
        return received.startsWith(kShown) ? Answer::shown : Answer::silent;
    }();
    ::close(descriptor);
    return answer;
}

void SingleInstance::acceptConnections()
{
    for (;;) {
        int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // EAGAIN: no more waiting
        }
        if (peerUid(descriptor) != ::geteuid()) {
            ::close(descriptor);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->descriptor = descriptor;
        connection->notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        connect(connection->notifier.get(), &QSocketNotifier::activated, this,
                [this, descriptor] { readRequest(descriptor); });
        connections_.emplace(descriptor, std::move(connection));
    }
}

// Answers each whole request of a connection; a connection that ends, fails or sends more than a request
// would is closed. Anything else on the socket is ignored.
void SingleInstance::readRequest(int descriptor)
{
    auto found = connections_.find(descriptor);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    char buffer[256];
    ssize_t count = ::recv(descriptor, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        connections_.erase(found);
        return;
    }
    connection.received.append(buffer, count);
    qsizetype end = 0;
    while ((end = connection.received.indexOf('\n')) >= 0) {
        QByteArray line = connection.received.left(end + 1);
        connection.received.remove(0, end + 1);
        if (line == kShowRequest) {
            emit activationRequested();
            ::send(descriptor, kShown.constData(), std::size_t(kShown.size()), MSG_NOSIGNAL);
        }
    }
    if (connection.received.size() > 256) {
        connections_.erase(found);
    }
}

} // namespace taskbell::app
