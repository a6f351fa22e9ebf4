#include "core/jira/error_text.h"

#include "core/jira/error.h"

namespace taskbell {
namespace {

constexpr const char* kUnknownFailure = "The operation couldn’t be completed.";

} // namespace

std::string errorText(const std::exception& error)
{
    if (const auto* jira = dynamic_cast<const JiraError*>(&error)) {
        return jira->what();
    }
    return error.what();
}

std::string errorText(const std::exception_ptr& error)
{
    if (!error) {
        return kUnknownFailure;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return errorText(caught);
    } catch (...) {
        return kUnknownFailure;
    }
}

} // namespace taskbell
