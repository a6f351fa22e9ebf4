#pragma once

#include <QStringList>
#include <QToolButton>
#include <QWidget>

class QButtonGroup;

namespace taskbell::app {

// One segment: a checkable button that assistive technology sees as a radio button.
class Segment : public QToolButton
{
    Q_OBJECT

public:
    using QToolButton::QToolButton;
};

// A row of segments of which exactly one is chosen: the panel's filter and the new-task window's "Add to"
// choice. Each segment is named by its title; the choice follows `toggled`, so assistive technology's
// Toggle and Press actions count like a click.
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    SegmentedControl(const QStringList& titles, int current, QWidget* parent = nullptr);

    int current() const { return current_; }
    void setCurrent(int index);
    // The segment's text and accessible name.
    void setTitle(int index, const QString& title);
    QToolButton* segment(int index) const;
    int count() const;

signals:
    void currentChanged(int index);

private:
    QButtonGroup* group_;
    int current_;
};

} // namespace taskbell::app
