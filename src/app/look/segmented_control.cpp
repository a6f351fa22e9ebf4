#include "app/look/segmented_control.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QHBoxLayout>

namespace taskbell::app {

namespace {

class SegmentAccessible : public QAccessibleWidget
{
public:
    explicit SegmentAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::RadioButton) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = segment()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return {pressAction(), toggleAction(), setFocusAction()}; }

    void doAction(const QString& name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            segment()->setChecked(true); // a chosen segment stays chosen, as radio buttons do
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    Segment* segment() const { return static_cast<Segment*>(widget()); }
};

QAccessibleInterface* segmentFactory(const QString& className, QObject* object)
{
    if (object != nullptr && object->isWidgetType() && className == QLatin1String("taskbell::app::Segment")) {
        return new SegmentAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

} // namespace

SegmentedControl::SegmentedControl(const QStringList& titles, int current, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)), current_(current)
{
    static const bool installed = [] {
        QAccessible::installFactory(segmentFactory);
        return true;
    }();
    (void)installed;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_->setExclusive(true);
    for (int i = 0; i < titles.size(); ++i) {
        auto* segment = new Segment(this);
        segment->setCheckable(true);
        segment->setChecked(i == current);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setFocusPolicy(Qt::StrongFocus);
        group_->addButton(segment, i);
        row->addWidget(segment);
        setTitle(i, titles[i]);
        connect(segment, &QToolButton::toggled, this, [this, i](bool checked) {
            if (checked && current_ != i) {
                current_ = i;
                emit currentChanged(i);
            }
        });
    }
}

void SegmentedControl::setCurrent(int index)
{
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
    }
}

void SegmentedControl::setTitle(int index, const QString& title)
{
    QToolButton* button = segment(index);
    if (button != nullptr && button->text() != title) {
        button->setText(title);
        button->setAccessibleName(title);
    }
}

QToolButton* SegmentedControl::segment(int index) const
{
    return qobject_cast<QToolButton*>(group_->button(index));
}

int SegmentedControl::count() const
{
    return static_cast<int>(group_->buttons().size());
}

} // namespace taskbell::app
