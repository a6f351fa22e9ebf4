#pragma once

#include <string>

namespace taskbell {

// The three connection settings of a Jira Cloud site.
struct JiraConfig
{
    std::string baseURL;  // as the user typed it
    std::string email;    // user name of Basic authentication
    std::string apiToken; // password of Basic authentication

    // Trimmed, without trailing slashes, with "https://" put in front unless it starts with "http://" or
    // "https://" (case-sensitive); empty text stays empty.
    std::string normalizedBaseURL() const;
    // Site, e-mail and token all present (e-mail and token as stored, not trimmed).
    bool isComplete() const;

    bool operator==(const JiraConfig&) const = default;
};

} // namespace taskbell
