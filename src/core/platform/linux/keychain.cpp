// The API token in the Secret Service (GNOME Keyring, KWallet), spoken directly over the session bus with
// libdbus, the D-Bus client library the desktop's toolkit loads anyway. The secret travels encrypted
// ("dh-ietf1024-sha256-aes128-cbc-pkcs7": a Diffie-Hellman exchange, HKDF-SHA256, AES-128-CBC, through
// libcrypto), or as "plain" only from a service that offers nothing else.
#include "core/platform/keychain.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <dbus/dbus.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>

#include "core/base/system_library.h"
#include "core/base/text_util.h"

namespace taskbell::Keychain {

namespace {

// Both libraries are opened with the first conversation, not at start.
struct Bus
{
    decltype(&::dbus_threads_init_default) dbus_threads_init_default;
    decltype(&::dbus_error_init) dbus_error_init;
    decltype(&::dbus_error_free) dbus_error_free;
    decltype(&::dbus_error_has_name) dbus_error_has_name;
    decltype(&::dbus_address_escape_value) dbus_address_escape_value;
    decltype(&::dbus_free) dbus_free;
    decltype(&::dbus_connection_open_private) dbus_connection_open_private;
    decltype(&::dbus_connection_set_exit_on_disconnect) dbus_connection_set_exit_on_disconnect;
    decltype(&::dbus_connection_get_is_connected) dbus_connection_get_is_connected;
    decltype(&::dbus_connection_send_with_reply_and_block) dbus_connection_send_with_reply_and_block;
    decltype(&::dbus_connection_pop_message) dbus_connection_pop_message;
    decltype(&::dbus_connection_close) dbus_connection_close;
    decltype(&::dbus_connection_unref) dbus_connection_unref;
    decltype(&::dbus_message_new_method_call) dbus_message_new_method_call;
    decltype(&::dbus_message_unref) dbus_message_unref;
    decltype(&::dbus_message_iter_init_append) dbus_message_iter_init_append;
    decltype(&::dbus_message_iter_append_basic) dbus_message_iter_append_basic;
    decltype(&::dbus_message_iter_append_fixed_array) dbus_message_iter_append_fixed_array;
    decltype(&::dbus_message_iter_open_container) dbus_message_iter_open_container;
    decltype(&::dbus_message_iter_close_container) dbus_message_iter_close_container;
    decltype(&::dbus_message_iter_init) dbus_message_iter_init;
    decltype(&::dbus_message_iter_get_arg_type) dbus_message_iter_get_arg_type;
    decltype(&::dbus_message_iter_get_element_type) dbus_message_iter_get_element_type;
    decltype(&::dbus_message_iter_recurse) dbus_message_iter_recurse;
    decltype(&::dbus_message_iter_next) dbus_message_iter_next;
    decltype(&::dbus_message_iter_get_basic) dbus_message_iter_get_basic;
    decltype(&::dbus_message_iter_get_fixed_array) dbus_message_iter_get_fixed_array;
};

struct Crypto
{
    decltype(&::BN_new) BN_new;
    decltype(&::BN_dup) BN_dup;
    decltype(&::BN_clear_free) BN_clear_free;
    decltype(&::BN_CTX_new) BN_CTX_new;
    decltype(&::BN_CTX_free) BN_CTX_free;
    decltype(&::BN_bin2bn) BN_bin2bn;
    decltype(&::BN_bn2bin) BN_bn2bin;
    decltype(&::BN_bn2binpad) BN_bn2binpad;
    decltype(&::BN_num_bits) BN_num_bits;
    decltype(&::BN_set_word) BN_set_word;
    decltype(&::BN_sub_word) BN_sub_word;
    decltype(&::BN_cmp) BN_cmp;
    decltype(&::BN_mod_exp) BN_mod_exp;
    decltype(&::BN_get_rfc2409_prime_1024) BN_get_rfc2409_prime_1024;
    decltype(&::RAND_bytes) RAND_bytes;
    decltype(&::RAND_priv_bytes) RAND_priv_bytes;
    decltype(&::HMAC) HMAC;
    decltype(&::EVP_sha256) EVP_sha256;
    decltype(&::EVP_aes_128_cbc) EVP_aes_128_cbc;
    decltype(&::EVP_CIPHER_CTX_new) EVP_CIPHER_CTX_new;
    decltype(&::EVP_CIPHER_CTX_free) EVP_CIPHER_CTX_free;
    decltype(&::EVP_EncryptInit_ex) EVP_EncryptInit_ex;
    decltype(&::EVP_EncryptUpdate) EVP_EncryptUpdate;
    decltype(&::EVP_EncryptFinal_ex) EVP_EncryptFinal_ex;
    decltype(&::EVP_DecryptInit_ex) EVP_DecryptInit_ex;
    decltype(&::EVP_DecryptUpdate) EVP_DecryptUpdate;
    decltype(&::EVP_DecryptFinal_ex) EVP_DecryptFinal_ex;
    decltype(&::OPENSSL_cleanse) OPENSSL_cleanse;
};

struct Libraries
{
    Bus bus;
    Crypto crypto;
};

Libraries load()
{
    SystemLibrary dbus("libdbus-1.so.3", "the keyring");
    Libraries api{};
    Bus& b = api.bus;
    TASKBELL_BIND(dbus, b, dbus_threads_init_default);
    TASKBELL_BIND(dbus, b, dbus_error_init);
    TASKBELL_BIND(dbus, b, dbus_error_free);
    TASKBELL_BIND(dbus, b, dbus_error_has_name);
    TASKBELL_BIND(dbus, b, dbus_address_escape_value);
    TASKBELL_BIND(dbus, b, dbus_free);
    TASKBELL_BIND(dbus, b, dbus_connection_open_private);
    TASKBELL_BIND(dbus, b, dbus_connection_set_exit_on_disconnect);
    TASKBELL_BIND(dbus, b, dbus_connection_get_is_connected);
    TASKBELL_BIND(dbus, b, dbus_connection_send_with_reply_and_block);
    TASKBELL_BIND(dbus, b, dbus_connection_pop_message);
    TASKBELL_BIND(dbus, b, dbus_connection_close);
    TASKBELL_BIND(dbus, b, dbus_connection_unref);
    TASKBELL_BIND(dbus, b, dbus_message_new_method_call);
    TASKBELL_BIND(dbus, b, dbus_message_unref);
    TASKBELL_BIND(dbus, b, dbus_message_iter_init_append);
    TASKBELL_BIND(dbus, b, dbus_message_iter_append_basic);
    TASKBELL_BIND(dbus, b, dbus_message_iter_append_fixed_array);
    TASKBELL_BIND(dbus, b, dbus_message_iter_open_container);
    TASKBELL_BIND(dbus, b, dbus_message_iter_close_container);
    TASKBELL_BIND(dbus, b, dbus_message_iter_init);
    TASKBELL_BIND(dbus, b, dbus_message_iter_get_arg_type);
    TASKBELL_BIND(dbus, b, dbus_message_iter_get_element_type);
    TASKBELL_BIND(dbus, b, dbus_message_iter_recurse);
    TASKBELL_BIND(dbus, b, dbus_message_iter_next);
    TASKBELL_BIND(dbus, b, dbus_message_iter_get_basic);
    TASKBELL_BIND(dbus, b, dbus_message_iter_get_fixed_array);

    SystemLibrary crypto("libcrypto.so.3", "the keyring");
    Crypto& c = api.crypto;
    TASKBELL_BIND(crypto, c, BN_new);
    TASKBELL_BIND(crypto, c, BN_dup);
    TASKBELL_BIND(crypto, c, BN_clear_free);
    TASKBELL_BIND(crypto, c, BN_CTX_new);
    TASKBELL_BIND(crypto, c, BN_CTX_free);
    TASKBELL_BIND(crypto, c, BN_bin2bn);
    TASKBELL_BIND(crypto, c, BN_bn2bin);
    TASKBELL_BIND(crypto, c, BN_bn2binpad);
    TASKBELL_BIND(crypto, c, BN_num_bits);
    TASKBELL_BIND(crypto, c, BN_set_word);
    TASKBELL_BIND(crypto, c, BN_sub_word);
    TASKBELL_BIND(crypto, c, BN_cmp);
    TASKBELL_BIND(crypto, c, BN_mod_exp);
    TASKBELL_BIND(crypto, c, BN_get_rfc2409_prime_1024);
    TASKBELL_BIND(crypto, c, RAND_bytes);
    TASKBELL_BIND(crypto, c, RAND_priv_bytes);
    TASKBELL_BIND(crypto, c, HMAC);
    TASKBELL_BIND(crypto, c, EVP_sha256);
    TASKBELL_BIND(crypto, c, EVP_aes_128_cbc);
    TASKBELL_BIND(crypto, c, EVP_CIPHER_CTX_new);
    TASKBELL_BIND(crypto, c, EVP_CIPHER_CTX_free);
    TASKBELL_BIND(crypto, c, EVP_EncryptInit_ex);
    TASKBELL_BIND(crypto, c, EVP_EncryptUpdate);
    TASKBELL_BIND(crypto, c, EVP_EncryptFinal_ex);
    TASKBELL_BIND(crypto, c, EVP_DecryptInit_ex);
    TASKBELL_BIND(crypto, c, EVP_DecryptUpdate);
    TASKBELL_BIND(crypto, c, EVP_DecryptFinal_ex);
    TASKBELL_BIND(crypto, c, OPENSSL_cleanse);

    // Qt does the same for its own connections; whoever comes first makes libdbus thread-safe.
    api.bus.dbus_threads_init_default();
    return api;
}

const Libraries& libs()
{
    static const Libraries api = load();
    return api;
}
const Bus& bus()
{
    return libs().bus;
}
const Crypto& ssl()
{
    return libs().crypto;
}

// Without a session bus there is nobody to talk to, and nothing needs loading.
bool reachable()
{
    if (!sessionBusAvailable()) {
        return false;
    }
    try {
        libs();
        return true;
    } catch (const LibraryError&) {
        return false; // as if no Secret Service ran: reads give nothing, writes do nothing
    }
}

constexpr const char* kLabel = "Taskbell API token";
constexpr const char* kSecrets = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kDhAlgorithm = "dh-ietf1024-sha256-aes128-cbc-pkcs7";
constexpr std::size_t kPrimeBytes = 128;
constexpr std::size_t kKeyBytes = 16;

// A conversation that cannot go on: no answer in time, an error reply, or a reply of an unexpected shape.
struct Failed : std::runtime_error
{
    explicit Failed(const std::string& what, bool stale = false) : std::runtime_error(what), stale(stale) {}
    bool stale; // an error reply over a kept link: the keyring may have restarted, and a fresh link may work
};

// Bytes that hold key material or a secret, wiped when dropped.
class SecretBytes
{
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size) : bytes_(size) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&&) = default;
    SecretBytes& operator=(SecretBytes&& other) noexcept
    {
        wipe();
        bytes_ = std::move(other.bytes_);
        return *this;
    }
    ~SecretBytes() { wipe(); }

    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    void resize(std::size_t size) { bytes_.resize(size); }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()}; }

