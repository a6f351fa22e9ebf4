#include "app/windows/window_keys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace taskbell::app {

namespace {

void press(QAbstractButton* button)
{
    if (button && button->isEnabled() && button->isVisible()) {
        button->click();
    }
}

} // namespace

WindowKeys::WindowKeys(QAbstractButton* defaultButton, QAbstractButton* cancelButton)
    : defaultButton_(defaultButton), cancelButton_(cancelButton)
{
}

bool WindowKeys::handle(QKeyEvent* event) const
{
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier) {
        return false;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        press(defaultButton_);
        return true;
    case Qt::Key_Escape:
        press(cancelButton_);
        return true;
    default:
        return false;
    }
}

} // namespace taskbell::app
