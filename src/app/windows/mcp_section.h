#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

namespace taskbell::app {

// The settings window's disclosure section "MCP server (Claude Code)": how to register the built-in MCP
// server with Claude Code, as a command and as a .mcp.json, each with a copy button whose title reads
// "Copied" for 1.5 seconds after its copy.
class McpSection : public QWidget
{
    Q_OBJECT

public:
    // Runs `action` after `delay` on the GUI thread, as long as `context` exists.
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, QObject* context, std::function<void()> action)>;

    static constexpr std::chrono::milliseconds kCopiedFor{1500};

    explicit McpSection(QWidget* parent = nullptr);

    // The executable the snippets start (the running one by default).
    void setExecutable(const QString& path);
    // Tests take the timers into their own hands.
    void setScheduler(Scheduler scheduler);

    bool isExpanded() const;
    void setExpanded(bool expanded);
    QString commandText() const;
    QString jsonText() const;
    // "command" or "json" while that snippet's "Copied" label shows.
    const std::optional<QString>& copiedSnippet() const { return copied_; }
    QPushButton* copyButton(const QString& id) const;

    // Puts the text on the clipboard and shows "Copied" on that snippet's button for 1.5 seconds.
    void copy(const QString& text, const QString& id);

private:
    QWidget* makeSnippet(const QString& id, QLabel*& text, QPushButton*& button, QWidget* parent);
    void updateButtons();

    QToolButton* disclosure_;
    QWidget* content_;
    QLabel* command_ = nullptr;
    QLabel* json_ = nullptr;
    QPushButton* copyCommand_ = nullptr;
    QPushButton* copyJson_ = nullptr;
    std::optional<QString> copied_;
    int copyGeneration_ = 0;
    Scheduler scheduler_;
};

} // namespace taskbell::app