private:
    std::vector<unsigned char> bytes_;

    void wipe()
    {
        if (!bytes_.empty()) {
            ssl().OPENSSL_cleanse(bytes_.data(), bytes_.size());
        }
    }
};

struct BignumRelease
{
    void operator()(BIGNUM* number) const { ssl().BN_clear_free(number); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumRelease>;

struct BnContextRelease
{
    void operator()(BN_CTX* context) const { ssl().BN_CTX_free(context); }
};

struct CipherRelease
{
    void operator()(EVP_CIPHER_CTX* context) const { ssl().EVP_CIPHER_CTX_free(context); }
};
using Cipher = std::unique_ptr<EVP_CIPHER_CTX, CipherRelease>;

void need(bool ok)
{
    if (!ok) {
        throw Failed("the keyring's encryption failed");
    }
}

Bignum bignum(const unsigned char* bytes, std::size_t size)
{
    Bignum number(ssl().BN_bin2bn(bytes, static_cast<int>(size), nullptr));
    need(number != nullptr);
    return number;
}

// Our half of the key exchange in the IETF 1024-bit group (RFC 2409, generator 2).
class KeyExchange
{
public:
    KeyExchange() : prime_(ssl().BN_get_rfc2409_prime_1024(nullptr)), context_(ssl().BN_CTX_new())
    {
        need(prime_ && context_);
        SecretBytes random(kPrimeBytes);
        need(ssl().RAND_priv_bytes(random.data(), static_cast<int>(random.size())) == 1);
        exponent_ = bignum(random.data(), random.size());
        Bignum generator(ssl().BN_new());
        need(generator && ssl().BN_set_word(generator.get(), 2) == 1);
        Bignum shared(ssl().BN_new());
        need(shared &&
             ssl().BN_mod_exp(shared.get(), generator.get(), exponent_.get(), prime_.get(), context_.get()) == 1);
        publicKey_.resize((static_cast<std::size_t>(ssl().BN_num_bits(shared.get())) + 7) / 8);
        ssl().BN_bn2bin(shared.get(), reinterpret_cast<unsigned char*>(publicKey_.data()));
    }

    const std::string& publicKey() const { return publicKey_; }

    // The AES key from the service's public key: HKDF-SHA256 of the shared secret, no salt and no info.
    SecretBytes sessionKey(std::string_view peer) const
    {
        Bignum theirs = bignum(reinterpret_cast<const unsigned char*>(peer.data()), peer.size());
        // 1 < theirs < prime - 1: anything else would make the shared secret guessable.
        Bignum primeLessOne(ssl().BN_dup(prime_.get()));
        need(primeLessOne && ssl().BN_sub_word(primeLessOne.get(), 1) == 1);
        if (ssl().BN_num_bits(theirs.get()) < 2 || ssl().BN_cmp(theirs.get(), primeLessOne.get()) >= 0) {
            throw Failed("the keyring sent an unusable key");
        }
        Bignum shared(ssl().BN_new());
        need(shared &&
             ssl().BN_mod_exp(shared.get(), theirs.get(), exponent_.get(), prime_.get(), context_.get()) == 1);
        SecretBytes secret(kPrimeBytes);
        need(ssl().BN_bn2binpad(shared.get(), secret.data(), kPrimeBytes) == static_cast<int>(kPrimeBytes));

        std::array<unsigned char, 32> salt{};
        SecretBytes extracted(32);
        unsigned int length = 0;
        need(ssl().HMAC(ssl().EVP_sha256(), salt.data(), salt.size(), secret.data(), secret.size(), extracted.data(),
                        &length) != nullptr);
        const unsigned char counter = 1;
        SecretBytes expanded(32);
        need(ssl().HMAC(ssl().EVP_sha256(), extracted.data(), static_cast<int>(extracted.size()), &counter, 1,
                        expanded.data(), &length) != nullptr);
        SecretBytes key(kKeyBytes);
        std::copy_n(expanded.data(), kKeyBytes, key.data());
        return key;
    }

private:
    Bignum prime_;
    std::unique_ptr<BN_CTX, BnContextRelease> context_;
    Bignum exponent_;
    std::string publicKey_;
};

// AES-128-CBC with PKCS#7 padding: (initialisation vector, cipher text).
std::pair<std::string, std::string> encrypt(const SecretBytes& key, std::string_view plain)
{
    std::string iv(16, '\0');
    need(ssl().RAND_bytes(reinterpret_cast<unsigned char*>(iv.data()), 16) == 1);
    Cipher context(ssl().EVP_CIPHER_CTX_new());
    need(context && ssl().EVP_EncryptInit_ex(context.get(), ssl().EVP_aes_128_cbc(), nullptr, key.data(),
                                             reinterpret_cast<const unsigned char*>(iv.data())) == 1);
    std::string out(plain.size() + 16, '\0');
    int written = 0;
    int last = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    need(ssl().EVP_EncryptUpdate(context.get(), bytes, &written, reinterpret_cast<const unsigned char*>(plain.data()),
                                 static_cast<int>(plain.size())) == 1);
    need(ssl().EVP_EncryptFinal_ex(context.get(), bytes + written, &last) == 1);
    out.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    return {std::move(iv), std::move(out)};
}

// Nothing when the data does not decrypt (a wrong key or broken padding).
std::optional<SecretBytes> decrypt(const SecretBytes& key, std::string_view iv, std::string_view data)
{
    if (iv.size() != 16 || data.empty() || data.size() % 16 != 0) {
        return std::nullopt;
    }
    Cipher context(ssl().EVP_CIPHER_CTX_new());
    need(context != nullptr);
    SecretBytes out(data.size() + 16);
    int written = 0;
    int last = 0;
    if (ssl().EVP_DecryptInit_ex(context.get(), ssl().EVP_aes_128_cbc(), nullptr, key.data(),
                                 reinterpret_cast<const unsigned char*>(iv.data())) != 1 ||
        ssl().EVP_DecryptUpdate(context.get(), out.data(), &written,
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size())) != 1 ||
        ssl().EVP_DecryptFinal_ex(context.get(), out.data() + written, &last) != 1) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    return out;
}

struct MessageRelease
{
    void operator()(DBusMessage* message) const { bus().dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageRelease>;

// Writes the arguments of a method call.
class Writer
{
public:
    explicit Writer(DBusMessage* message) { bus().dbus_message_iter_init_append(message, &iter_); }

    Writer& string(const char* text) { return basic(DBUS_TYPE_STRING, &text); }
    Writer& path(const char* text) { return basic(DBUS_TYPE_OBJECT_PATH, &text); }
    Writer& boolean(bool value)
    {
        dbus_bool_t flag = value ? TRUE : FALSE;
        return basic(DBUS_TYPE_BOOLEAN, &flag);
    }
    Writer& bytes(std::string_view data)
    {
        return container(DBUS_TYPE_ARRAY, "y", [&](Writer& inner) {
            const char* start = data.empty() ? "" : data.data();
            ok(bus().dbus_message_iter_append_fixed_array(&inner.iter_, DBUS_TYPE_BYTE, &start,
                                                          static_cast<int>(data.size())));
        });
    }
    Writer& paths(const std::vector<std::string>& values)
    {
        return container(DBUS_TYPE_ARRAY, "o", [&](Writer& inner) {
            for (const std::string& value : values) {
                inner.path(value.c_str());
            }
        });
    }
    Writer& attributes(const std::map<std::string, std::string>& values)
    {
        return container(DBUS_TYPE_ARRAY, "{ss}", [&](Writer& inner) {
            for (const auto& attribute : values) {
                inner.container(DBUS_TYPE_DICT_ENTRY, nullptr, [&](Writer& entry) {
                    entry.string(attribute.first.c_str()).string(attribute.second.c_str());
                });
            }
        });
    }
    template <typename Body> Writer& container(int type, const char* signature, Body body)
    {
        Writer inner;
        ok(bus().dbus_message_iter_open_container(&iter_, type, signature, &inner.iter_));
        body(inner);
        ok(bus().dbus_message_iter_close_container(&iter_, &inner.iter_));
        return *this;
    }

private:
    DBusMessageIter iter_{};

    Writer() = default;
    Writer& basic(int type, const void* value)
    {
        ok(bus().dbus_message_iter_append_basic(&iter_, type, value));
        return *this;
    }
    static void ok(dbus_bool_t result)
    {
        if (!result) {
            throw std::bad_alloc();
        }
    }
};

// Reads a reply's arguments in order; any other shape than expected fails the conversation.
class Reader
{
public:
    explicit Reader(DBusMessage* message) { valid_ = bus().dbus_message_iter_init(message, &iter_) != FALSE; }

    bool atEnd() const { return type() == DBUS_TYPE_INVALID; }
    std::string string() { return text(DBUS_TYPE_STRING); }
    std::string path() { return text(DBUS_TYPE_OBJECT_PATH); }
    bool boolean()
    {
        dbus_bool_t value = FALSE;
        expect(DBUS_TYPE_BOOLEAN);
        bus().dbus_message_iter_get_basic(&iter_, &value);
        advance();
        return value != FALSE;
    }
    std::string bytes()
    {
        expect(DBUS_TYPE_ARRAY);
        if (bus().dbus_message_iter_get_element_type(&iter_) != DBUS_TYPE_BYTE) {
            throw Failed("unexpected reply");
        }
        Reader inner = recurse();
        const char* data = nullptr;
        int size = 0;
        if (!inner.atEnd()) {
            bus().dbus_message_iter_get_fixed_array(&inner.iter_, &data, &size);
        }
        advance();
        return {data ? data : "", data ? static_cast<std::size_t>(size) : 0};
    }
    std::vector<std::string> paths()
    {
        std::vector<std::string> values;
        for (Reader inner = enter(DBUS_TYPE_ARRAY); !inner.atEnd();) {
            values.push_back(inner.path());
        }
        return values;
    }
    // The reader of a container's content; the container itself is passed.
    Reader enter(int type)
    {
        expect(type);
        Reader inner = recurse();
        advance();
        return inner;
    }

private:
    DBusMessageIter iter_{};
    bool valid_ = true;

    Reader() = default;
    int type() const
    {
        return valid_ ? bus().dbus_message_iter_get_arg_type(const_cast<DBusMessageIter*>(&iter_)) : DBUS_TYPE_INVALID;
    }
    void expect(int wanted) const
    {
        if (type() != wanted) {
            throw Failed("unexpected reply");
        }
    }
    void advance() { bus().dbus_message_iter_next(&iter_); }
    Reader recurse()
    {
        Reader inner;
        bus().dbus_message_iter_recurse(&iter_, &inner.iter_);
        return inner;
    }
    std::string text(int wanted)
    {
        expect(wanted);
        const char* value = nullptr;
        bus().dbus_message_iter_get_basic(&iter_, &value);
        advance();
        return value ? value : "";
    }
};

// The service's answer to a call; the name of a D-Bus error reply, if that is what came back.
struct Reply
{
    Message message;
    std::string errorName;
};

// The connection to the session bus and the open session with the Secret Service, kept for the life of the
// process: a session costs a key exchange. Guarded by conversationMutex; dropped after any failed call (the
// keyring may have restarted), so the next conversation starts afresh. Never released at exit, so nothing of
// it runs during static destruction.
struct Link
{
    DBusConnection* connection = nullptr;
    std::string session; // the session's object path
    SecretBytes key;     // empty for a "plain" session
};
std::optional<Link> cachedLink;
std::timed_mutex conversationMutex;

void dropLink()
{
    if (cachedLink && cachedLink->connection) {
        bus().dbus_connection_close(cachedLink->connection);
        bus().dbus_connection_unref(cachedLink->connection);
    }
    cachedLink.reset();
}

std::string sessionBusAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return address;
    }
    std::string socket = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/bus";
    char* escaped = bus().dbus_address_escape_value(socket.c_str());
    if (!escaped) {
        throw std::bad_alloc();
    }
    std::string address = std::string("unix:path=") + escaped;
    bus().dbus_free(escaped);
    return address;
}

// One bounded conversation: the lock, the deadline shared by all its calls, and the link.
class Conversation
{
public:
    Conversation()
    {
        if (!conversationMutex.try_lock_for(kTimeout)) {
            throw Failed("another conversation with the keyring did not end");
        }
        deadline_ = std::chrono::steady_clock::now() + kTimeout;
        try {
            if (cachedLink && !bus().dbus_connection_get_is_connected(cachedLink->connection)) {
                dropLink();
            }
            reused_ = cachedLink.has_value();
            if (!cachedLink) {
                cachedLink.emplace(open());
            }
        } catch (...) {
            conversationMutex.unlock();
            throw;
        }
    }
    ~Conversation()
    {
        if (cachedLink) {
            // Messages nobody asked for (the bus's NameAcquired) would otherwise pile up unread.
            while (DBusMessage* unread = bus().dbus_connection_pop_message(cachedLink->connection)) {
                bus().dbus_message_unref(unread);
            }
        }
        conversationMutex.unlock();
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    const Link& link() const { return *cachedLink; }

    // A method call; fails the conversation (and drops the link) on an error reply or when time is up.
    Message call(const std::string& path, const char* interface, const char* method,
                 const std::function<void(Writer&)>& arguments = {}) const
    {
        Reply reply = attempt(cachedLink->connection, kSecrets, path, interface, method, arguments);
        if (!reply.message) {
            dropLink();
            throw Failed(reply.errorName, reused_ && reply.errorName != DBUS_ERROR_NO_REPLY);
        }
        return std::move(reply.message);
    }

    // Lets a prompt go without showing it: this program never prompts.
    void dismiss(const std::string& prompt) const
    {
        if (prompt != "/") {
            attempt(cachedLink->connection, kSecrets, prompt, "org.freedesktop.Secret.Prompt", "Dismiss", {});
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    bool reused_ = false; // the link was kept from an earlier conversation

    int remainingMilliseconds() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw Failed("the keyring did not answer in time");
        }
        return static_cast<int>(left.count());
    }

    Reply attempt(DBusConnection* connection, const char* destination, const std::string& path, const char* interface,
                  const char* method, const std::function<void(Writer&)>& arguments) const
    {
        Message message(bus().dbus_message_new_method_call(destination, path.c_str(), interface, method));
        if (!message) {
            throw std::bad_alloc();
        }
        if (arguments) {
            Writer writer(message.get());
            arguments(writer);
        }
        DBusError error;
        bus().dbus_error_init(&error);
        Reply reply;
        reply.message.reset(bus().dbus_connection_send_with_reply_and_block(connection, message.get(),
                                                                            remainingMilliseconds(), &error));
        if (error.name) {
            reply.errorName = error.name;
        }
        bus().dbus_error_free(&error);
        return reply;
    }

    // Connects, says hello to the bus, and opens a session with the Secret Service.
    Link open() const
    {
        Link link;
        DBusError error;
        bus().dbus_error_init(&error);
        link.connection = bus().dbus_connection_open_private(sessionBusAddress().c_str(), &error);
        bus().dbus_error_free(&error);
        if (!link.connection) {
            throw Failed("no session bus");
        }
        // libdbus's default for a shared bus connection would end the whole process when the bus goes away.
        bus().dbus_connection_set_exit_on_disconnect(link.connection, FALSE);
        try {
            Reply hello = attempt(link.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "Hello", {});
            if (!hello.message) {
                throw Failed("the session bus did not answer");
            }
            openSession(link);
        } catch (...) {
            bus().dbus_connection_close(link.connection);
            bus().dbus_connection_unref(link.connection);
            throw;
        }
        return link;
    }

    void openSession(Link& link) const
    {
        KeyExchange exchange;
        Reply reply =
            attempt(link.connection, kSecrets, kServicePath, kServiceInterface, "OpenSession", [&](Writer& args) {
                args.string(kDhAlgorithm).container(DBUS_TYPE_VARIANT, "ay", [&](Writer& value) {
                    value.bytes(exchange.publicKey());
                });
            });
        if (reply.message) {
            Reader reader(reply.message.get());
            std::string peer = reader.enter(DBUS_TYPE_VARIANT).bytes();
            link.session = reader.path();
            link.key = exchange.sessionKey(peer);
            return;
        }
        if (reply.errorName != DBUS_ERROR_NOT_SUPPORTED) {
            throw Failed(reply.errorName);
        }
        reply = attempt(link.connection, kSecrets, kServicePath, kServiceInterface, "OpenSession", [](Writer& args) {
            args.string("plain").container(DBUS_TYPE_VARIANT, "s", [](Writer& value) { value.string(""); });
        });
        if (!reply.message) {
            throw Failed(reply.errorName);
        }
        Reader reader(reply.message.get());
        reader.enter(DBUS_TYPE_VARIANT);
        link.session = reader.path();
    }
};

std::map<std::string, std::string> attributesFor(const std::string& account)
{
    return {{"service", std::string(kService)}, {"account", account}};
}

struct Found
{
    std::vector<std::string> unlocked;
    std::vector<std::string> locked; // items in a locked collection; they are never unlocked (that would prompt)
};

// Every matching item in every collection, whatever schema name it was stored with.
Found search(const Conversation& talk, const std::string& account)
{
    Message reply = talk.call(kServicePath, kServiceInterface, "SearchItems",
                              [&](Writer& args) { args.attributes(attributesFor(account)); });
    Reader reader(reply.get());
    Found found;
    found.unlocked = reader.paths();
    found.locked = reader.paths();
    return found;
}

// The secrets of unlocked items, by item path, decrypted; items whose secret does not decrypt are left out.
std::map<std::string, SecretBytes> secretsOf(const Conversation& talk, const std::vector<std::string>& items)
{
    Message reply = talk.call(kServicePath, kServiceInterface, "GetSecrets",
                              [&](Writer& args) { args.paths(items).path(talk.link().session.c_str()); });
    std::map<std::string, SecretBytes> secrets;
    for (Reader entries = Reader(reply.get()).enter(DBUS_TYPE_ARRAY); !entries.atEnd();) {
        Reader entry = entries.enter(DBUS_TYPE_DICT_ENTRY);
        std::string item = entry.path();
        Reader secret = entry.enter(DBUS_TYPE_STRUCT);
        secret.path(); // the session
        std::string parameters = secret.bytes();
        std::string value = secret.bytes();
        if (talk.link().key.size() == 0) {
            SecretBytes plain(value.size());
            std::copy(value.begin(), value.end(), plain.data());
            secrets.emplace(item, std::move(plain));
        } else if (auto plain = decrypt(talk.link().key, parameters, value)) {
            secrets.emplace(item, std::move(*plain));
        }
        ssl().OPENSSL_cleanse(value.data(), value.size());
    }
    return secrets;
}

// The object path of the default collection when it exists and is unlocked; storing anywhere else
// would make the service create or unlock a collection, which prompts.
std::optional<std::string> unlockedDefaultCollection(const Conversation& talk)
{
    Message alias =
        talk.call(kServicePath, kServiceInterface, "ReadAlias", [](Writer& args) { args.string("default"); });
    std::string collection = Reader(alias.get()).path();
    if (collection == "/") {
        return std::nullopt;
    }
    Message locked = talk.call(collection, DBUS_INTERFACE_PROPERTIES, "Get",
                               [](Writer& args) { args.string("org.freedesktop.Secret.Collection").string("Locked"); });
    if (Reader(locked.get()).enter(DBUS_TYPE_VARIANT).boolean()) {
        return std::nullopt;
    }
    return collection;
}

bool store(const Conversation& talk, std::string_view value, const std::string& account)
{
    std::optional<std::string> collection = unlockedDefaultCollection(talk);
    if (!collection) {
        return false;
    }
    const Link& link = talk.link();
    std::string parameters;
    std::string data;
    if (link.key.size() > 0) {
        std::tie(parameters, data) = encrypt(link.key, value);
    } else {
        data = value;
    }
    // The schema's name is stored with the item, as libsecret's tools do; lookups never match on it.
    auto attributes = attributesFor(account);
    attributes.emplace("xdg:schema", kService);
    Message reply = talk.call(*collection, "org.freedesktop.Secret.Collection", "CreateItem", [&](Writer& args) {
        args.container(DBUS_TYPE_ARRAY, "{sv}", [&](Writer& properties) {
            properties.container(DBUS_TYPE_DICT_ENTRY, nullptr, [&](Writer& entry) {
                entry.string("org.freedesktop.Secret.Item.Label").container(DBUS_TYPE_VARIANT, "s", [](Writer& label) {
                    label.string(kLabel);
                });
            });
            properties.container(DBUS_TYPE_DICT_ENTRY, nullptr, [&](Writer& entry) {
                entry.string("org.freedesktop.Secret.Item.Attributes")
                    .container(DBUS_TYPE_VARIANT, "a{ss}", [&](Writer& dict) { dict.attributes(attributes); });
            });
        });
        args.container(DBUS_TYPE_STRUCT, nullptr, [&](Writer& secret) {
            secret.path(link.session.c_str()).bytes(parameters).bytes(data).string("text/plain");
        });
        args.boolean(true);
    });
    ssl().OPENSSL_cleanse(data.data(), data.size());
    Reader reader(reply.get());
    std::string item = reader.path();
    std::string prompt = reader.path();
    talk.dismiss(prompt);
    return prompt == "/" && item != "/";
}

// Runs `body` in a conversation. A kept link that turns out stale (the keyring restarted since) gets one more try on
// a fresh one; any other failure gives `onFailure`: no answer in time, an error reply, an odd reply, no memory.
template <typename Result, typename Body> Result converse(Result onFailure, Body body)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            Conversation talk;
            return body(talk);
        } catch (const Failed& failure) {
            if (!failure.stale) {
                break;
            }
        } catch (const std::exception&) {
            break;
        }
    }
    return onFailure;
}

} // namespace

