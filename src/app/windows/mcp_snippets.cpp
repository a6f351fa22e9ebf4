#include "app/windows/mcp_snippets.h"

#include <nlohmann/json.hpp>

namespace taskbell::app::McpSnippets {

namespace {

bool isPlainShellCharacter(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("_-./,:+=@%").find(c) != std::string_view::npos;
}

} // namespace

std::string shellWord(std::string_view text)
{
    bool plain = !text.empty();
    for (char c : text) {
        plain = plain && isPlainShellCharacter(c);
    }
    if (plain) {
        return std::string(text);
    }
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string jsonStringBody(std::string_view text)
{
    std::string dumped =
        nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return dumped.substr(1, dumped.size() - 2);
}

std::string command(std::string_view executable)
{
    return "claude mcp add taskbell -s project -- " + shellWord(executable) + " --mcp";
}

std::string json(std::string_view executable)
{
    return "{\n"
           "  \"mcpServers\": {\n"
           "    \"taskbell\": {\n"
           "      \"type\": \"stdio\",\n"
           "      \"command\": \"" +
           jsonStringBody(executable) +
           "\",\n"
           "      \"args\": [\"--mcp\"],\n"
           "      \"env\": {}\n"
           "    }\n"
           "  }\n"
           "}";
}

std::string toolsLine(const std::vector<std::string>& toolNames)
{
    std::string line = "Tools: ";
    for (std::size_t i = 0; i < toolNames.size(); ++i) {
        line += (i > 0 ? ", " : "") + toolNames[i];
    }
    return line + ".";
}

} // namespace taskbell::app::McpSnippets
