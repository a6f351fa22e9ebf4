#pragma once

#include "app/windows/form_dialog.h"

namespace taskbell::app {

// The About window: name, version and build, and the whole built-in changelog, newest first.
class AboutView : public FormDialog
{
    Q_OBJECT

public:
    explicit AboutView(QWidget* parent = nullptr);

    static QString versionLine(const QString& version, const QString& build);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeIdentity();
    QWidget* makeChangelog();

    QPushButton* done_ = nullptr;
};

} // namespace taskbell::app
