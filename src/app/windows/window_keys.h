#pragma once

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QKeyEvent;

namespace taskbell::app {

// The keys a window's content answers to, as a dialog would: Return and Enter press the default button
// (only while it is enabled and shown), Escape presses the button that closes without acting. A text
// editor that takes Return for a line break keeps it, since it accepts the key before it reaches here.
class WindowKeys
{
public:
    WindowKeys() = default;
    WindowKeys(QAbstractButton* defaultButton, QAbstractButton* cancelButton);

    // True when the key was one of ours and was handled.
    bool handle(QKeyEvent* event) const;

private:
    QPointer<QAbstractButton> defaultButton_;
    QPointer<QAbstractButton> cancelButton_;
};

} // namespace taskbell::app
