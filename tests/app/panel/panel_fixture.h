#pragma once

#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <memory>

#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "fake_jira.h"
#include "support/temp_dir.h"

namespace taskbell::test {

// A store configured for a fresh fake Jira site, with its settings in a temporary folder, and an
// updater that believes it runs version 1.0.0 and never checks on its own.
struct PanelFixture
{
    FakeJira jira;
    TempDir folder;
    std::unique_ptr<app::AppStore> store;
    std::unique_ptr<app::Updater> updater;

    // The store knows the fake site's token; `configured` saves the site and the e-mail as well.
    explicit PanelFixture(bool configured = true)
    {
        if (configured) {
            SettingsStore stored = settings();
            siteSettings().save(stored);
        }
        store = std::make_unique<app::AppStore>(settings(), app::Timing{}, QString::fromStdString(jira.token()));
        app::UpdaterEnvironment environment;
        environment.runningVersion = "1.0.0";
        environment.temporaryDirectory = folder.path();
        environment.quit = [] {};
        updater = std::make_unique<app::Updater>(environment);
    }

    SettingsStore settings() const { return SettingsStore(folder.path()); }

    AppSettings siteSettings() const
    {
        AppSettings values;
        values.baseURL = jira.baseUrl();
        values.email = jira.email();
        values.refreshMinutes = 0;
        return values;
    }

    // Saves the site settings as the settings window does, leaving the token as it is.
    void configure() { store->saveSettings(siteSettings(), std::nullopt); }

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

    // An issue assigned to the signed-in user; statusId "10000" Backlog, "3" In Progress, "10002" Done.
    std::string addIssue(const std::string& summary, const std::string& statusId, FakeIssue issue = {})
    {
        issue.summary = summary;
        issue.statusId = statusId;
        issue.assigneeAccountId = jira.accountId();
        if (statusId == "10002" && !issue.resolutiondate) {
            issue.resolutiondate = jira.now();
        }
        return jira.addIssue(issue);
    }

    // Runs a load of the given kind and waits for it to be applied.
    bool load(bool silent = false)
    {
        QSignalSpy finished(store.get(), &app::AppStore::loadFinished);
        store->load(silent);
        return finished.wait(10000);
    }

    // Offers `version` through a feed served by the fake site and waits for the check.
    bool offerUpdate(const std::string& version)
    {
        std::string body = R"({"version":")" + version + R"(","url":")" + jira.baseUrl() + R"(/Taskbell.zip"})";
        jira.setRoute("GET", "/feed.json", [body](const LoggedRequest&) { return FakeReply(200, body); });
        bool done = false;
        updater->check(QString::fromStdString(jira.baseUrl() + "/feed.json"), true, [&done] { done = true; });
        return QTest::qWaitFor([&done] { return done; }, 10000);
    }
};

} // namespace taskbell::test
