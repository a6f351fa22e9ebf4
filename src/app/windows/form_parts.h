#pragma once

#include <QString>

#include "app/look/look.h"

class QBoxLayout;
class QFrame;
class QLabel;
class QScrollArea;
class QWidget;

namespace taskbell::app::form {

// A label in a font role, optionally in the secondary colour; plain text only, so backticks and angle
// brackets show as typed.
QLabel* label(const QString& text, look::FontRole role, bool secondary = false, QWidget* parent = nullptr);
// The same, wrapping over as many lines as it needs.
QLabel* wrappingLabel(const QString& text, look::FontRole role, bool secondary = false, QWidget* parent = nullptr);
// A label whose text can be selected with the mouse and the keyboard.
void makeSelectable(QLabel* label);

// A thin horizontal line between parts of a window.
QFrame* divider(QWidget* parent = nullptr);

// A titled input: the title in the caption font and secondary colour above the control, 3 apart. The
// title is the control's buddy, and the control's accessible name is the title.
QWidget* titled(const QString& title, QWidget* control, QWidget* parent = nullptr);

// A vertically scrolling area (scroll bar shown) whose content is a leading-aligned column with the
// given spacing and padding; returns the column's layout.
QBoxLayout* scrollingColumn(QScrollArea* area, int spacing, int padding);

// Names a control for assistive technology: the name, and the help text as tooltip and description.
void describe(QWidget* widget, const QString& name, const QString& help = {});

} // namespace taskbell::app::form