bool sessionBusAvailable()
{
    // An "autolaunch:" address would make the client start a bus of its own; that is not a session to talk to.
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
    libs();
}

ReadResult read(std::string_view account)
{
    if (!isValidUtf8(account)) {
        return {ReadStatus::notStored, {}}; // no item can carry such an attribute
    }
    if (!reachable()) {
        return {ReadStatus::unreachable, {}};
    }
    return converse(ReadResult{ReadStatus::unreachable, {}}, [&](const Conversation& talk) -> ReadResult {
        Found found = search(talk, std::string(account));
        if (!found.unlocked.empty()) {
            std::map<std::string, SecretBytes> secrets = secretsOf(talk, found.unlocked);
            for (const std::string& item : found.unlocked) {
                auto secret = secrets.find(item);
                if (secret != secrets.end() && isValidUtf8(secret->second.view())) {
                    return {ReadStatus::found, std::string(secret->second.view())};
                }
            }
        }
        return {found.locked.empty() ? ReadStatus::notStored : ReadStatus::locked, {}};
    });
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
    if (!reachable() || !isValidUtf8(account)) {
        return false;
    }
    return converse(false, [&](const Conversation& talk) {
        std::string name(account);
        Found found = search(talk, name);
        // A locked item cannot be deleted without a prompt; it stays and the result says so.
        bool complete = found.locked.empty();
        for (const std::string& item : found.unlocked) {
            Message reply = talk.call(item, "org.freedesktop.Secret.Item", "Delete");
            std::string prompt = Reader(reply.get()).path();
            talk.dismiss(prompt);
            complete = complete && prompt == "/";
        }
        if (value.empty()) {
            return complete;
        }
        return store(talk, value, name) && complete;
    });
}

} // namespace taskbell::Keychain
