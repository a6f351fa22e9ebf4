#pragma once

#include <QFrame>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace taskbell::app {

// The header of a section on the "All" tab: its symbol, its title and its count in a capsule.
class SectionHeader : public QWidget
{
    Q_OBJECT

public:
    SectionHeader(const QString& title, const QString& symbol, QWidget* parent = nullptr);
    void setCount(std::size_t count);
    QString title() const { return title_->text(); }
    QString countText() const { return count_->text(); }

private:
    QLabel* title_;
    QLabel* count_;
};

// The one-line text of an empty section ("Loading…", "Nothing in progress right now.").
class EmptyHint : public QLabel
{
    Q_OBJECT

public:
    explicit EmptyHint(const QString& text = {}, QWidget* parent = nullptr);
};

// The failure of the last visible load or action, above the sections. It goes away when the store clears
// its message; a message the store keeps until the user dismisses it shows a Dismiss button.
class ErrorBanner : public QFrame
{
    Q_OBJECT

public:
    explicit ErrorBanner(QWidget* parent = nullptr);
    void setMessage(const QString& message);
    QString message() const { return message_->text(); }
    void setDismissible(bool dismissible);

signals:
    void dismissRequested();

private:
    QLabel* message_;
    QWidget* dismiss_;
};

} // namespace taskbell::app
