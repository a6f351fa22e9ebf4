#pragma once

#include <QWidget>

class QLabel;

namespace taskbell::app {

// One message on an orange-tinted rounded band with a warning symbol; no close button.
class ErrorBanner : public QWidget
{
    Q_OBJECT

public:
    explicit ErrorBanner(QWidget* parent = nullptr);

    void setMessage(const QString& message);
    QString message() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* icon_;
    QLabel* text_;
};

} // namespace taskbell::app
