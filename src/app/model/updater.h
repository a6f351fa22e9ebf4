#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/model/timing.h"
#include "core/update/manifest.h"

class QThreadPool;
class QTimer;

namespace taskbell::app {

// What the updater takes from its surroundings; tests replace each part.
struct UpdaterEnvironment
{
    Timing timing;
    // The version offers are compared with (the running application's by default).
    std::string runningVersion;
    // Base64 Ed25519 key a downloaded bundle must be signed with (the pinned release key by default).
    std::string trustedPublicKey;
    // The installed Taskbell.app this copy runs from; nothing when it does not run from a bundle (a build
    // tree, a system-wide install), in which case it cannot update itself.
    std::optional<std::filesystem::path> installedBundle;
    // Where update folders are made (TMPDIR or /tmp by default).
    std::filesystem::path temporaryDirectory;
    // Ends the application once the install script runs (QCoreApplication::quit by default).
    std::function<void()> quit;

    // The running application's values.
    static UpdaterEnvironment standard();
};

// The updater: periodic and manual checks of the update feed, and the install of an offered version.
// Lives on the GUI thread; the network, the checksum, unpacking and signature checks run on a thread pool
// and are cancelled when the updater goes away (the application quits). Its operations never fail towards
// the caller: outcomes show in `status`, `errorMessage`, `isChecking` and `available`, each change announced
// by `changed`.
class Updater : public QObject
{
    Q_OBJECT

public:
    explicit Updater(UpdaterEnvironment environment = UpdaterEnvironment::standard(), QObject* parent = nullptr);
    ~Updater() override;

    // The newer version on offer.
    const std::optional<UpdateManifest>& available() const { return available_; }
    // True while a check or an install runs; the one busy flag for both.
    bool isChecking() const { return isChecking_; }
    const std::optional<QString>& status() const { return status_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    const std::optional<Timing::Clock::time_point>& lastCheck() const { return lastCheck_; }
    const std::optional<QString>& dismissedVersion() const { return dismissedVersion_; }
    // Whether periodic checks are armed.
    bool isArmed() const;
    // False for a build without a pinned release key: it checks the feed but refuses to install, and a
    // manual check says so.
    bool canVerifyUpdates() const { return !environment_.trustedPublicKey.empty(); }
    // The offer the panel should show: `available` unless its version was dismissed.
    bool hasVisibleOffer() const;

    // Arms (autoUpdate) or disarms the periodic checks: one 5 seconds after the call, then every 6 hours.
    void start(const QString& feedURL, bool autoUpdate);
    // Fetches the feed. Refused while a check or install runs, and for automatic checks within 60 seconds
    // of the last one. `finished` runs when the check ends or is refused.
    void check(const QString& feedURL, bool manual, std::function<void()> finished = {});
    // Postpones the current offer ("Later").
    void dismiss();
    // Downloads, verifies and installs the offer, then quits the application once the swap script runs.
    // `finished` runs when the install failed or was refused (on success the application quits).
    void install(std::function<void()> finished = {});

signals:
    // Any of the observable values above changed.
    void changed();

private:
    void setAvailable(std::optional<UpdateManifest> value);
    void setIsChecking(bool value);
    void setStatus(std::optional<QString> value);
    void setErrorMessage(std::optional<QString> value);
    void setLastCheck(Timing::Clock::time_point value);

    UpdaterEnvironment environment_;
    QThreadPool* pool_;
    // Shared with running work so that it outlives the updater; set when the updater goes away.
    std::shared_ptr<std::atomic<bool>> cancel_;
    QTimer* periodic_ = nullptr;
    QTimer* firstCheck_ = nullptr;

    std::optional<UpdateManifest> available_;
    bool isChecking_ = false;
    std::optional<QString> status_;
    std::optional<QString> errorMessage_;
    std::optional<Timing::Clock::time_point> lastCheck_;
    std::optional<QString> dismissedVersion_;
};

} // namespace taskbell::app
