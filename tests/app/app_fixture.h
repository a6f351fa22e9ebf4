#pragma once

#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <future>
#include <memory>
#include <mutex>

#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "core/settings/app_settings.h"
#include "fake_jira.h"
#include "temp_dir.h"

namespace taskbell::test {

// A store on a fresh fake Jira site with its settings in a temporary folder, and an updater that believes it
// runs 1.0.0 and never checks on its own. The store is handed the token, so only the tests about the token
// need the keyring. Delays are scaled down (by default a hundredfold: follow-up reloads after 15, 30, 50 ms).
struct AppFixture
{
    TempDir folder;
    FakeJira jira;
    std::unique_ptr<app::AppStore> store;
    std::unique_ptr<app::Updater> updater;

    explicit AppFixture(bool configured = true, double delayScale = 0.01)
    {
        if (configured) {
            SettingsStore stored = settings();
            siteSettings().save(stored);
        }
        store = std::make_unique<app::AppStore>(settings(), timing(delayScale), QString::fromStdString(jira.token()));
        app::UpdaterEnvironment environment;
        environment.runningVersion = "1.0.0";
        environment.temporaryDirectory = folder.path();
        environment.quit = [] {};
        environment.timing.delayScale = 0.001;
        updater = std::make_unique<app::Updater>(environment);
    }

    static app::Timing timing(double scale = 0.01)
    {
        app::Timing timing;
        timing.delayScale = scale;
        return timing;
    }
    SettingsStore settings() const { return SettingsStore(folder / "settings"); }
    // The fake site, project TB, no periodic refresh.
    AppSettings siteSettings() const
    {
        AppSettings values;
        values.baseURL = jira.baseUrl();
        values.email = jira.email();
        values.projectKey = "TB";
        values.refreshMinutes = 0;
        return values;
    }
    // Saves the site settings as the settings window does, leaving the token as it is.
    void configure() { store->saveSettings(siteSettings(), std::nullopt); }

    // The site rejects (or accepts again) every request, as after the token was revoked.
    void revokeToken(bool revoked)
    {
        jira.setInterceptor(nullptr);
        if (revoked) {
            jira.setInterceptor([](const LoggedRequest&) {
                return std::optional<FakeReply>(FakeReply(401, "Client must be authenticated to access this resource.",
                                                          "text/plain;charset=UTF-8"));
            });
        }
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

    // `count` issues "Task 0", "Task 1"… in the given status.
    void addIssues(int count, const std::string& statusId)
    {
        for (int i = 0; i < count; ++i) {
            addIssue("Task " + std::to_string(i), statusId);
        }
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

// Sets (or, given nothing, unsets) an environment variable for the lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name))
    {
        value ? qputenv(name, QByteArray::fromStdString(*value)) : qunsetenv(name);
    }
    ~ScopedEnv() { had_ ? qputenv(name_, saved_) : qunsetenv(name_); }

private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

// A gate that holds fake Jira requests until the test opens it (or the gate goes away).
class Gate
{
public:
    ~Gate() { open(); }
    void open()
    {
        std::call_once(opened_, [this] { promise_.set_value(); });
    }
    void pass() { future_.wait(); }

private:
    std::once_flag opened_;
    std::promise<void> promise_;
    std::shared_future<void> future_ = promise_.get_future().share();
};

inline std::string jqlOf(const LoggedRequest& request)
{
    Json body = request.json();
    return body.is_object() && body.contains("jql") && body["jql"].is_string() ? body["jql"].get<std::string>() : "";
}

// The accessible names (else object names) of the visible tab stops once round the focus chain from `first`; a
// spin box and its own line edit are one stop.
inline QStringList tabStops(QWidget* first)
{
    QStringList stops;
    QWidget* widget = first;
    do {
        const bool inner = qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) != nullptr;
        if (widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) && !inner) {
            stops << (widget->accessibleName().isEmpty() ? widget->objectName() : widget->accessibleName());
        }
        widget = widget->nextInFocusChain();
    } while (widget != first);
    return stops;
}

// Whether a label of the window names `field` (its buddy), as screen readers announce it.
inline bool isLabelled(QWidget* window, QWidget* field)
{
    const auto labels = window->findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(), [field](QLabel* label) { return label->buddy() == field; });
}

} // namespace taskbell::test
