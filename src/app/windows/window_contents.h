#pragma once

#include "app/shell/aux_windows.h"

namespace taskbell::app {

class AppStore;
class Updater;

// The four auxiliary windows, for the window manager: settings and new task with the
// store (and the updater), about with nothing, task detail with the store and the issue.
AuxContents windowContents(AppStore& store, Updater& updater);

} // namespace taskbell::app
