#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QToolButton;

namespace taskbell::app {

// A row of checkable segments of which exactly one is chosen. Each segment is a check box for assistive
// technology, named by its title; the choice follows `toggled`, so a Toggle action counts like a click.
class SegmentedPicker : public QWidget
{
    Q_OBJECT

public:
    SegmentedPicker(const QStringList& titles, int current, QWidget* parent = nullptr);

    int current() const { return current_; }
    void setCurrent(int index);
    QToolButton* segment(int index) const;
    int count() const;

signals:
    void currentChanged(int index);

private:
    QButtonGroup* group_;
    int current_;
};

} // namespace taskbell::app
