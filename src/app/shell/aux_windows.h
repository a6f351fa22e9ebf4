#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

#include "core/jira/models.h"

namespace taskbell::app {

// How the application presents itself: as an accessory (only the tray item and its panel, no taskbar
// entry) or as a regular application while any auxiliary window is open.
enum class ActivationMode { accessory, regular };

// Builds the content of an auxiliary window. `onClose` closes that window (it does nothing once the
// window is gone). The application fills these with the real views, tests with their own.
struct AuxContents
{
    using Factory = std::function<QWidget*(std::function<void()> onClose)>;
    Factory settings;
    Factory addTask;
    Factory about;
    std::function<QWidget*(const Issue& issue, std::function<void()> onClose)> taskDetail;

    // Contents that only name their window and offer a Close button.
    static AuxContents placeholders();
};

// An auxiliary window: an ordinary titled top-level window that reports its closing.
class AuxWindow : public QWidget
{
    Q_OBJECT

public:
    explicit AuxWindow(const QString& title);

signals:
    void closing(AuxWindow* window);

protected:
    void closeEvent(QCloseEvent* event) override;
};

// The window manager of the settings, new-task, about and task-detail windows: one window of each kind
// (one detail window per issue key), reused and brought forward instead of opened twice; detail windows
// cascade by 24 pixels; the panel closes when an auxiliary window comes forward; the activation mode is
// regular while any auxiliary window is open.
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
    AuxWindow* settingsWindow() const { return settingsWindow_; }
    AuxWindow* addTaskWindow() const { return addTaskWindow_; }
    AuxWindow* aboutWindow() const { return aboutWindow_; }
    AuxWindow* detailWindow(const QString& issueKey) const;
    std::size_t detailWindowCount() const { return detailWindows_.size(); }

    // The frame a window of this content size gets when centred in `available`, moved by the cascade
    // offset for `otherDetailWindows` open detail windows.
    static QRect placement(const QRect& available, QSize size, std::size_t otherDetailWindows = 0);

signals:
    void activationModeChanged(ActivationMode mode);

private:
    AuxWindow* makeWindow(const QString& title, QSize size, const std::function<QWidget*(std::function<void()>)>& build,
                          std::size_t cascade);
    void showKind(AuxWindow*& field, const QString& title, const AuxContents::Factory& factory);
    void activate(AuxWindow* window);
    void windowWillClose(AuxWindow* window);
    void setMode(ActivationMode mode);

    AuxContents contents_;
    AuxWindow* settingsWindow_ = nullptr;
    AuxWindow* addTaskWindow_ = nullptr;
    AuxWindow* aboutWindow_ = nullptr;
    std::map<QString, AuxWindow*> detailWindows_;
    QPointer<QWidget> menuBarPanel_;
    ActivationMode mode_ = ActivationMode::accessory;
};

} // namespace taskbell::app
