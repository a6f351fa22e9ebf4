#pragma once

#include <QString>
#include <optional>

namespace taskbell::app {

// Why the desktop application cannot start here, checked before Qt is asked to open a display (Qt aborts
// when it cannot): nothing once a connection to the set display (Wayland socket, local X socket or X over
// TCP) succeeded. Platforms that need no display (offscreen, minimal) always pass.
std::optional<QString> missingDisplayReason();

} // namespace taskbell::app
