#pragma once

#include <QFrame>
#include <QLabel>

namespace taskbell::app {

// A failure shown above a window's content or the panel's sections: a warning symbol and the text on an
// orange tint. A message kept until the user dismisses it shows a Dismiss button.
class ErrorBanner : public QFrame
{
    Q_OBJECT

public:
    explicit ErrorBanner(QWidget* parent = nullptr);
    void setMessage(const QString& message);
    QString message() const { return message_->text(); }
    void setDismissible(bool dismissible);

signals:
    void dismissRequested();

private:
    QLabel* message_;
    QWidget* dismiss_;
};

} // namespace taskbell::app
