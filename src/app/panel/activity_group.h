#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "core/activity/entry.h"
#include "core/jira/models.h"

class QLabel;
class QTimer;
class QVBoxLayout;

namespace taskbell::app {

class AppStore;

// "Changed by your assistant": the newest entries of the last 24 hours (at most kShown, then "N more"),
// each its text (which opens the issue's detail window), its age, and "Undo", "Open" for a creation, or
// "Undone". "Clear" hides the entries shown. Hidden while there is nothing to show.
class ActivityGroup : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::size_t kShown = 5;

    ActivityGroup(AppStore& store, QWidget* parent = nullptr);

    // Brings the group in line with the store's activity and busy marks (rebuilt only when they changed).
    void refresh();

signals:
    // The text of an entry was clicked.
    void taskDetailRequested(const Issue& issue);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeRow(const Activity::Entry& entry, const QString& age);
    QWidget* makeAction(const Activity::Entry& entry);
    Issue issueOf(const Activity::Entry& entry) const;

    AppStore& store_;
    QVBoxLayout* rows_;
    QLabel* more_;
    QTimer* ticker_; // moves the ages on while the group is on screen
    std::vector<QWidget*> rowWidgets_;
    QStringList shownState_; // what the rows show, to skip rebuilding the same rows
};

} // namespace taskbell::app
