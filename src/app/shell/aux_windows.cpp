#include "app/shell/aux_windows.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "app/look/window_sizes.h"

namespace taskbell::app {

namespace {

QDialog* placeholder(const QString& text)
{
    auto* dialog = new QDialog;
    auto* layout = new QVBoxLayout(dialog);
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(label, 1);
    layout->addWidget(buttons);
    return dialog;
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
    contents.settings = [] { return placeholder(QObject::tr("Taskbell Settings")); };
    contents.addTask = [] { return placeholder(QObject::tr("New Jira Task")); };
    contents.about = [] { return placeholder(QObject::tr("About Taskbell")); };
    contents.taskDetail = [](const Issue& issue) { return placeholder(QString::fromStdString(issue.key)); };
    return contents;
}

AuxWindows::AuxWindows(AuxContents contents, QObject* parent) : QObject(parent), contents_(std::move(contents)) {}

AuxWindows::~AuxWindows()
{
    for (QDialog* window : {settingsWindow_.data(), addTaskWindow_.data(), aboutWindow_.data()}) {
        delete window;
    }
    for (auto& [key, window] : detailWindows_) {
        delete window.data();
    }
}

void AuxWindows::showSettings()
{
    showForm(settingsWindow_, tr("Taskbell Settings"), contents_.settings);
}

void AuxWindows::showAddTask()
{
    showForm(addTaskWindow_, tr("New Jira Task"), contents_.addTask);
}

void AuxWindows::showAbout()
{
    showForm(aboutWindow_, tr("About Taskbell"), contents_.about);
}

void AuxWindows::showTaskDetail(const Issue& issue)
{
    QString key = QString::fromStdString(issue.key);
    if (QDialog* open = detailWindow(key)) {
        activate(open);
        return;
    }
    QDialog* window = contents_.taskDetail(issue);
    prepare(window, key, windowSize::detail, detailWindows_.size());
    detailWindows_[key] = window;
    activate(window);
}

void AuxWindows::setMenuBarPanel(QWidget* panel)
{
    menuBarPanel_ = panel;
}

QDialog* AuxWindows::detailWindow(const QString& issueKey) const
{
    auto found = detailWindows_.find(issueKey);
    return found == detailWindows_.end() ? nullptr : found->second.data();
}

QRect AuxWindows::placement(const QRect& available, QSize size, std::size_t otherDetailWindows)
{
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(available.center());
    int offset = static_cast<int>(otherDetailWindows % kCascadeCycle) * kCascadeStep;
    return frame.translated(offset, offset);
}

void AuxWindows::showForm(QPointer<QDialog>& field, const QString& title, const AuxContents::Factory& factory)
{
    if (field == nullptr) {
        field = factory();
        prepare(field, title, windowSize::form, 0);
        // Forms keep their size: stretched or maximized they would only add empty space.
        field->setFixedSize(field->size());
    }
    activate(field);
}

void AuxWindows::prepare(QDialog* window, const QString& title, QSize size, std::size_t cascade)
{
    // An ordinary top-level window (with a taskbar entry), not a dialog attached to another window.
    window->setWindowFlags(Qt::Window);
    window->setWindowTitle(title);
    window->setAccessibleName(title);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A dialog that fixes its own size decides the window's size.
    if (window->minimumSize() == window->maximumSize() && !window->minimumSize().isEmpty()) {
        size = window->minimumSize();
    }
    window->setGeometry(placement(availableArea(), size, cascade));
    connect(window, &QDialog::finished, this, [this, window] { windowClosed(window); });
}

void AuxWindows::activate(QDialog* window)
{
    if (menuBarPanel_ && menuBarPanel_->isVisible()) {
        menuBarPanel_->hide();
    }
    setMode(ActivationMode::regular);
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void AuxWindows::windowClosed(QDialog* window)
{
    for (QPointer<QDialog>* field : {&settingsWindow_, &addTaskWindow_, &aboutWindow_}) {
        if (*field == window) {
            *field = nullptr;
        }
    }
    std::erase_if(detailWindows_, [window](const auto& entry) { return entry.second == window; });
    if (!anyOpen()) {
        setMode(ActivationMode::accessory);
    }
}

bool AuxWindows::anyOpen() const
{
    return settingsWindow_ != nullptr || addTaskWindow_ != nullptr || aboutWindow_ != nullptr ||
           !detailWindows_.empty();
}

void AuxWindows::setMode(ActivationMode mode)
{
    if (mode != mode_) {
        mode_ = mode;
        emit activationModeChanged(mode_);
    }
}

} // namespace taskbell::app
