#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace taskbell::app::look {

// The indeterminate progress indicator: a turning arc in the secondary colour. It animates only while
// it is visible, so a hidden spinner costs no timer wake-ups.
class Spinner : public QWidget
{
    Q_OBJECT
public:
    explicit Spinner(int pixels, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    bool isAnimating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int pixels_;
    int angle_ = 0;
    QBasicTimer timer_;
};

} // namespace taskbell::app::look
