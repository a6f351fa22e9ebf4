#pragma once

#include <stdexcept>
#include <string>

namespace taskbell {

// The error of all Jira work. what() is the user-facing text, shown unchanged.
class JiraError : public std::exception
{
public:
    enum class Kind { http, network, decoding, noTransition, notConfigured, badURL };

    static JiraError http(int status, std::string body);
    static JiraError network(std::string message);
    static JiraError decoding(std::string message);
    static JiraError noTransition(std::string targetName);
    static JiraError notConfigured();
    static JiraError badURL();

    Kind kind() const noexcept { return kind_; }
    int status() const noexcept { return status_; }            // http only
    const std::string& body() const noexcept { return text_; } // http: body; other kinds: their payload
    const char* what() const noexcept override { return description_.c_str(); }

private:
    JiraError(Kind kind, int status, std::string text);

    Kind kind_;
    int status_ = 0;
    std::string text_;
    std::string description_;
};

} // namespace taskbell
