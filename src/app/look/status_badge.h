#pragma once

#include <QColor>
#include <QLabel>
#include <optional>
#include <string>

namespace taskbell::app {

// The colour of a status category: green for "done", blue for "indeterminate", gray otherwise.
QColor statusCategoryColour(const std::optional<std::string>& categoryKey);

// The coloured pill of a status name.
class StatusBadge : public QLabel
{
    Q_OBJECT

public:
    explicit StatusBadge(QWidget* parent = nullptr);
    void setStatus(const QString& name, const std::optional<std::string>& categoryKey);
    const QColor& colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

} // namespace taskbell::app
