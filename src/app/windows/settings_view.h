#pragma once

#include <QWidget>
#include <functional>
#include <optional>

#include "app/windows/window_keys.h"
#include "core/settings/app_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace taskbell::app {

class AppStore;
class ErrorBanner;
class McpSection;
class Updater;
namespace look {
class Spinner;
}

// The settings window's content. It edits a private copy of the settings (the form), refilled from the
// store each time it is shown; only "Done" writes them back. The connection test uses the form's
// credentials on a store of its own, the login-item switch acts at once, and "Check now" uses the feed
// address as typed.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    SettingsView(AppStore& store, Updater& updater, std::function<void()> onClose, QWidget* parent = nullptr);

    // "1 month", "3 months".
    static QString monthsSuffix(int months);
    // The auto-refresh choices: title and minutes.
    static const std::vector<std::pair<QString, int>>& refreshChoices();

    void loadCurrent();
    // The form's settings fields as one value, and back (the token and the login item are apart).
    void fill(const AppSettings& settings);
    AppSettings read() const;
    // Writes the form into the store and saves it; on success restarts the updater, closes and reloads.
    // A failed save keeps the window open with the reason above the form and everything typed in place.
    void save();
    void runTest();
    McpSection* mcpSection() const { return mcp_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeConnectionGroup(QWidget* parent);
    QWidget* makeDefaultsGroup(QWidget* parent);
    QWidget* makeTestRow(QWidget* parent);
    QWidget* makeUpdatesGroup(QWidget* parent);
    void applyLaunchAtLogin(bool enabled);
    void checkNow();
    void updateTestRow();
    void updateUpdatesGroup();
    void showSaveError(const std::optional<QString>& message);

    AppStore& store_;
    Updater& updater_;
    std::function<void()> onClose_;

    QPushButton* cancel_ = nullptr;
    QPushButton* done_ = nullptr;
    ErrorBanner* saveError_ = nullptr;
    QLineEdit* baseURL_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* apiToken_ = nullptr;
    QPushButton* tokenLink_ = nullptr;
    QLineEdit* projectKey_ = nullptr;
    QLineEdit* defaultIssueType_ = nullptr;
    QSpinBox* monthsBack_ = nullptr;
    QComboBox* refreshMinutes_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QPushButton* test_ = nullptr;
    look::Spinner* testSpinner_ = nullptr;
    QLabel* testResult_ = nullptr;
    QCheckBox* autoUpdate_ = nullptr;
    QLineEdit* feedURL_ = nullptr;
    QPushButton* checkNow_ = nullptr;
    QLabel* updateStatus_ = nullptr;
    QLabel* updateError_ = nullptr;
    McpSection* mcp_ = nullptr;
    WindowKeys keys_;

    bool testing_ = false;
    std::optional<QString> testResultText_;
};

} // namespace taskbell::app
