// A second process for the settings tests.
//   settings_helper rmw FOLDER KEY COUNT   COUNT read-modify-writes, each adding 1 to the integer KEY
//   settings_helper probe FOLDER           every keychain call and the MCP settings load, as key=value lines
//   settings_helper silent-probe FOLDER    owns the Secret Service name on the bus without ever answering,
//                                          then probes (every call has to give up on its own)
//   settings_helper reread COMMAND         reads the token, runs COMMAND (a shell command that restarts the
//                                          keyring), reads it again
// Token values are never printed, only whether one came back.
#include <cstdlib>
#include <iostream>
#include <string>

#include <gio/gio.h>

#include "core/mcp/settings.h"
#include "core/platform/keychain.h"
#include "core/settings/store.h"

using namespace taskbell;

namespace {

int probe(const std::string& folder)
{
    const char* names[] = {"found", "notStored", "unreachable", "locked"};
    std::cout << "read=" << names[static_cast<int>(Keychain::read(Keychain::kTokenAccount).status)] << "\n"
              << "get=" << (Keychain::get(Keychain::kTokenAccount) ? "value" : "none") << "\n"
              << "set=" << Keychain::set("probe-token", "probe") << "\n"
              << "clear=" << Keychain::set("", "probe") << "\n";
    MCPServer::Settings settings = MCPServer::Settings::load(
        SettingsStore(folder), [](std::string_view line) { std::cout << "diagnostic=" << line << "\n"; });
    std::cout << "token=" << (settings.config.apiToken.empty() ? "empty" : "set") << "\n"
              << "baseURL=" << settings.config.baseURL << "\n";
    return 0;
}

void ignoreCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                GDBusMethodInvocation* invocation, gpointer)
{
    g_object_ref(invocation); // kept unanswered for ever
}

const GDBusInterfaceVTable* dispatchNowhere(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                            gpointer*, gpointer)
{
    static const GDBusInterfaceVTable vtable{ignoreCall, nullptr, nullptr, {}};
    return &vtable;
}

// A second connection takes the well-known name; its calls are dispatched to a main context that never runs, so every
// request to the "Secret Service" stays unanswered.
bool ownSilentService()
{
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* connection =
        address ? g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr) : nullptr;
    g_free(address);
    if (!connection) {
        return false;
    }
    GMainContext* frozen = g_main_context_new();
    g_main_context_push_thread_default(frozen);
    static const GDBusSubtreeVTable subtree{nullptr, nullptr, dispatchNowhere, {}};
    g_dbus_connection_register_subtree(connection, "/org/freedesktop", &subtree,
                                       G_DBUS_SUBTREE_FLAGS_DISPATCH_TO_UNENUMERATED_NODES, nullptr, nullptr, nullptr);
    g_main_context_pop_thread_default(frozen);
    GVariant* reply =
        g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    return result == 1; // primary owner
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc >= 3 ? argv[1] : "";
    if (mode == "rmw" && argc == 5) {
        SettingsStore store(argv[2]);
        std::string key = argv[3];
        for (int i = 0, count = std::stoi(argv[4]); i < count; ++i) {
            store.update([&](SettingsValues& values) { values.setInteger(key, values.integer(key).value_or(0) + 1); });
        }
        return 0;
    }
    if (mode == "reread") {
        const char* names[] = {"found", "notStored", "unreachable", "locked"};
        std::cout << "before=" << names[static_cast<int>(Keychain::read(Keychain::kTokenAccount).status)] << std::endl;
        int restarted = std::system(argv[2]);
        std::cout << "restarted=" << (restarted == 0) << "\n"
                  << "after=" << names[static_cast<int>(Keychain::read(Keychain::kTokenAccount).status)] << "\n";
        return 0;
    }
    if (mode == "silent-probe") {
        std::cout << "owned=" << ownSilentService() << std::endl;
    }
    if (mode == "probe" || mode == "silent-probe") {
        return probe(argv[2]);
    }
    std::cerr << "usage: settings_helper rmw FOLDER KEY COUNT | probe FOLDER | "
                 "silent-probe FOLDER | reread COMMAND\n";
    return 2;
}
