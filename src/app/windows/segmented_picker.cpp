#include "app/windows/segmented_picker.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QToolButton>

namespace taskbell::app {

SegmentedPicker::SegmentedPicker(const QStringList& titles, int current, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)), current_(current)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < titles.size(); ++i) {
        auto* segment = new QToolButton(this);
        segment->setText(titles[i]);
        segment->setAccessibleName(titles[i]);
        segment->setCheckable(true);
        segment->setChecked(i == current);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setFocusPolicy(Qt::StrongFocus);
        group_->addButton(segment, i);
        row->addWidget(segment);
        connect(segment, &QToolButton::toggled, this, [this, i](bool checked) {
            if (checked && current_ != i) {
                current_ = i;
                emit currentChanged(i);
            }
        });
    }
    group_->setExclusive(true);
}

void SegmentedPicker::setCurrent(int index)
{
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
    }
}

QToolButton* SegmentedPicker::segment(int index) const
{
    return qobject_cast<QToolButton*>(group_->button(index));
}

int SegmentedPicker::count() const
{
    return static_cast<int>(group_->buttons().size());
}

} // namespace taskbell::app
