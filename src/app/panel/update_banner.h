#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QToolButton;

namespace taskbell::app {

class Updater;

// The offer of a newer version: "Version X is available", the updater's progress or error, and the
// "What's new" (a request for the About window), "Later" and "Update & Relaunch" buttons.
class UpdateBanner : public QFrame
{
    Q_OBJECT

public:
    explicit UpdateBanner(Updater& updater, QWidget* parent = nullptr);

    // Follows the updater; the banner itself decides nothing about its visibility.
    void refresh();

    QLabel* title() const { return title_; }
    QLabel* detail() const { return detail_; }
    QPushButton* installButton() const { return install_; }

signals:
    void aboutRequested();

private:
    Updater& updater_;
    QLabel* title_;
    QLabel* detail_;
    QPushButton* install_;
};

} // namespace taskbell::app
