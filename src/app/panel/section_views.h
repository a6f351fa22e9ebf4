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

} // namespace taskbell::app
