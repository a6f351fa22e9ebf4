#include "app/panel/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "app/panel/filter_tabs.h"
#include "app/panel/task_row.h"

namespace taskbell::app {

namespace {

class CopyAreaAccessible : public QAccessibleWidget
{
public:
    explicit CopyAreaAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}

    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }

    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            emit static_cast<CopyArea*>(widget())->activated();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

class FilterTabAccessible : public QAccessibleWidget
{
public:
    explicit FilterTabAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::RadioButton) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = tab()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return {pressAction(), toggleAction(), setFocusAction()}; }

    void doAction(const QString& name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            tab()->setChecked(true); // a selected tab stays selected, as radio buttons do
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    FilterTab* tab() const { return static_cast<FilterTab*>(widget()); }
};

QAccessibleInterface* panelAccessibleFactory(const QString& className, QObject* object)
{
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("taskbell::app::TaskRow")) {
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    }
    if (className == QLatin1String("taskbell::app::CopyArea")) {
        return new CopyAreaAccessible(widget);
    }
    if (className == QLatin1String("taskbell::app::FilterTab")) {
        return new FilterTabAccessible(widget);
    }
    return nullptr;
}

} // namespace

void installPanelAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(panelAccessibleFactory);
        installed = true;
    }
}

} // namespace taskbell::app
