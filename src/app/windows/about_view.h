#pragma once

#include <QWidget>
#include <functional>

#include "app/windows/window_keys.h"

class QPushButton;

namespace taskbell::app {

// The About window's content: name, version and build, and the whole built-in changelog, newest first.
class AboutView : public QWidget
{
    Q_OBJECT

public:
    explicit AboutView(std::function<void()> onClose, QWidget* parent = nullptr);

    static QString versionLine(const QString& version, const QString& build);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeChangelog();

    std::function<void()> onClose_;
    QPushButton* done_ = nullptr;
    WindowKeys keys_;
};

} // namespace taskbell::app
