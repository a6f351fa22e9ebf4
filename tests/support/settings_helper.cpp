// A second process for the settings tests.
//   settings_helper rmw FOLDER KEY COUNT   COUNT read-modify-writes, each adding 1 to the integer KEY
//   settings_helper probe FOLDER           every keychain call and the MCP settings load, as key=value lines
//   settings_helper lock-probe FOLDER      stores a token, locks the default collection, then probes
//   settings_helper silent-probe FOLDER    owns the Secret Service name on the bus without ever answering,
//                                          then probes (every call has to give up on its own)
// Token values are never printed, only whether one came back.
#include <cstdio>
#include <iostream>
#include <string>

#include <gio/gio.h>

#include "core/mcp/settings.h"
#include "core/platform/keychain.h"
#include "core/settings/store.h"

using namespace taskbell;

namespace {

const char* statusName(Keychain::ReadStatus status)
{
    switch (status) {
    case Keychain::ReadStatus::found:
        return "found";
    case Keychain::ReadStatus::notStored:
        return "notStored";
    case Keychain::ReadStatus::unreachable:
        return "unreachable";
    case Keychain::ReadStatus::locked:
        return "locked";
    }
    return "?";
}

int probe(const std::string& folder)
{
    std::cout << "read=" << statusName(Keychain::read(Keychain::kTokenAccount).status) << "\n";
    std::cout << "get=" << (Keychain::get(Keychain::kTokenAccount) ? "value" : "none") << "\n";
    std::cout << "set=" << Keychain::set("probe-token", "probe") << "\n";
    std::cout << "clear=" << Keychain::set("", "probe") << "\n";
    MCPServer::Settings settings = MCPServer::Settings::load(
        SettingsStore(folder), [](std::string_view line) { std::cout << "diagnostic=" << line << "\n"; });
    std::cout << "token=" << (settings.config.apiToken.empty() ? "empty" : "set") << "\n";
    std::cout << "baseURL=" << settings.config.baseURL << "\n";
    return 0;
}

// Locking needs no prompt in GNOME Keyring (unlocking would): Service.Lock on the default collection.
bool lockDefaultCollection()
{
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    GVariant* alias = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "ReadAlias",
        g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    bool locked = false;
    if (alias) {
        const char* path = nullptr;
        g_variant_get(alias, "(&o)", &path);
        const char* paths[] = {path, nullptr};
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
            g_variant_new("(^ao)", paths), nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
        locked = reply != nullptr;
        if (reply) {
            g_variant_unref(reply);
        }
        g_variant_unref(alias);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return locked;
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

// A second connection takes the well-known name; its calls are dispatched to a main context that never
// runs, so every request to the "Secret Service" stays unanswered.
bool ownSilentService()
{
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    GDBusConnection* connection =
        address ? g_dbus_connection_new_for_address_sync(
                      address,
                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                      nullptr, nullptr, &error)
                : nullptr;
    g_free(address);
    if (!connection) {
        g_clear_error(&error);
        return false;
    }
    GMainContext* frozen = g_main_context_new();
    g_main_context_push_thread_default(frozen);
    static const GDBusSubtreeVTable subtree{nullptr, nullptr, dispatchNowhere, {}};
    g_dbus_connection_register_subtree(connection, "/org/freedesktop", &subtree,
                                       G_DBUS_SUBTREE_FLAGS_DISPATCH_TO_UNENUMERATED_NODES, nullptr, nullptr, &error);
    g_main_context_pop_thread_default(frozen);
    GVariant* reply =
        g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u),
                                    G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    g_clear_error(&error);
    return result == 1; // primary owner
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: settings_helper rmw|probe|lock-probe FOLDER ...\n";
        return 2;
    }
    std::string mode = argv[1];
    std::string folder = argv[2];
    if (mode == "rmw" && argc == 5) {
        SettingsStore store(folder);
        std::string key = argv[3];
        int count = std::stoi(argv[4]);
        for (int i = 0; i < count; ++i) {
            store.update([&](SettingsValues& values) { values.setInteger(key, values.integer(key).value_or(0) + 1); });
        }
        return 0;
    }
    if (mode == "probe") {
        return probe(folder);
    }
    if (mode == "lock-probe") {
        std::cout << "stored=" << Keychain::set("lock-test-token", Keychain::kTokenAccount) << "\n";
        std::cout << "before=" << statusName(Keychain::read(Keychain::kTokenAccount).status) << "\n";
        std::cout << "locked=" << lockDefaultCollection() << "\n";
        return probe(folder);
    }
    if (mode == "silent-probe") {
        std::cout << "owned=" << ownSilentService() << std::endl;
        return probe(folder);
    }
    std::cerr << "settings_helper: unknown mode " << mode << "\n";
    return 2;
}
