#include "app/shell/aux_windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace taskbell::app {

namespace {

constexpr QSize kFormSize{400, 560};
constexpr QSize kDetailSize{520, 560};

QWidget* placeholder(const QString& text, std::function<void()> onClose)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    auto* close = new QPushButton(QObject::tr("Close"));
    QObject::connect(close, &QPushButton::clicked, content, [onClose] { onClose(); });
    layout->addWidget(label, 1);
    layout->addWidget(close, 0, Qt::AlignRight);
    return content;
}

QRect availableArea()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
}

} // namespace

AuxContents AuxContents::placeholders()
{
    AuxContents contents;
    contents.settings = [](auto onClose) { return placeholder(QObject::tr("Taskbell Settings"), onClose); };
    contents.addTask = [](auto onClose) { return placeholder(QObject::tr("New Jira Task"), onClose); };
    contents.about = [](auto onClose) { return placeholder(QObject::tr("About Taskbell"), onClose); };
    contents.taskDetail = [](const Issue& issue, auto onClose) {
        return placeholder(QString::fromStdString(issue.key), onClose);
    };
    return contents;
}

AuxWindow::AuxWindow(const QString& title) : QWidget(nullptr, Qt::Window)
{
    setWindowTitle(title);
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void AuxWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        emit closing(this);
    }
}

AuxWindows::AuxWindows(AuxContents contents, QObject* parent) : QObject(parent), contents_(std::move(contents)) {}

AuxWindows::~AuxWindows()
{
    for (AuxWindow* window : {settingsWindow_, addTaskWindow_, aboutWindow_}) {
        delete window;
    }
    for (auto& [key, window] : detailWindows_) {
        delete window;
    }
}

void AuxWindows::showSettings()
{
    showKind(settingsWindow_, tr("Taskbell Settings"), contents_.settings);
}

void AuxWindows::showAddTask()
{
    showKind(addTaskWindow_, tr("New Jira Task"), contents_.addTask);
}

void AuxWindows::showAbout()
{
    showKind(aboutWindow_, tr("About Taskbell"), contents_.about);
}

void AuxWindows::showTaskDetail(const Issue& issue)
{
    QString key = QString::fromStdString(issue.key);
    if (AuxWindow* open = detailWindow(key)) {
        activate(open);
        return;
    }
    auto build = [this, issue](std::function<void()> onClose) { return contents_.taskDetail(issue, onClose); };
    AuxWindow* window = makeWindow(key, kDetailSize, build, detailWindows_.size());
    detailWindows_[key] = window;
    activate(window);
}

void AuxWindows::setMenuBarPanel(QWidget* panel)
{
    menuBarPanel_ = panel;
}

AuxWindow* AuxWindows::detailWindow(const QString& issueKey) const
{
    auto found = detailWindows_.find(issueKey);
    return found == detailWindows_.end() ? nullptr : found->second;
}

QRect AuxWindows::placement(const QRect& available, QSize size, std::size_t otherDetailWindows)
{
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(available.center());
    int offset = static_cast<int>(otherDetailWindows % kCascadeCycle) * kCascadeStep;
    return frame.translated(offset, offset);
}

void AuxWindows::showKind(AuxWindow*& field, const QString& title, const AuxContents::Factory& factory)
{
    if (field == nullptr) {
        field = makeWindow(title, kFormSize, factory, 0);
        // Forms keep their size: stretched or maximized they would only add empty space.
        field->setFixedSize(field->size());
    }
    activate(field);
}

AuxWindow* AuxWindows::makeWindow(const QString& title, QSize size,
                                  const std::function<QWidget*(std::function<void()>)>& build, std::size_t cascade)
{
    auto* window = new AuxWindow(title);
    QPointer<AuxWindow> weak(window);
    QWidget* content = build([weak] {
        if (weak) {
            weak->close();
        }
    });
    window->layout()->addWidget(content);
    // A content that fixes its own size decides the window's size.
    if (content->minimumSize() == content->maximumSize() && !content->minimumSize().isEmpty()) {
        size = content->minimumSize();
    }
    window->setGeometry(placement(availableArea(), size, cascade));
    connect(window, &AuxWindow::closing, this, &AuxWindows::windowWillClose);
    return window;
}

void AuxWindows::activate(AuxWindow* window)
{
    if (menuBarPanel_ && menuBarPanel_->isVisible()) {
        menuBarPanel_->hide();
    }
    setMode(ActivationMode::regular);
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void AuxWindows::windowWillClose(AuxWindow* window)
{
    for (AuxWindow** field : {&settingsWindow_, &addTaskWindow_, &aboutWindow_}) {
        if (*field == window) {
            *field = nullptr;
        }
    }
    std::erase_if(detailWindows_, [window](const auto& entry) { return entry.second == window; });
    // A closed window is not reused: the next request builds a fresh one.
    window->deleteLater();
    if (settingsWindow_ == nullptr && addTaskWindow_ == nullptr && aboutWindow_ == nullptr && detailWindows_.empty()) {
        setMode(ActivationMode::accessory);
    }
}

void AuxWindows::setMode(ActivationMode mode)
{
    if (mode != mode_) {
        mode_ = mode;
        emit activationModeChanged(mode_);
    }
}

} // namespace taskbell::app
