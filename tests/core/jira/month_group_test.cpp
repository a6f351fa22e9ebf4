#include <cstdlib>

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include "core/jira/month_group.h"

using namespace taskbell;

namespace {

Issue doneIssue(std::string key, std::string resolved)
{
    Issue issue;
    issue.key = std::move(key);
    issue.fields.resolutiondate = std::move(resolved);
    return issue;
}

std::vector<std::string> keys(const MonthGroup& group)
{
    std::vector<std::string> result;
    for (const Issue& issue : group.issues) {
        result.push_back(issue.key);
    }
    return result;
}

// Each test chooses the default time zone, locale and environment, and gets the process defaults back.
class MonthGroupTest : public testing::Test
{
protected:
    MonthGroupTest() : savedZone_(icu::TimeZone::createDefault()), savedLocale_(icu::Locale::getDefault()) {}

    ~MonthGroupTest() override
    {
        icu::TimeZone::adoptDefault(savedZone_.release());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
            ::unsetenv(name);
        }
    }

    static void use(const char16_t* zone, const char* locale)
    {
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(zone));
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
    }

private:
    std::unique_ptr<icu::TimeZone> savedZone_;
    icu::Locale savedLocale_;
};

} // namespace

TEST_F(MonthGroupTest, NewestMonthFirstKeepingTheListOrderInsideAMonth)
{
    use(u"Europe/Berlin", "en_US");
    auto groups = groupByMonth({doneIssue("TB-1", "2026-03-03T10:00:00.000+0100"),
                                doneIssue("TB-2", "2026-02-28T10:00:00.000+0100"),
                                doneIssue("TB-3", "2026-03-15T10:00:00.000+0100")});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].label, "March 2026");
    EXPECT_EQ(keys(groups[0]), (std::vector<std::string>{"TB-1", "TB-3"}));
    EXPECT_EQ(groups[1].label, "February 2026");
    EXPECT_EQ(keys(groups[1]), (std::vector<std::string>{"TB-2"}));
    EXPECT_TRUE(groupByMonth({}).empty());
}

TEST_F(MonthGroupTest, MonthsFollowTheLocalCalendarAndLocale)
{
    // 23:30 UTC on 31 January is already February in Berlin, still January in New York.
    std::vector<Issue> issues = {doneIssue("TB-1", "2026-01-31T23:30:00.000+0000")};
    struct Case
    {
        const char16_t* zone;
        const char* locale;
        std::string label;
    };
    const Case cases[] = {
        {u"Europe/Berlin", "en_US", "February 2026"},
        {u"America/New_York", "en_US", "January 2026"},
        {u"Europe/Berlin", "de_DE", "Februar 2026"},
        // Stand-alone month names differ from the formatting ones in Slavic languages.
        {u"Europe/Berlin", "ru_RU", "февраль 2026"},
    };
    for (const Case& c : cases) {
        use(c.zone, c.locale);
        auto groups = groupByMonth(issues);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].label, c.label) << c.locale;
    }
}

TEST_F(MonthGroupTest, IssuesWithoutDatesFormTheOldestGroup)
{
    use(u"UTC", "en_US");
    auto groups = groupByMonth({doneIssue("TB-1", "not a date"), doneIssue("TB-2", "2026-05-01T00:00:00.000+0000")});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(keys(groups[0]), std::vector<std::string>{"TB-2"});
    EXPECT_EQ(keys(groups[1]), std::vector<std::string>{"TB-1"});
}

TEST_F(MonthGroupTest, DisplayLocaleComesFromLcAllThenLcTimeThenLang)
{
    struct Case
    {
        const char* lcAll;
        const char* lcTime;
        const char* lang;
        std::string locale;
    };
    const Case cases[] = {
        {"fr_FR.UTF-8", "de_DE.UTF-8", "en_GB.UTF-8", "fr_FR"},
        {"", "de_DE.UTF-8@euro", "en_GB.UTF-8", "de_DE"},
        {nullptr, nullptr, "en_GB.UTF-8", "en_GB"},
        {nullptr, nullptr, "C.UTF-8", "en_US"},
        {nullptr, "POSIX", "de_DE", "en_US"},
        {nullptr, nullptr, nullptr, "en_US"},
    };
    for (const Case& c : cases) {
        const char* values[] = {c.lcAll, c.lcTime, c.lang};
        const char* names[] = {"LC_ALL", "LC_TIME", "LANG"};
        for (int i = 0; i < 3; ++i) {
            values[i] != nullptr ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
        }
        EXPECT_EQ(JiraDate::displayLocaleName(), c.locale);
    }
    ::setenv("LC_TIME", "de_DE.UTF-8", 1);
    ::unsetenv("LC_ALL");
    JiraDate::applyDisplayLocale();
    use(u"UTC", icu::Locale::getDefault().getName());
    EXPECT_EQ(JiraDate::dayLabel(JiraDate::parse("2026-03-05T12:00:00.000+0000").value()), "05 März 2026");
    EXPECT_EQ(JiraDate::monthLabel(JiraDate::parse("2026-03-05T12:00:00.000+0000").value()), "März 2026");
}
