#pragma once

#include <QDialog>
#include <QDialogButtonBox>

class QBoxLayout;

namespace taskbell::app {

// The skeleton the four windows share: a dialog made of a header, a divider, the body and an optional
// footer under a second divider. The dialog gives Return to its default button and Escape to reject();
// accept() and reject() close the window. The window manager makes it an ordinary titled top-level window.
class FormDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FormDialog(const QString& objectName, QWidget* parent = nullptr);

protected:
    void setParts(QWidget* header, QWidget* body, QWidget* footer = nullptr);
    // The usual header: `leading` (a headline, or more), then the header's buttons at the trailing end.
    QWidget* titleBar(QWidget* leading, QDialogButtonBox* buttons = nullptr);
    // The window's headline, for the header.
    QWidget* headline(const QString& text);
    // Adds a push button to a button box, named for tests and assistive technology.
    static QPushButton* addButton(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role,
                                  const QString& objectName);
};

} // namespace taskbell::app
