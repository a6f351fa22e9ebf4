#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/model/app_store.h"
#include "core/settings/app_settings.h"
#include "fake_jira.h"
#include "temp_dir.h"

namespace taskbell::test {

// A gate that holds fake Jira requests until the test opens it (or the gate goes away).
class Gate
{
public:
    ~Gate() { open(); }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// A settings folder that points at a fake Jira site, and stores built on it. The token is given to the
// store, not stored in the Secret Service, so only the tests that are about the token need the keyring.
struct StoreFixture
{
    TempDir folder;
    FakeJira jira;

    // Delays are shrunk a hundredfold: the follow-up reloads come after 15, 30 and 50 ms.
    static app::Timing fastTiming(double scale = 0.01)
    {
        app::Timing timing;
        timing.delayScale = scale;
        return timing;
    }

    SettingsStore settings() const { return SettingsStore(folder / "settings"); }

    void saveSettings(const AppSettings& values)
    {
        SettingsStore store = settings();
        values.save(store);
    }

    AppSettings siteSettings() const
    {
        AppSettings values;
        values.baseURL = jira.baseUrl();
        values.email = jira.email();
        return values;
    }

    std::unique_ptr<app::AppStore> configuredStore(app::Timing timing = fastTiming())
    {
        saveSettings(siteSettings());
        return std::make_unique<app::AppStore>(settings(), std::move(timing), QString::fromStdString(jira.token()));
    }

    // The site rejects (or accepts again) every request, as after the token was revoked.
    void revokeToken(bool revoked)
    {
        if (!revoked) {
            jira.setInterceptor(nullptr);
            return;
        }
        jira.setInterceptor([](const LoggedRequest&) {
            return std::optional<FakeReply>(
                FakeReply(401, "Client must be authenticated to access this resource.", "text/plain;charset=UTF-8"));
        });
    }

    std::string addIssue(const std::string& summary, const std::string& statusId)
    {
        FakeIssue issue;
        issue.summary = summary;
        issue.statusId = statusId;
        issue.assigneeAccountId = jira.accountId();
        return jira.addIssue(issue);
    }
};

inline std::string jqlOf(const LoggedRequest& request)
{
    Json body = request.json();
    return body.is_object() && body.contains("jql") && body["jql"].is_string() ? body["jql"].get<std::string>() : "";
}

} // namespace taskbell::test
