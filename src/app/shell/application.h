#pragma once

namespace taskbell::app {

// Runs the desktop application until it quits; returns the process exit status.
int runApplication(int argc, char** argv);

} // namespace taskbell::app
