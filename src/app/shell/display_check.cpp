#include "app/shell/display_check.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace taskbell::app {

namespace {

constexpr int kConnectTimeoutMs = 2000;

QString environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

// Connects without blocking longer than the time-out; true once the other end accepted.
bool connects(int family, const sockaddr* address, socklen_t size)
{
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    bool connected = ::connect(fd, address, size) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd entry{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        connected = ::poll(&entry, 1, kConnectTimeoutMs) == 1 &&
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ::close(fd);
    return connected;
}

// A local socket by path, or in the abstract namespace when `abstract`.
bool connectsLocal(const QByteArray& path, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::size_t offset = abstract ? 1 : 0;
    if (path.isEmpty() || offset + static_cast<std::size_t>(path.size()) >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path + offset, path.constData(), static_cast<std::size_t>(path.size()));
    auto size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + static_cast<std::size_t>(path.size()));
    return connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size);
}

bool connectsTcp(const QString& host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toLocal8Bit().constData(), QByteArray::number(port).constData(), &hints, &found) != 0) {
        return false;
    }
    bool connected = false;
    for (addrinfo* entry = found; entry != nullptr && !connected; entry = entry->ai_next) {
        connected = connects(entry->ai_family, entry->ai_addr, entry->ai_addrlen);
    }
    ::freeaddrinfo(found);
    return connected;
}

// "[host]:N[.S]" as the X libraries read it: no host or "unix" is the local server's socket (abstract or
// in /tmp/.X11-unix), a host is TCP port 6000 + N. Forms this does not know are left to Qt.
bool x11DisplayReachable(const QString& display)
{
    // Read by hand: a regular expression here would load and compile PCRE before the tray icon shows.
    qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    QStringView rest = colon < 0 ? QStringView() : QStringView(display).mid(colon + 1);
    qsizetype dot = rest.indexOf(QLatin1Char('.'));
    QStringView screen = dot < 0 ? QStringView() : rest.mid(dot + 1);
    QStringView server = dot < 0 ? rest : rest.left(dot);
    auto allDigits = [](QStringView text) {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    if (colon < 0 || !allDigits(server) || (dot >= 0 && !allDigits(screen)) || display.startsWith(QLatin1Char('/'))) {
        return true;
    }
    QString host = display.left(colon);
    int number = server.toInt();
    if (host.isEmpty() || host == QLatin1String("unix")) {
        QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(number);
        return connectsLocal(socket, true) || connectsLocal(socket, false);
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    return connectsTcp(host, 6000 + number);
}

bool waylandDisplayReachable(const QString& display)
{
    QString path = display;
    if (!QDir::isAbsolutePath(path)) {
        QString runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) {
            return false;
        }
        path = QDir(runtime).filePath(display);
    }
    return connectsLocal(QFile::encodeName(path), false);
}

} // namespace

std::optional<QString> missingDisplayReason()
{
    QString platform = environment("QT_QPA_PLATFORM");
    if (platform.startsWith(QLatin1String("offscreen")) || platform.startsWith(QLatin1String("minimal"))) {
        return std::nullopt;
    }
    QString x11 = environment("DISPLAY");
    QString wayland = environment("WAYLAND_DISPLAY");
    // A platform named explicitly is the only one Qt tries.
    if (platform.startsWith(QLatin1String("wayland"))) {
        x11.clear();
    } else if (platform.startsWith(QLatin1String("xcb"))) {
        wayland.clear();
    }
    if (x11.isEmpty() && wayland.isEmpty()) {
        return QStringLiteral("no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); start Taskbell in a "
                              "desktop session, or run `taskbell --mcp` for the MCP server");
    }
    if ((!wayland.isEmpty() && waylandDisplayReachable(wayland)) || (!x11.isEmpty() && x11DisplayReachable(x11))) {
        return std::nullopt;
    }
    return QStringLiteral("cannot reach the graphical display %1; start Taskbell in a desktop session, or run "
                          "`taskbell --mcp` for the MCP server")
        .arg(!x11.isEmpty() ? x11 : wayland);
}

} // namespace taskbell::app
