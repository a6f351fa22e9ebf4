#pragma once

#include <chrono>
#include <thread>

#include <httplib.h>

namespace taskbell::test {

// Serves a server that is already bound on a thread of its own, and returns once its loop runs. Stopping
// a server whose loop has not started yet does nothing, so a server stopped right after it was made (a
// test that sends no request) would otherwise leave its thread listening forever.
inline std::thread serveAfterBind(httplib::Server& server)
{
    std::thread thread([&server] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return thread;
}

} // namespace taskbell::test
