// The API token in the Secret Service (GNOME Keyring, KWallet) through libsecret.
#include "core/platform/keychain.h"

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <libsecret/secret.h>
#include <sys/stat.h>

#include "core/base/system_library.h"
#include "core/base/text_util.h"

namespace taskbell::Keychain {

namespace {

// libsecret and the GIO, GObject and D-Bus stack below it are opened with the first conversation, not at
// start. Only GLib's own functions are linked: the desktop's toolkit loads GLib anyway.
struct Secret
{
    decltype(&::g_object_unref) g_object_unref;
    decltype(&::g_cancellable_new) g_cancellable_new;
    decltype(&::g_cancellable_cancel) g_cancellable_cancel;
    decltype(&::g_bus_get_sync) g_bus_get_sync;
    decltype(&::g_dbus_connection_set_exit_on_close) g_dbus_connection_set_exit_on_close;
    decltype(&::g_dbus_proxy_get_object_path) g_dbus_proxy_get_object_path;
    decltype(&::secret_service_get_type) secret_service_get_type;
    decltype(&::secret_collection_for_alias_sync) secret_collection_for_alias_sync;
    decltype(&::secret_collection_get_locked) secret_collection_get_locked;
    decltype(&::secret_item_delete_sync) secret_item_delete_sync;
    decltype(&::secret_item_get_locked) secret_item_get_locked;
    decltype(&::secret_item_get_secret) secret_item_get_secret;
    decltype(&::secret_service_open_sync) secret_service_open_sync;
    decltype(&::secret_service_search_sync) secret_service_search_sync;
    decltype(&::secret_service_store_sync) secret_service_store_sync;
    decltype(&::secret_value_get) secret_value_get;
    decltype(&::secret_value_new) secret_value_new;
    decltype(&::secret_value_unref) secret_value_unref;
};

Secret loadSecret()
{
    SystemLibrary library("libsecret-1.so.0", "the keyring");
    Secret api{};
    TASKBELL_BIND(library, api, g_object_unref);
    TASKBELL_BIND(library, api, g_cancellable_new);
    TASKBELL_BIND(library, api, g_cancellable_cancel);
    TASKBELL_BIND(library, api, g_bus_get_sync);
    TASKBELL_BIND(library, api, g_dbus_connection_set_exit_on_close);
    TASKBELL_BIND(library, api, g_dbus_proxy_get_object_path);
    TASKBELL_BIND(library, api, secret_service_get_type);
    TASKBELL_BIND(library, api, secret_collection_for_alias_sync);
    TASKBELL_BIND(library, api, secret_collection_get_locked);
    TASKBELL_BIND(library, api, secret_item_delete_sync);
    TASKBELL_BIND(library, api, secret_item_get_locked);
    TASKBELL_BIND(library, api, secret_item_get_secret);
    TASKBELL_BIND(library, api, secret_service_open_sync);
    TASKBELL_BIND(library, api, secret_service_search_sync);
    TASKBELL_BIND(library, api, secret_service_store_sync);
    TASKBELL_BIND(library, api, secret_value_get);
    TASKBELL_BIND(library, api, secret_value_new);
    TASKBELL_BIND(library, api, secret_value_unref);
    return api;
}

const Secret& lib()
{
    static const Secret api = loadSecret();
    return api;
}

// Without a session bus there is nobody to talk to, and nothing needs loading.
bool reachable()
{
    if (!sessionBusAvailable()) {
        return false;
    }
    try {
        lib();
        return true;
    } catch (const LibraryError&) {
        return false; // as if no Secret Service ran: reads give nothing, writes do nothing
    }
}

constexpr const char* kLabel = "Taskbell API token";

struct GObjectRelease
{
    void operator()(gpointer object) const { lib().g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

struct ValueRelease
{
    void operator()(SecretValue* value) const { lib().secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueRelease>;

struct TableRelease
{
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using TablePtr = std::unique_ptr<GHashTable, TableRelease>;

// Without the schema name in the match, items written by other tools (secret-tool) are found too.
const SecretSchema& schema()
{
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "com.quillet.taskbell";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return value;
}

// libsecret's shared objects are not documented as safe for concurrent use: one conversation at a time.
std::timed_mutex conversationMutex;

// A cancellable that a timer thread cancels when the time is up, so no call can hang.
class Deadline
{
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : cancellable_(lib().g_cancellable_new()), timer_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!finished_.wait_for(lock, limit, [this] { return done_; })) {
                  lib().g_cancellable_cancel(cancellable_.get());
              }
          })
    {
    }
    ~Deadline()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        timer_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    GCancellable* cancellable() const { return cancellable_.get(); }

private:
    GObjectPtr<GCancellable> cancellable_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread timer_;
};

// The opened service, kept for the life of the process: opening one negotiates an encrypted session (a
// key exchange), which would otherwise dominate every read. Guarded by conversationMutex; deliberately never
// released, so nothing of it runs during static destruction.
SecretService* cachedService = nullptr;

// libsecret leaves an idle callback behind on the calling thread's default main context after each call.
// Nothing runs the global one in the MCP mode, and the application's event loop must not run ours, so
// every conversation pushes one context of its own and dispatches what is left before it ends. It is the
// same context each time, kept like the service: the service's signal subscriptions, and the clean-up
// queued when it is released, belong to the context it was opened in, and a context per conversation
// would leave them on contexts that never run again.
class PrivateMainContext
{
public:
    PrivateMainContext() : context_(shared()) { g_main_context_push_thread_default(context_); }
    ~PrivateMainContext()
    {
        for (int i = 0; i < kMaxLeftovers && g_main_context_iteration(context_, FALSE); ++i) {
        }
        g_main_context_pop_thread_default(context_);
    }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;

private:
    static constexpr int kMaxLeftovers = 1000;
    GMainContext* context_;

    static GMainContext* shared()
    {
        static GMainContext* const context = g_main_context_new();
        return context;
    }
};

// One bounded conversation: the lock, the deadline and the opened service (null when unreachable).
class Conversation
{
public:
    Conversation() : locked_(conversationMutex.try_lock_for(kTimeout)), deadline_(kTimeout)
    {
        if (locked_) {
            context_.emplace();
        }
        if (locked_ && sessionBusAvailable()) {
            service_ = open();
        }
    }
    ~Conversation()
    {
        context_.reset(); // while the lock is held: the leftovers belong to this conversation
        if (locked_) {
            conversationMutex.unlock();
        }
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    SecretService* service() const { return service_; }
    GCancellable* cancellable() const { return deadline_.cancellable(); }
    // After a failed call the service may be gone (the keyring restarted): the next conversation reopens it.
    void forget() const
    {
        if (locked_ && cachedService != nullptr) {
            lib().g_object_unref(cachedService);
            cachedService = nullptr;
        }
    }

private:
    bool locked_;
    Deadline deadline_;
    std::optional<PrivateMainContext> context_;
    SecretService* service_ = nullptr;

    SecretService* open() const
    {
        if (cachedService != nullptr) {
            return cachedService;
        }
        GError* error = nullptr;
        GDBusConnection* bus = lib().g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable(), &error);
        if (!bus) {
            g_clear_error(&error);
            return nullptr;
        }
        // GIO's default would terminate the whole process when the session bus goes away.
        lib().g_dbus_connection_set_exit_on_close(bus, FALSE);
        lib().g_object_unref(bus);
        cachedService = lib().secret_service_open_sync(lib().secret_service_get_type(), nullptr,
                                                       SECRET_SERVICE_OPEN_SESSION, cancellable(), &error);
        g_clear_error(&error);
        return cachedService;
    }
};

TablePtr attributesFor(const std::string& account)
{
    TablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char*>("service"), const_cast<char*>(kService.data()));
    g_hash_table_insert(table.get(), const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    return table;
}

// Every matching item in every collection, locked ones included but never unlocked. Nothing on failure.
std::optional<std::vector<GObjectPtr<SecretItem>>> search(const Conversation& talk, const std::string& account,
                                                          bool loadSecrets)
{
    TablePtr attributes = attributesFor(account);
    int flags = SECRET_SEARCH_ALL | (loadSecrets ? SECRET_SEARCH_LOAD_SECRETS : 0);
    GError* error = nullptr;
    GList* found = lib().secret_service_search_sync(talk.service(), &schema(), attributes.get(),
                                                    static_cast<SecretSearchFlags>(flags), talk.cancellable(), &error);
    if (error) {
        g_clear_error(&error);
        g_list_free_full(found, lib().g_object_unref);
        talk.forget();
        return std::nullopt;
    }
    std::vector<GObjectPtr<SecretItem>> items;
    for (GList* link = found; link; link = link->next) {
        items.emplace_back(static_cast<SecretItem*>(link->data));
    }
    g_list_free(found);
    return items;
}

// The object path of the default collection when it exists and is unlocked; storing anywhere else
// would make the service create or unlock a collection, which prompts.
std::optional<std::string> unlockedDefaultCollection(const Conversation& talk)
{
    GError* error = nullptr;
    GObjectPtr<SecretCollection> collection(lib().secret_collection_for_alias_sync(
        talk.service(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, talk.cancellable(), &error));
    g_clear_error(&error);
    if (!collection || lib().secret_collection_get_locked(collection.get())) {
        return std::nullopt;
    }
    return std::string(lib().g_dbus_proxy_get_object_path(reinterpret_cast<GDBusProxy*>(collection.get())));
}

bool store(const Conversation& talk, std::string_view value, const std::string& account)
{
    std::optional<std::string> collection = unlockedDefaultCollection(talk);
    if (!collection) {
        return false;
    }
    TablePtr attributes = attributesFor(account);
    ValuePtr secret(lib().secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
    GError* error = nullptr;
    gboolean stored = lib().secret_service_store_sync(talk.service(), &schema(), attributes.get(), collection->c_str(),
                                                      kLabel, secret.get(), talk.cancellable(), &error);
    if (error) {
        g_clear_error(&error);
        talk.forget();
    }
    return stored;
}

} // namespace

bool sessionBusAvailable()
{
    // An "autolaunch:" address would make GIO start a bus of its own; that is not a session to talk to.
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return std::string_view(address).find("autolaunch:") == std::string_view::npos;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') {
        return false;
    }
    struct stat info
    {
    };
    return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

void loadLibrary()
{
    lib();
}

ReadResult read(std::string_view account)
{
    if (!reachable()) {
        return {ReadStatus::unreachable, {}};
    }
    Conversation talk;
    if (!talk.service()) {
        return {ReadStatus::unreachable, {}};
    }
    auto items = search(talk, std::string(account), /*loadSecrets=*/true);
    if (!items) {
        return {ReadStatus::unreachable, {}};
    }
    bool sawLocked = false;
    for (const auto& item : *items) {
        if (lib().secret_item_get_locked(item.get())) {
            sawLocked = true;
            continue;
        }
        ValuePtr secret(lib().secret_item_get_secret(item.get()));
        if (!secret) {
            continue;
        }
        gsize length = 0;
        const gchar* bytes = lib().secret_value_get(secret.get(), &length);
        std::string_view data(bytes ? bytes : "", bytes ? length : 0);
        if (isValidUtf8(data)) {
            return {ReadStatus::found, std::string(data)};
        }
    }
    return {sawLocked ? ReadStatus::locked : ReadStatus::notStored, {}};
}

std::optional<std::string> get(std::string_view account)
{
    ReadResult result = read(account);
    if (result.status != ReadStatus::found) {
        return std::nullopt;
    }
    return std::move(result.value);
}

bool set(std::string_view value, std::string_view account)
{
    if (!reachable()) {
        return false;
    }
    Conversation talk;
    if (!talk.service()) {
        return false;
    }
    std::string name(account);
    auto items = search(talk, name, /*loadSecrets=*/false);
    if (!items) {
        return false;
    }
    bool complete = true;
    for (const auto& item : *items) {
        GError* error = nullptr;
        // A locked item cannot be deleted without a prompt; it stays and the result says so.
        if (lib().secret_item_get_locked(item.get()) ||
            !lib().secret_item_delete_sync(item.get(), talk.cancellable(), &error)) {
            complete = false;
        }
        g_clear_error(&error);
    }
    if (value.empty()) {
        return complete;
    }
    return store(talk, value, name) && complete;
}

} // namespace taskbell::Keychain
