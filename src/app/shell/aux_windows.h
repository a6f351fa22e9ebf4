#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <map>

#include "core/jira/models.h"

namespace taskbell::app {

// How the application presents itself: as an accessory (only the tray item and its panel, no taskbar
// entry) or as a regular application while any auxiliary window is open.
enum class ActivationMode { accessory, regular };

// Builds the dialog of an auxiliary window; the application fills these with the real windows, tests with
// their own.
struct AuxContents
{
    using Factory = std::function<QDialog*()>;
    Factory settings;
    Factory addTask;
    Factory about;
    std::function<QDialog*(const Issue& issue)> taskDetail;

    // Dialogs that only offer a Close button.
    static AuxContents placeholders();
};

// The window manager of the settings, new-task, about and task-detail windows: one window of each kind
// (one detail window per issue key), reused and brought forward instead of opened twice; detail windows
// cascade by 24 pixels; the panel closes when an auxiliary window comes forward; the activation mode is
// regular while any auxiliary window is open. A window is deleted once it is closed (by its buttons, its
// keys or the window manager); the next request builds it afresh.
class AuxWindows : public QObject
{
    Q_OBJECT

public:
    static constexpr int kCascadeStep = 24;
    static constexpr int kCascadeCycle = 6;

    explicit AuxWindows(AuxContents contents, QObject* parent = nullptr);
    ~AuxWindows() override;

    void showSettings();
    void showAddTask();
    void showAbout();
    // The issue is used only when the window for its key is not open yet.
    void showTaskDetail(const Issue& issue);

    // The panel window, closed when an auxiliary window comes forward.
    void setMenuBarPanel(QWidget* panel);

    ActivationMode activationMode() const { return mode_; }
    QDialog* settingsWindow() const { return settingsWindow_; }
    QDialog* addTaskWindow() const { return addTaskWindow_; }
    QDialog* aboutWindow() const { return aboutWindow_; }
    QDialog* detailWindow(const QString& issueKey) const;
    std::size_t detailWindowCount() const { return detailWindows_.size(); }

    // The frame a window of this content size gets when centred in `available`, moved by the cascade
    // offset for `otherDetailWindows` open detail windows.
    static QRect placement(const QRect& available, QSize size, std::size_t otherDetailWindows = 0);

signals:
    void activationModeChanged(ActivationMode mode);

private:
    void showForm(QPointer<QDialog>& field, const QString& title, const AuxContents::Factory& factory);
    void prepare(QDialog* window, const QString& title, QSize size, std::size_t cascade);
    void activate(QDialog* window);
    void windowClosed(QDialog* window);
    bool anyOpen() const;
    void setMode(ActivationMode mode);

    AuxContents contents_;
    QPointer<QDialog> settingsWindow_;
    QPointer<QDialog> addTaskWindow_;
    QPointer<QDialog> aboutWindow_;
    std::map<QString, QPointer<QDialog>> detailWindows_;
    QPointer<QWidget> menuBarPanel_;
    ActivationMode mode_ = ActivationMode::accessory;
};

} // namespace taskbell::app
