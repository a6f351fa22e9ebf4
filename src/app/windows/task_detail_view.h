#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "app/look/window_sizes.h"
#include "app/windows/form_dialog.h"
#include "core/jira/models.h"

class QGridLayout;
class QLabel;
class QPushButton;

namespace taskbell::app {

class AppStore;
class IssueActions;
class StatusMenu;
namespace look {
class Spinner;
}

// A task detail window: one issue in full for reading, live from the store. Whenever the
// store holds a copy of the issue (after a reload or a status change) that copy is shown; when the issue
// has left every section, the issue the window was opened with stays on screen.
class TaskDetailView : public FormDialog
{
    Q_OBJECT

public:
    using Clock = std::chrono::system_clock;

    TaskDetailView(AppStore& store, Issue issue, QWidget* parent = nullptr);

    // The store's copy of the issue when it has one, otherwise the issue the window was opened with.
    Issue current() const;
    // The details list as (label, value) pairs, in display order.
    static std::vector<std::pair<QString, QString>> detailRows(const Issue& issue, Clock::time_point now);
    // "08 July 2026 · yesterday".
    static QString dateText(Clock::time_point date, Clock::time_point now);

    // Tests fix "now" for the relative dates.
    void setClock(std::function<Clock::time_point()> now);
    QSize sizeHint() const override { return windowSize::detail; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeBody();
    QWidget* makeFooter();
    void refresh();
    void fillDetails(const Issue& issue);

    AppStore& store_;
    Issue initial_;
    std::function<Clock::time_point()> now_;
    IssueActions* actions_;

    QLabel* key_ = nullptr;
    QLabel* type_ = nullptr;
    QLabel* priority_ = nullptr;
    look::Spinner* busy_ = nullptr;
    StatusMenu* statusMenu_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* description_ = nullptr;
    QWidget* detailsBox_ = nullptr;
    QGridLayout* details_ = nullptr;
    QPushButton* copySummary_ = nullptr;
    QPushButton* copyDescription_ = nullptr;
    QPushButton* openInBrowser_ = nullptr;
    QPushButton* close_ = nullptr;
};

} // namespace taskbell::app
