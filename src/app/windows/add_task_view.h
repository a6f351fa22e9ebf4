#pragma once

#include <optional>

#include "app/windows/form_dialog.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace taskbell::app {

class AppStore;
class ErrorBanner;
class SegmentedControl;
namespace look {
class Spinner;
}

// The "New Jira Task" window: a form for one task that hands its values to the store's create
// action, shows a spinner on its button meanwhile, closes on success and shows the store's message on
// failure, keeping everything typed.
class AddTaskView : public FormDialog
{
    Q_OBJECT

public:
    explicit AddTaskView(AppStore& store, QWidget* parent = nullptr);

    // A project key and a summary with more than blanks, and no create request running.
    bool canSubmit() const;
    bool isSubmitting() const { return submitting_; }
    const std::optional<QString>& error() const { return error_; }

    void submit();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeForm();
    QWidget* makeFooter();
    void updateState();
    void finish(const std::optional<QString>& createdKey);

    AppStore& store_;
    QLineEdit* projectKey_ = nullptr;
    QLineEdit* summary_ = nullptr;
    QPlainTextEdit* description_ = nullptr;
    QLineEdit* issueType_ = nullptr;
    SegmentedControl* target_ = nullptr;
    QCheckBox* assignToMe_ = nullptr;
    ErrorBanner* errorBanner_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* create_ = nullptr;
    look::Spinner* spinner_ = nullptr;
    bool submitting_ = false;
    bool shownBefore_ = false;
    std::optional<QString> error_;
};

} // namespace taskbell::app
