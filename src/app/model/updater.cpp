#include "app/model/updater.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include "app/model/background.h"
#include "app/model/text.h"
#include "core/base/app_info.h"
#include "core/base/bundle.h"
#include "core/base/cancel.h"
#include "core/jira/error_text.h"
#include "core/platform/executable.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/staging.h"

namespace taskbell::app {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstCheckDelay = 5s;
constexpr std::chrono::milliseconds kCheckPeriod = 6h;
// Automatic checks closer together than this to the last one are skipped.
constexpr std::chrono::seconds kAutomaticCheckGuard{60};

const char* const kNotInBundle = QT_TRANSLATE_NOOP(
    "taskbell::app::Updater",
    "This copy of Taskbell can’t update itself — it doesn’t run from an installed Taskbell.app bundle.");

// A build without a pinned release key can check the feed but can never verify a download.
const char* const kCannotVerify = QT_TRANSLATE_NOOP(
    "taskbell::app::Updater",
    "This copy of Taskbell can’t verify updates — it was built without a release key, so it installs none.");

// Every call into the update engine an install makes, in order, on a pool thread: download, verify
// (checksum, unpack, signature, version), swap. `stage` announces "Verifying…" and "Installing…" before
// those steps start. The update folder is removed in every case: on failure (cancellation included)
// before the error is thrown, and after a successful swap too, since the verified bundle is by then
// staged beside the installed one, where the script takes it from.
void runInstall(const UpdateManifest& offer, const UpdaterEnvironment& environment, const std::atomic<bool>* cancel,
                const std::function<void(QString)>& stage)
{
    auto archive = update::download(offer, environment.temporaryDirectory, cancel);
    try {
        throwIfCancelled(cancel);
        stage(Updater::tr("Verifying…"));
        auto bundle =
            update::verifyDownload(archive, offer, environment.runningVersion, environment.trustedPublicKey, cancel);
        throwIfCancelled(cancel);
        stage(Updater::tr("Installing…"));
        update::swapAndRelaunch(bundle, *environment.installedBundle);
    } catch (...) {
        update::removeUpdateFolder(archive);
        throw;
    }
    update::removeUpdateFolder(archive);
}
} // namespace

UpdaterEnvironment UpdaterEnvironment::standard()
{
    UpdaterEnvironment environment;
    environment.runningVersion = platform::runningVersion();
    environment.trustedPublicKey = update::releasePublicKey();
    environment.installedBundle = platform::runningBundle();
    environment.temporaryDirectory = update::userTemporaryDirectory();
    environment.quit = [] { QCoreApplication::quit(); };
    return environment;
}

Updater::Updater(UpdaterEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), pool_(new QThreadPool(this)),
      cancel_(std::make_shared<std::atomic<bool>>(false))
{
    pool_->setMaxThreadCount(2);
    if (environment_.installedBundle) {
        update::removeStaging(*environment_.installedBundle);
    }
    if (QCoreApplication::instance() != nullptr) {
        // Hashing and unpacking a large update must not hold up the exit.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { cancel_->store(true); });
    }
}

Updater::~Updater()
{
    cancel_->store(true);
    pool_->waitForDone();
}

bool Updater::isArmed() const
{
    return periodic_ != nullptr;
}

bool Updater::hasVisibleOffer() const
{
    return available_ && (!dismissedVersion_ || *dismissedVersion_ != qs(available_->version));
}

void Updater::start(const QString& feedURL, bool autoUpdate)
{
    // Unlike the periodic timer, a pending first check is also dropped, so turning automatic updates off
    // really stops every automatic check.
    delete periodic_;
    periodic_ = nullptr;
    delete firstCheck_;
    firstCheck_ = nullptr;
    if (!autoUpdate) {
        return;
    }
    firstCheck_ = new QTimer(this);
    firstCheck_->setSingleShot(true);
    connect(firstCheck_, &QTimer::timeout, this, [this, feedURL] { check(feedURL, false); });
    firstCheck_->start(environment_.timing.scaled(kFirstCheckDelay));

    periodic_ = new QTimer(this);
    connect(periodic_, &QTimer::timeout, this, [this, feedURL] { check(feedURL, false); });
    periodic_->start(environment_.timing.scaled(kCheckPeriod));
}

