#include "app/windows/form_dialog.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/windows/form_parts.h"

namespace taskbell::app {

FormDialog::FormDialog(const QString& objectName, QWidget* parent) : QDialog(parent)
{
    setObjectName(objectName);
}

void FormDialog::setParts(QWidget* header, QWidget* body, QWidget* footer)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(form::divider(this));
    column->addWidget(body, 1);
    if (footer != nullptr) {
        column->addWidget(form::divider(this));
        column->addWidget(footer);
    }
}

QWidget* FormDialog::titleBar(QWidget* leading, QDialogButtonBox* buttons)
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);
    row->addWidget(leading, 0, Qt::AlignVCenter);
    row->addStretch(1);
    if (buttons != nullptr) {
        row->addWidget(buttons, 0, Qt::AlignVCenter);
    }
    return header;
}

QWidget* FormDialog::headline(const QString& text)
{
    return form::label(text, look::FontRole::Headline, false, this);
}

QPushButton* FormDialog::addButton(QDialogButtonBox* box, const QString& text, QDialogButtonBox::ButtonRole role,
                                   const QString& objectName)
{
    QPushButton* button = box->addButton(text, role);
    button->setObjectName(objectName);
    form::describe(button, text);
    return button;
}

} // namespace taskbell::app
