#pragma once

#include <QColor>
#include <QToolButton>

namespace taskbell::app {

// A 24 × 24 symbol button on a rounded tile of its tint.
class TileButton : public QToolButton
{
    Q_OBJECT

public:
    TileButton(const QString& symbol, const QColor& tint, double fillOpacity, const QString& helpText,
               QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

} // namespace taskbell::app
