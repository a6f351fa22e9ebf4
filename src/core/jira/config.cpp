#include "core/jira/config.h"

#include "core/base/text_util.h"

namespace taskbell {

std::string JiraConfig::normalizedBaseURL() const
{
    std::string_view text = trimWhitespaceAndNewlines(baseURL);
    while (!text.empty() && text.back() == '/') {
        text.remove_suffix(1);
    }
    if (text.empty() || text.starts_with("http://") || text.starts_with("https://")) {
        return std::string(text);
    }
    return "https://" + std::string(text);
}

bool JiraConfig::isComplete() const
{
    return !normalizedBaseURL().empty() && !email.empty() && !apiToken.empty();
}

} // namespace taskbell
