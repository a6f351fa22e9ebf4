#pragma once

#include <QPointer>
#include <QToolButton>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/jira/models.h"

class QLabel;

namespace taskbell::app {

class AppStore;
class IssueActions;
class StatusMenu;
namespace look {
class Spinner;
} // namespace look

// What a row needs from its surroundings.
struct RowContext
{
    AppStore* store = nullptr;
    std::function<std::chrono::system_clock::time_point()> now = [] { return std::chrono::system_clock::now(); };
    std::chrono::milliseconds copiedFlash{1200};
};

// The texts of a row, composed once so that the row and its tests agree.
struct RowTexts
{
    QString key;
    QString summary;  // the summary, or "(no summary)"
    QString priority; // empty when the issue has no named priority
    QString description;
    QString helpText; // "Click to copy “KEY: summary”"
    QString dateLine; // empty when no date parses
    bool dateIsDone = false;

    static RowTexts of(const Issue& issue, std::chrono::system_clock::time_point now);
};

// The clickable information block of a row: clicking it (or pressing it through assistive technology,
// or Space/Return with the keyboard) copies the issue.
class CopyArea : public QWidget
{
    Q_OBJECT

public:
    explicit CopyArea(QWidget* parent = nullptr);

signals:
    void activated();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Only the keyboard focus is drawn; the row paints the background.
    void paintEvent(QPaintEvent* event) override;
};

// One issue in the panel: key, priority, summary, description preview and date line, copy by clicking,
// the details button, the status menu and the mark-done button; only a progress indicator while the
// store changes the issue's status. The buttons trigger the row's IssueActions. A row can be bound to
// any other issue, so a list may keep a few rows and re-bind them as it scrolls.
class TaskRow : public QWidget
{
    Q_OBJECT

public:
    TaskRow(const Issue& issue, const RowContext& context, QWidget* parent = nullptr);

    // Shows this issue (another state of the same one, or any other) in this row: texts, status menu and
    // actions follow, the busy mark is taken from the store and a "Copied" flash ends.
    void setIssue(const Issue& issue);
    const Issue& issue() const { return issue_; }
    IssueActions* actions() const { return actions_; }
    void setBusy(bool busy);
    bool isBusy() const { return busy_; }
    // Fetches the status menu's transitions unless they are cached or already on their way.
    void ensureTransitions();
    // The height this row takes for `issue` at `width`, from the texts' fonts and the controls' size alone,
    // so a list can place rows it has not built.
    int heightFor(const Issue& issue, int width) const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    // The widgets keyboard focus stops at, in order.
    std::vector<QWidget*> focusStops() const;
    // Copies the issue and flashes "Copied".
    void copy();
    bool isCopiedShown() const;

signals:
    void taskDetailRequested(const Issue& issue);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Where the parts of a row for an issue go at a width, and the height they take.
    struct Placement
    {
        QSize controls;
        int textWidth = 0;
        int keyLine = 0;
        int summary = 0;
        int description = 0; // 0: no description line
        int dateLine = 0;    // 0: no date line
        int info = 0;        // the information block's height
        int height = 0;
    };

    Placement placementFor(const Issue& issue, int width) const;
    QSize controlsSizeFor(const Issue& issue) const;
    void arrange();
    void showTexts();
    void flashCopied();

    Issue issue_;
    RowContext context_;
    bool busy_ = false;
    bool transitionsRequested_ = false;
    std::optional<bool> dateIsDone_; // the kind of date line the symbol and colour were set for
    QLabel* key_;
    QLabel* priority_;
    QWidget* copied_ = nullptr;
    QLabel* summary_;
    QLabel* description_;
    QLabel* dateSymbol_;
    QLabel* dateText_;
    IssueActions* actions_;
    QWidget* controls_;
    QToolButton* details_;
    QToolButton* markDone_;
    StatusMenu* statusMenu_;
    QWidget* busyBox_ = nullptr;
    CopyArea* copyArea_;
};

// Makes and paints, off screen and then drops, a row for the first issue of each section, and labels the
// Done months: the fonts, text shaping, symbols and date formats the panel's first frame needs are then ready
// before the panel is first opened. Some tens of milliseconds, once.
void prepareRowResources(AppStore& store);

} // namespace taskbell::app
