#pragma once

#include <exception>
#include <string>

namespace taskbell {

// The text shown to the user for any failure: a JiraError's errorDescription, otherwise the exception's
// own description (what()); a value that is not an exception gives a generic sentence.
std::string errorText(const std::exception& error);
std::string errorText(const std::exception_ptr& error);

} // namespace taskbell
