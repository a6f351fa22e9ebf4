#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "core/jira/error.h"
#include "core/jira/error_text.h"

using namespace taskbell;

TEST(ErrorText, JiraErrorsGiveTheirDescriptionOthersTheirOwnText)
{
    struct Case
    {
        std::exception_ptr error;
        std::string text;
    };
    JiraError unauthorized = JiraError::http(401, "");
    const Case cases[] = {
        {std::make_exception_ptr(unauthorized), unauthorized.errorDescription()},
        {std::make_exception_ptr(JiraError::notConfigured()), JiraError::notConfigured().errorDescription()},
        {std::make_exception_ptr(std::runtime_error("Disk full")), "Disk full"},
        {std::make_exception_ptr(42), "The operation couldn’t be completed."},
        {nullptr, "The operation couldn’t be completed."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errorText(c.error), c.text);
    }
    EXPECT_EQ(errorText(unauthorized), unauthorized.errorDescription());
}
