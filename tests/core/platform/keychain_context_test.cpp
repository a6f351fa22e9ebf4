// libsecret leaves work behind on the calling thread's default main context after each call; nothing runs
// that context in the MCP mode, so it would pile up there (about a kilobyte per call).
#include <thread>

#include <glib.h>
#include <gtest/gtest.h>

#include "core/platform/keychain.h"

using namespace taskbell;

TEST(KeychainMainContext, CallsLeaveNothingQueuedOnAnyThread)
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    ASSERT_TRUE(Keychain::set("queued-token", Keychain::kTokenAccount)) << "run under scripts/with-keyring.sh";
    struct Case
    {
        const char* name;
        bool ownThread;
    };
    for (Case c : {Case{"on the calling thread", false}, Case{"on a worker thread", true}}) {
        SCOPED_TRACE(c.name);
        bool pendingAfter = true;
        auto call = [&] {
            EXPECT_EQ(Keychain::get(Keychain::kTokenAccount), "queued-token");
            pendingAfter =
                g_main_context_pending(g_main_context_get_thread_default()) || g_main_context_pending(nullptr);
        };
        if (c.ownThread) {
            std::thread(call).join();
        } else {
            call();
        }
        EXPECT_FALSE(pendingAfter);
    }
    Keychain::set("", Keychain::kTokenAccount);
    EXPECT_FALSE(g_main_context_pending(nullptr));
}
