#include "app/shell/display_check.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdlib>

namespace taskbell::app {

namespace {

QString environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

// ":0", ":0.0" and "unix:0" are local X servers with a socket in /tmp/.X11-unix; other forms (TCP,
// launchd paths) are left to Qt.
bool x11DisplayLooksReachable(const QString& display)
{
    static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)(?:\\.\\d+)?$"));
    auto match = local.match(display);
    if (!match.hasMatch()) {
        return true;
    }
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + match.captured(1));
}

bool waylandDisplayLooksReachable(const QString& display)
{
    if (QDir::isAbsolutePath(display)) {
        return QFileInfo::exists(display);
    }
    QString runtime = environment("XDG_RUNTIME_DIR");
    return runtime.isEmpty() || QFileInfo::exists(QDir(runtime).filePath(display));
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
    if (x11.isEmpty() && wayland.isEmpty()) {
        return QStringLiteral("no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); start Taskbell in a "
                              "desktop session, or run `taskbell --mcp` for the MCP server");
    }
    if ((!wayland.isEmpty() && waylandDisplayLooksReachable(wayland)) ||
        (!x11.isEmpty() && x11DisplayLooksReachable(x11))) {
        return std::nullopt;
    }
    return QStringLiteral("cannot reach the graphical display %1; start Taskbell in a desktop session, or run "
                          "`taskbell --mcp` for the MCP server")
        .arg(!x11.isEmpty() ? x11 : wayland);
}

} // namespace taskbell::app
