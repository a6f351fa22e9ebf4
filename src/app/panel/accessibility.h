#pragma once

namespace taskbell::app {

// How assistive technology sees the panel's own widgets: a task row is one group named after its issue,
// its copy area a pressable button, a filter tab a radio button (checked when selected) that its Toggle
// and Press actions select. Installed once; later calls do nothing.
void installPanelAccessibility();

} // namespace taskbell::app