void Updater::check(const QString& feedURL, bool manual, std::function<void()> finished)
{
    auto now = environment_.timing.now();
    if (isChecking_ || (!manual && lastCheck_ && now - *lastCheck_ < kAutomaticCheckGuard)) {
        if (finished) {
            finished();
        }
        return;
    }
    setIsChecking(true);
    setErrorMessage(std::nullopt);
    if (manual) {
        setStatus(tr("Checking…"));
    }
    runInPool(
        *pool_, this,
        [url = feedURL.toStdString(), cancel = cancel_] { return update::fetchManifest(url, cancel.get()); },
        [this, manual, finished](Outcome<UpdateManifest>& outcome) {
            setLastCheck(environment_.timing.now());
            if (outcome.value) {
                if (update::checkOutcome(*outcome.value, environment_.runningVersion) == update::CheckOutcome::offer) {
                    setAvailable(*outcome.value);
                    setStatus(std::nullopt);
                } else {
                    setAvailable(std::nullopt);
                    setStatus(manual
                                  ? std::optional<QString>(
                                        tr("You're on the latest version (v%1).").arg(qs(environment_.runningVersion)))
                                  : std::nullopt);
                }
            } else {
                setStatus(std::nullopt);
                if (manual) {
                    setErrorMessage(qs(errorText(outcome.error)));
                }
            }
            if (manual && outcome.value && !canVerifyUpdates()) {
                setErrorMessage(tr(kCannotVerify));
            }
            setIsChecking(false);
            if (finished) {
                finished();
            }
        });
}

void Updater::dismiss()
{
    std::optional<QString> version;
    if (available_) {
        version = qs(available_->version);
    }
    if (dismissedVersion_ != version) {
        dismissedVersion_ = version;
        emit changed();
    }
}

void Updater::install(std::function<void()> finished)
{
    if (!available_ || isChecking_) {
        if (finished) {
            finished();
        }
        return;
    }
    if (!environment_.installedBundle || !canVerifyUpdates()) {
        setStatus(std::nullopt);
        setErrorMessage(tr(environment_.installedBundle ? kCannotVerify : kNotInBundle));
        if (finished) {
            finished();
        }
        return;
    }
    UpdateManifest offer = *available_;
    setErrorMessage(std::nullopt);
    setIsChecking(true);
    setStatus(tr("Downloading v%1…").arg(qs(offer.version)));
    // Stage texts are queued to this object ahead of the outcome, so they show in the order they happen.
    auto stage = [this](QString text) {
        QMetaObject::invokeMethod(
            this, [this, text] { setStatus(text); }, Qt::QueuedConnection);
    };
    runInPool(
        *pool_, this,
        [offer, environment = environment_, cancel = cancel_, stage] {
            runInstall(offer, environment, cancel.get(), stage);
        },
        [this, finished](Outcome<std::monostate>& outcome) {
            if (outcome.value) {
                // The script waits for this process to end before it swaps the bundles.
                if (environment_.quit) {
                    environment_.quit();
                }
                return;
            }
            setStatus(std::nullopt);
            setErrorMessage(qs(errorText(outcome.error)));
            setIsChecking(false);
            if (finished) {
                finished();
            }
        });
}

void Updater::setAvailable(std::optional<UpdateManifest> value)
{
    if (available_ != value) {
        available_ = std::move(value);
        emit changed();
    }
}

void Updater::setIsChecking(bool value)
{
    if (isChecking_ != value) {
        isChecking_ = value;
        emit changed();
    }
}

void Updater::setStatus(std::optional<QString> value)
{
    if (status_ != value) {
        status_ = std::move(value);
        emit changed();
    }
}

void Updater::setErrorMessage(std::optional<QString> value)
{
    if (errorMessage_ != value) {
        errorMessage_ = std::move(value);
        emit changed();
    }
}

void Updater::setLastCheck(Timing::Clock::time_point value)
{
    lastCheck_ = value;
    emit changed();
}

} // namespace taskbell::app
