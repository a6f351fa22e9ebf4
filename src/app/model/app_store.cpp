#include "app/model/app_store.h"

#include <QThreadPool>
#include <algorithm>
#include <array>
#include <utility>

#include "app/model/background.h"
#include "app/model/text.h"
#include "core/jira/client.h"
#include "core/jira/error_text.h"
#include "core/jira/jql.h"
#include "core/platform/keychain.h"
#include "core/settings/app_settings.h"

namespace taskbell::app {
namespace {

using namespace std::chrono_literals;

// The follow-up reloads after a write: Jira's search index lags behind writes.
constexpr std::array<std::chrono::milliseconds, 3> kFollowupDelays = {1500ms, 3000ms, 5000ms};
// A load's four requests run at once; actions on other issues and overlapping loads run beside them.
constexpr int kPoolThreads = 16;
constexpr int kSearchCap = 300;

} // namespace

// One load: the four requests' outcomes, filled in on the GUI thread as they arrive.
struct AppStore::LoadResult
{
    bool silent = false;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::function<void()> finished;
    std::optional<JiraUser> user;
    std::array<std::vector<Issue>, 3> sections;
    std::array<std::exception_ptr, 4> errors;
    std::array<bool, 4> arrived{};
};

AppStore::AppStore(SettingsStore settings, Timing timing, QObject* parent)
    : AppStore(std::move(settings), std::move(timing), TokenRead::atOnce, parent)
{
}

AppStore::AppStore(SettingsStore settings, Timing timing, TokenRead read, QObject* parent)
    : QObject(parent), settingsStore_(std::move(settings)), timing_(std::move(timing)), pool_(new QThreadPool(this))
{
    pool_->setMaxThreadCount(kPoolThreads);
    settings_ = AppSettings::load(settingsStore_);
    connectActivity();
    if (read == TokenRead::atOnce) {
        applyToken(Keychain::read(Keychain::kTokenAccount));
    } else {
        readToken([this] { startAutoRefresh(); });
    }
    startAutoRefresh();
}

AppStore::AppStore(SettingsStore settings, Timing timing, const QString& token, QObject* parent)
    : QObject(parent), settingsStore_(std::move(settings)), timing_(std::move(timing)), pool_(new QThreadPool(this))
{
    pool_->setMaxThreadCount(kPoolThreads);
    settings_ = AppSettings::load(settingsStore_);
    connectActivity();
    applyToken({token.isEmpty() ? Keychain::ReadStatus::notStored : Keychain::ReadStatus::found, utf8(token)});
    startAutoRefresh();
}

AppStore::~AppStore()
{
    // Running requests end promptly through their flags; their outcomes are then discarded with this
    // object's pending events.
    for (const auto& weak : cancels_) {
        if (auto flag = weak.lock()) {
            flag->store(true);
        }
    }
    pool_->waitForDone();
}

void AppStore::applyToken(const Keychain::ReadResult& result)
{
    tokenStatus_ = result.status;
    apiToken_ = qs(result.value);
    tokenRead_ = true;
}

bool AppStore::isTokenPending() const
{
    return readingToken_ && !tokenRead_ && !settings_.baseURL.empty() && !settings_.email.empty();
}

bool AppStore::tokenUnreadable() const
{
    return tokenStatus_ == Keychain::ReadStatus::locked || tokenStatus_ == Keychain::ReadStatus::unreachable;
}

void AppStore::retryToken()
{
    if (readingToken_) {
        return;
    }
    readToken([this] {
        startAutoRefresh();
        load(false);
    });
}

void AppStore::readToken(std::function<void()> then)
{
    readingToken_ = true;
    emit stateChanged();
    runInPool(
        *pool_, this, [] { return Keychain::read(Keychain::kTokenAccount); },
        [this, then = std::move(then), generation = tokenGeneration_](Outcome<Keychain::ReadResult>& outcome) {
            readingToken_ = false;
            // A token saved while the keyring was being asked is newer than anything the read found.
            if (generation == tokenGeneration_) {
                applyToken(outcome.value.value_or(Keychain::ReadResult{Keychain::ReadStatus::unreachable, {}}));
            }
            emit settingsChanged();
            emit stateChanged();
            then();
        });
}

std::optional<std::vector<Transition>> AppStore::transitions(const QString& issueKey) const
{
    auto found = transitionsByKey_.find(issueKey);
    if (found == transitionsByKey_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool AppStore::saveSettings(const AppSettings& values, const std::optional<QString>& token)
{
    try {
        AppSettings(values).save(settingsStore_);
    } catch (const std::exception& error) {
        setSaveError(qs(errorText(error)));
        return false;
    }
    settings_ = values;
    bool tokenSaved = true;
    if (token) {
        tokenSaved = Keychain::set(utf8(*token), Keychain::kTokenAccount);
        if (tokenSaved) {
            ++tokenGeneration_;
            applyToken(
                {token->isEmpty() ? Keychain::ReadStatus::notStored : Keychain::ReadStatus::found, utf8(*token)});
        }
    }
    setSaveError(tokenSaved ? std::nullopt
                            : std::optional<QString>(tr("The API token could not be saved to the keyring.")));
    emit settingsChanged();
    startAutoRefresh();
    return tokenSaved;
}

JiraConfig AppStore::config() const
{
    return jiraConfig(settings_, utf8(apiToken_));
}

std::shared_ptr<std::atomic<bool>> AppStore::newCancelFlag()
{
    std::erase_if(cancels_, [](const auto& weak) { return weak.expired(); });
    auto flag = std::make_shared<std::atomic<bool>>(false);
    cancels_.push_back(flag);
    return flag;
}

// ---------------------------------------------------------------------------------------------------------------
// Loading

void AppStore::load(bool silent, std::function<void()> finished)
{
    JiraConfig current = config();
    if (!current.isComplete()) {
        return;
    }
    if (!silent) {
        setIsLoading(true);
    }
    auto state = std::make_shared<LoadResult>();
    state->silent = silent;
    state->cancel = newCancelFlag();
    state->finished = std::move(finished);
    const std::atomic<bool>* cancel = state->cancel.get();
    JiraClient client = this->client(current);

    runInPool(
        *pool_, this, [client, cancel] { return client.myself(cancel); },
        [this, state](Outcome<JiraUser>& outcome) {
            state->user = outcome.value;
            arrive(state, 0, outcome.error);
        });
    const std::array<std::string, 3> queries = {JQL::backlog, JQL::inProgress, JQL::assignedDone(settings_.monthsBack)};
    for (std::size_t i = 0; i < queries.size(); ++i) {
        runInPool(
            *pool_, this, [client, cancel, jql = queries[i]] { return client.search(jql, kSearchCap, cancel); },
            [this, state, i](Outcome<std::vector<Issue>>& outcome) {
                if (outcome.value) {
                    state->sections[i] = std::move(*outcome.value);
                }
                arrive(state, i + 1, outcome.error);
            });
    }
}

// Results are awaited in the fixed order user, Backlog, In Progress, Done: the first failure met in that
// order cancels the requests still running; the load ends once all four have come back.
void AppStore::arrive(const std::shared_ptr<LoadResult>& state, std::size_t slot, std::exception_ptr error)
{
    state->arrived[slot] = true;
    state->errors[slot] = std::move(error);
    for (std::size_t i = 0; i < state->arrived.size() && state->arrived[i]; ++i) {
        if (state->errors[i]) {
            state->cancel->store(true);
            break;
        }
    }
    if (std::all_of(state->arrived.begin(), state->arrived.end(), [](bool arrived) { return arrived; })) {
        applyLoad(*state);
    }
}

void AppStore::applyLoad(LoadResult& result)
{
    auto failure = std::find_if(result.errors.begin(), result.errors.end(), [](const auto& e) { return e != nullptr; });
    bool succeeded = failure == result.errors.end();
    if (succeeded) {
        currentUser_ = std::move(result.user);
        backlog_ = std::move(result.sections[0]);
        inProgress_ = std::move(result.sections[1]);
        done_ = std::move(result.sections[2]);
        emit tasksChanged();
        if (result.silent && !errorKept_) {
            setErrorMessage(std::nullopt);
        }
    } else if (!result.silent) {
        setErrorMessage(qs(errorText(*failure)));
    }
    if (!result.silent) {
        setIsLoading(false);
    }
    emit loadFinished(result.silent, succeeded);
    if (result.finished) {
        result.finished();
    }
}

void AppStore::startAutoRefresh()
{
    ++refreshGeneration_;
    delete refreshTimer_;
    refreshTimer_ = nullptr;
    if (!config().isComplete() || settings_.refreshMinutes < 1) {
        return;
    }
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(timing_.scaled(std::chrono::minutes(settings_.refreshMinutes)));
    // The next wait starts once the silent load has finished; a newer loop makes this one stop.
    connect(refreshTimer_, &QTimer::timeout, this, [this, generation = refreshGeneration_] {
        load(true, [this, generation] {
            if (generation == refreshGeneration_ && refreshTimer_ != nullptr) {
                refreshTimer_->start();
            }
        });
    });
    refreshTimer_->start();
}

bool AppStore::isAutoRefreshing() const
{
    return refreshTimer_ != nullptr;
}

void AppStore::scheduleFollowupReload()
{
    followup(0);
}

// Waits the delay of this step, then runs a silent load and goes on with the next step once it finished.
// The timers belong to the store, so nothing runs after it is gone.
void AppStore::followup(std::size_t step)
{
    if (step >= kFollowupDelays.size()) {
        return;
    }
    QTimer::singleShot(timing_.scaled(kFollowupDelays[step]), this, [this, step] {
        if (config().isComplete()) {
            load(true, [this, step] { followup(step + 1); });
        } else { // the settings were changed meanwhile
            followup(step + 1);
        }
    });
}

std::vector<MonthGroup> AppStore::doneByMonth() const
{
    return groupByMonth(done_);
}

QString AppStore::menuBarLabel() const
{
    if (!config().isComplete()) {
        return {};
    }
    return QString::number(inProgress_.size());
}

void AppStore::setErrorMessage(std::optional<QString> message, bool kept)
{
    if (message == errorMessage_ && kept == errorKept_) {
        return;
    }
    errorMessage_ = std::move(message);
    errorKept_ = kept && errorMessage_.has_value();
    emit stateChanged();
}

void AppStore::dismissError()
{
    setErrorMessage(std::nullopt);
}

void AppStore::setIsLoading(bool value)
{
    if (value != isLoading_) {
        isLoading_ = value;
        emit stateChanged();
    }
}

void AppStore::setSaveError(std::optional<QString> message)
{
    if (message != saveError_) {
        saveError_ = std::move(message);
        emit stateChanged();
    }
}

} // namespace taskbell::app
