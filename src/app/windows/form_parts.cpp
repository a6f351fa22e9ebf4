#include "app/windows/form_parts.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QScrollArea>

namespace taskbell::app::form {

QLabel* label(const QString& text, look::FontRole role, bool secondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    look::setFont(label, role);
    if (secondary) {
        look::setTextColour(label, look::secondary(label->palette()));
    }
    return label;
}

QLabel* wrappingLabel(const QString& text, look::FontRole role, bool secondary, QWidget* parent)
{
    QLabel* result = label(text, role, secondary, parent);
    result->setWordWrap(true);
    result->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    return result;
}

void makeSelectable(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedHeight(1);
    return line;
}

QWidget* titled(const QString& title, QWidget* control, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    QLabel* caption = label(title, look::FontRole::Caption, true, box);
    caption->setBuddy(control);
    column->addWidget(caption);
    column->addWidget(control);
    control->setAccessibleName(title);
    return box;
}

QBoxLayout* scrollingColumn(QScrollArea* area, int spacing, int padding)
{
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus); // focus goes to the fields inside, which scroll themselves into view
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* content = new QWidget(area);
    auto* column = new QVBoxLayout(content);
    column->setSpacing(spacing);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setAlignment(Qt::AlignTop);
    area->setWidget(content);
    return column;
}

void describe(QWidget* widget, const QString& name, const QString& help)
{
    widget->setAccessibleName(name);
    if (!help.isEmpty()) {
        widget->setToolTip(help);
        widget->setAccessibleDescription(help);
    }
}

} // namespace taskbell::app::form
