#pragma once

#include <QString>
#include <optional>

namespace taskbell::app {

// Why the desktop application cannot start here, checked before Qt is asked to open a display (Qt aborts
// when it cannot): nothing when a display is set and, for local displays, its socket exists. Platforms
// that need no display (offscreen, minimal) always pass.
std::optional<QString> missingDisplayReason();

} // namespace taskbell::app
