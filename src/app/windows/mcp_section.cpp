#include "app/windows/mcp_section.h"

#include <QBoxLayout>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "app/look/style_sheets.h"
#include "app/windows/form_parts.h"
#include "app/windows/mcp_snippets.h"
#include "core/mcp/server.h"

namespace taskbell::app {

namespace {

const QString kCommand = QStringLiteral("command");
const QString kJson = QStringLiteral("json");

QLabel* note(const QString& text, QWidget* parent)
{
    QLabel* label = form::wrappingLabel(text, look::FontRole::Caption, true, parent);
    form::makeSelectable(label);
    return label;
}

QString toolsLine()
{
    return QString::fromStdString(McpSnippets::toolsLine(MCPServer::toolNames()));
}

} // namespace

McpSection::McpSection(QWidget* parent)
    : QWidget(parent), scheduler_([](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
          QTimer::singleShot(delay, context, std::move(action));
      })
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    disclosure_ = new QToolButton(this);
    disclosure_->setObjectName("mcpDisclosure");
    disclosure_->setText(tr("MCP server (Claude Code)"));
    disclosure_->setAccessibleName(tr("MCP server (Claude Code)"));
    disclosure_->setCheckable(true);
    disclosure_->setAutoRaise(true);
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setArrowType(Qt::RightArrow);
    disclosure_->setFont(look::font(look::FontRole::Callout));
    disclosure_->setFocusPolicy(Qt::StrongFocus);
    disclosure_->setStyleSheet(look::sheet::bareToolButton());
    column->addWidget(disclosure_, 0, Qt::AlignLeading);

    content_ = new QWidget(this);
    content_->setObjectName("mcpContent");
    auto* inner = new QVBoxLayout(content_);
    inner->setContentsMargins(0, 6, 0, 0);
    inner->setSpacing(8);
    inner->addWidget(note(tr("Create, list and re-status these tasks from Claude Code. It reuses the settings above, "
                             "so there is nothing else to configure. Run this in the repo you want it in:"),
                          content_));
    inner->addWidget(makeSnippet(kCommand, command_, copyCommand_, content_));
    inner->addWidget(note(tr("`-s project` adds it to that repo only. Restart Claude Code afterwards and approve it, "
                             "then check with `claude mcp list`."),
                          content_));
    inner->addWidget(note(tr("That writes a `.mcp.json` in the repo root. To create it by hand instead:"), content_));
    inner->addWidget(makeSnippet(kJson, json_, copyJson_, content_));
    QLabel* tools = note(toolsLine(), content_);
    tools->setObjectName("mcpTools");
    inner->addWidget(tools);
    column->addWidget(content_);

    // A toggle through assistive technology moves the checked state without a click, so follow `toggled`.
    connect(disclosure_, &QToolButton::toggled, this, [this](bool expanded) {
        disclosure_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
        content_->setVisible(expanded);
    });
    content_->setVisible(false);
    setExecutable(QCoreApplication::applicationFilePath());
}

QWidget* McpSection::makeSnippet(const QString& id, QLabel*& text, QPushButton*& button, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    text = new QLabel(row);
    text->setObjectName(id + "Snippet");
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setFont(look::monospacedFont(look::FontRole::Caption2));
    form::makeSelectable(text);
    text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    text->setStyleSheet(look::sheet::codeBlock(palette()));
    layout->addWidget(text, 1);

    button = new QPushButton(tr("Copy"), row);
    button->setObjectName(id + "Copy");
    button->setFont(look::font(look::FontRole::Caption));
    form::describe(button, tr("Copy"));
    connect(button, &QPushButton::clicked, this, [this, id, text] { copy(text->text(), id); });
    layout->addWidget(button, 0, Qt::AlignTop);
    return row;
}

void McpSection::setExecutable(const QString& path)
{
    const std::string executable = path.toStdString();
    command_->setText(QString::fromStdString(McpSnippets::command(executable)));
    json_->setText(QString::fromStdString(McpSnippets::json(executable)));
}

void McpSection::setScheduler(Scheduler scheduler)
{
    scheduler_ = std::move(scheduler);
}

bool McpSection::isExpanded() const
{
    return disclosure_->isChecked();
}

void McpSection::setExpanded(bool expanded)
{
    disclosure_->setChecked(expanded);
}

QString McpSection::commandText() const
{
    return command_->text();
}

QString McpSection::jsonText() const
{
    return json_->text();
}

QPushButton* McpSection::copyButton(const QString& id) const
{
    return id == kCommand ? copyCommand_ : id == kJson ? copyJson_ : nullptr;
}

void McpSection::copy(const QString& text, const QString& id)
{
    QGuiApplication::clipboard()->setText(text);
    copied_ = id;
    const int generation = ++copyGeneration_;
    updateButtons();
    // Only the latest copy's timer clears the label, so copying the same snippet again shows "Copied" for
    // the full time, and an earlier copy of the other snippet leaves the new label alone.
    scheduler_(kCopiedFor, this, [this, generation] {
        if (generation == copyGeneration_) {
            copied_.reset();
            updateButtons();
        }
    });
}

void McpSection::updateButtons()
{
    for (const QString& id : {kCommand, kJson}) {
        const QString title = copied_ == id ? tr("Copied") : tr("Copy");
        copyButton(id)->setText(title);
        copyButton(id)->setAccessibleName(title);
    }
}

} // namespace taskbell::app
