#include "app/model/updater.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include "app/model/background.h"
#include "core/base/app_info.h"
#include "core/base/bundle.h"
#include "core/base/cancel.h"
#include "core/jira/error_text.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"

namespace taskbell::app {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstCheckDelay = 5s;
constexpr std::chrono::milliseconds kCheckPeriod = 6h;
// Automatic checks closer together than this to the last one are skipped.
constexpr std::chrono::seconds kAutomaticCheckGuard{60};

const QString kNotInBundle =
    QStringLiteral("This copy of Taskbell can’t update itself — it doesn’t run from an installed Taskbell.app bundle.");

QString qtext(const std::string& value)
{
    return QString::fromStdString(value);
}

// Every call into the update engine an install makes, in one place. Each runs on the pool; a failure
// after the download removes the update folder before it is reported.
namespace steps {

std::filesystem::path download(const UpdateManifest& offer, const std::filesystem::path& temporaryDirectory,
                               const std::atomic<bool>* cancel)
{
    auto archive = update::download(offer, temporaryDirectory, cancel);
    // Nobody may be left to take the archive over once the updater is going away.
    if (cancel->load()) {
        update::removeUpdateFolder(archive);
        throw Cancelled();
    }
    return archive;
}

std::filesystem::path verify(const std::filesystem::path& archive, const UpdateManifest& offer,
                             const std::string& runningVersion, const std::string& trustedKey,
                             const std::atomic<bool>* cancel)
{
    try {
        return update::verifyDownload(archive, offer, runningVersion, trustedKey, cancel);
    } catch (...) {
        update::removeUpdateFolder(archive);
        throw;
    }
}

void swap(const std::filesystem::path& archive, const std::filesystem::path& newBundle,
          const std::filesystem::path& installedBundle)
{
    try {
        update::swapAndRelaunch(newBundle, installedBundle);
    } catch (...) {
        update::removeUpdateFolder(archive);
        throw;
    }
}

} // namespace steps
} // namespace

UpdaterEnvironment UpdaterEnvironment::standard()
{
    UpdaterEnvironment environment;
    environment.runningVersion = AppInfo::version();
    environment.trustedPublicKey = update::releasePublicKey();
    environment.installedBundle = bundle::runningBundle();
    environment.temporaryDirectory = update::userTemporaryDirectory();
    environment.quit = [] { QCoreApplication::quit(); };
    return environment;
}

Updater::Updater(UpdaterEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), pool_(new QThreadPool(this)),
      cancel_(std::make_shared<std::atomic<bool>>(false))
{
    pool_->setMaxThreadCount(2);
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
    return available_ && (!dismissedVersion_ || *dismissedVersion_ != qtext(available_->version));
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
        setStatus(QStringLiteral("Checking…"));
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
                    setStatus(manual ? std::optional<QString>("You're on the latest version (v" +
                                                              qtext(environment_.runningVersion) + ").")
                                     : std::nullopt);
                }
            } else {
                setStatus(std::nullopt);
                if (manual) {
                    setErrorMessage(qtext(errorText(outcome.error)));
                }
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
        version = qtext(available_->version);
    }
    if (dismissedVersion_ != version) {
        dismissedVersion_ = version;
        emit dismissedVersionChanged();
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
    if (!environment_.installedBundle) {
        setStatus(std::nullopt);
        setErrorMessage(kNotInBundle);
        if (finished) {
            finished();
        }
        return;
    }
    UpdateManifest offer = *available_;
    setErrorMessage(std::nullopt);
    setIsChecking(true);
    setStatus("Downloading v" + qtext(offer.version) + "…");
    auto fail = [this, finished](const std::exception_ptr& error) {
        setStatus(std::nullopt);
        setErrorMessage(qtext(errorText(error)));
        setIsChecking(false);
        if (finished) {
            finished();
        }
    };
    runInPool(
        *pool_, this,
        [offer, folder = environment_.temporaryDirectory, cancel = cancel_] {
            return steps::download(offer, folder, cancel.get());
        },
        [this, offer, fail](Outcome<std::filesystem::path>& downloaded) {
            if (!downloaded.value) {
                fail(downloaded.error);
                return;
            }
            setStatus(QStringLiteral("Verifying…"));
            verifyAndSwap(offer, *downloaded.value, fail);
        });
}

void Updater::verifyAndSwap(const UpdateManifest& offer, const std::filesystem::path& archive,
                            const std::function<void(const std::exception_ptr&)>& fail)
{
    runInPool(
        *pool_, this,
        [offer, archive, running = environment_.runningVersion, key = environment_.trustedPublicKey, cancel = cancel_] {
            return steps::verify(archive, offer, running, key, cancel.get());
        },
        [this, archive, fail](Outcome<std::filesystem::path>& verified) {
            if (!verified.value) {
                fail(verified.error);
                return;
            }
            setStatus(QStringLiteral("Installing…"));
            runInPool(
                *pool_, this,
                [archive, bundle = *verified.value, installed = *environment_.installedBundle] {
                    steps::swap(archive, bundle, installed);
                },
                [this, fail](Outcome<std::monostate>& swapped) {
                    if (!swapped.value) {
                        fail(swapped.error);
                        return;
                    }
                    // The script waits for this process to end before it swaps the bundles.
                    if (environment_.quit) {
                        environment_.quit();
                    }
                });
        });
}

void Updater::setAvailable(std::optional<UpdateManifest> value)
{
    if (available_ != value) {
        available_ = std::move(value);
        emit availableChanged();
    }
}

void Updater::setIsChecking(bool value)
{
    if (isChecking_ != value) {
        isChecking_ = value;
        emit isCheckingChanged();
    }
}

void Updater::setStatus(std::optional<QString> value)
{
    if (status_ != value) {
        status_ = std::move(value);
        emit statusChanged();
    }
}

void Updater::setErrorMessage(std::optional<QString> value)
{
    if (errorMessage_ != value) {
        errorMessage_ = std::move(value);
        emit errorMessageChanged();
    }
}

void Updater::setLastCheck(Timing::Clock::time_point value)
{
    lastCheck_ = value;
    emit lastCheckChanged();
}

} // namespace taskbell::app
