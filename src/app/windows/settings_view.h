#pragma once

#include <optional>

#include "app/windows/form_dialog.h"
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

// The settings window. It edits a private copy of the settings (the form), refilled from the store each
// time it is shown; only "Done" writes them back. The connection test uses the form's credentials, the
// login-item switch acts at once, and "Check now" uses the feed address as typed.
class SettingsView : public FormDialog
{
    Q_OBJECT

public:
    SettingsView(AppStore& store, Updater& updater, QWidget* parent = nullptr);

    // "1 month", "3 months".
    static QString monthsSuffix(int months);
    // The auto-refresh choices: title and minutes.
    static const std::vector<std::pair<QString, int>>& refreshChoices();

    void loadCurrent();
    // The form's settings fields as one value, and back (the token and the login item are apart).
    void fill(const AppSettings& settings);
    AppSettings read() const;
    // Saves the form through the store; on success restarts the updater, closes and reloads.
    // A failed save keeps the window open with the reason above the form and everything typed in place.
    void save();
    void runTest();
    McpSection* mcpSection() const { return mcp_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
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
    QCheckBox* notifyAssistantChanges_ = nullptr;
    QPushButton* test_ = nullptr;
    look::Spinner* testSpinner_ = nullptr;
    QLabel* testResult_ = nullptr;
    QCheckBox* autoUpdate_ = nullptr;
    QLineEdit* feedURL_ = nullptr;
    QPushButton* checkNow_ = nullptr;
    QLabel* updateStatus_ = nullptr;
    QLabel* updateError_ = nullptr;
    McpSection* mcp_ = nullptr;

    bool testing_ = false;
    std::optional<QString> testResultText_;
};

} // namespace taskbell::app
