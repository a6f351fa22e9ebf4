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

QAccessibleInterface* panelAccessibleFactory(const QString& className, QObject* object)
{
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    // The assistant's changes are one group too, named by its title.
    if (className == QLatin1String("taskbell::app::TaskRow") ||
        className == QLatin1String("taskbell::app::ActivityGroup")) {
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    }
    if (className == QLatin1String("taskbell::app::TaskList")) {
        return new QAccessibleWidget(widget, QAccessible::List); // its description counts the tab's tasks
    }
    if (className == QLatin1String("taskbell::app::CopyArea")) {
        return new CopyAreaAccessible(widget);
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
