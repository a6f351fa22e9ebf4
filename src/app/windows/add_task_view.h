#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "app/windows/window_keys.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace taskbell::app {

class AppStore;
class ErrorBanner;
class SegmentedPicker;
namespace look {
class Spinner;
}

// The "New Jira Task" window's content: a form for one task that hands its values to the store's create
// action, shows a spinner on its button meanwhile, closes on success and shows the store's message on
// failure, keeping everything typed.
class AddTaskView : public QWidget
{
    Q_OBJECT

public:
    AddTaskView(AppStore& store, std::function<void()> onClose, QWidget* parent = nullptr);

    // A project key and a summary with more than blanks, and no create request running.
    bool canSubmit() const;
    bool isSubmitting() const { return submitting_; }
    const std::optional<QString>& error() const { return error_; }

    void submit();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeForm();
    QWidget* makeFooter();
    void updateState();
    void finish(const std::optional<QString>& createdKey);

    AppStore& store_;
    std::function<void()> onClose_;
    QLineEdit* projectKey_ = nullptr;
    QLineEdit* summary_ = nullptr;
    QPlainTextEdit* description_ = nullptr;
    QLineEdit* issueType_ = nullptr;
    SegmentedPicker* target_ = nullptr;
    QCheckBox* assignToMe_ = nullptr;
    ErrorBanner* errorBanner_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* create_ = nullptr;
    look::Spinner* spinner_ = nullptr;
    WindowKeys keys_;
    bool submitting_ = false;
    bool shownBefore_ = false;
    std::optional<QString> error_;
};

} // namespace taskbell::app
