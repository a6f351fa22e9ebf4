// Jira dates and the Done section's months, against the tables in tests/data/jira/dates.json.
#include <array>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <thread>

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include "core/jira/date.h"
#include "core/jira/month_group.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace std::chrono;
using JiraDate::TimePoint;

namespace {

const Json kDates = Json::parse(test::readFile(TASKBELL_TEST_DATA "/jira/dates.json"));

// "2026-07-08T07:12:33.123Z" as an instant, read without the code under test.
TimePoint utc(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &s, &ms), 7) << text;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

Issue resolvedAt(std::string key, const std::string& resolved)
{
    Issue issue;
    issue.key = std::move(key);
    issue.fields.resolutiondate = resolved;
    return issue;
}

// Each test chooses the time zone (ICU's default and the C library's, as a user's TZ sets both), the default
// locale and the environment, and gets the process defaults back.
class JiraDateTest : public testing::Test
{
protected:
    JiraDateTest() : savedZone_(icu::TimeZone::createDefault()), savedLocale_(icu::Locale::getDefault())
    {
        if (const char* zone = std::getenv("TZ")) {
            savedTz_ = zone;
        }
    }

    ~JiraDateTest() override
    {
        icu::TimeZone::adoptDefault(savedZone_.release());
        savedTz_ ? ::setenv("TZ", savedTz_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
            ::unsetenv(name);
        }
    }

    static void use(const std::string& zone, const std::string& locale = "en_US")
    {
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale.c_str()), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

private:
    std::unique_ptr<icu::TimeZone> savedZone_;
    std::optional<std::string> savedTz_;
    icu::Locale savedLocale_;
};

} // namespace

TEST_F(JiraDateTest, ParsesTheWholePatternOnlyAndPlainDaysAsLocalMidnight)
{
    for (const Json& row : kDates["parse"]) {
        SCOPED_TRACE(row.dump());
        use(row[0]);
        EXPECT_EQ(JiraDate::parse(row[1].get<std::string>()),
                  row[2].is_null() ? std::nullopt : std::optional(utc(row[2])));
    }
    for (const std::string& text : {std::string("2026-07-08\xff"), std::string(100000, '1')}) {
        EXPECT_EQ(JiraDate::parse(text), std::nullopt);
    }
    EXPECT_EQ(JiraDate::parse(std::nullopt), std::nullopt);
    // The earliest accepted dates are still after the distant past used for sorting.
    EXPECT_GT(*JiraDate::parse("1700-01-01"), JiraDate::distantPast);
}

TEST_F(JiraDateTest, RelativeDaysCountCalendarDays)
{
    for (const Json& row : kDates["relativeDays"]) {
        use(row[0]);
        EXPECT_EQ(JiraDate::relativeDays(utc(row[1]), utc(row[2])), row[3]) << row.dump();
    }
}

TEST_F(JiraDateTest, DayAndMonthLabelsFollowTheDefaultLocaleAndZone)
{
    for (const Json& row : kDates["labels"]) {
        SCOPED_TRACE(row.dump());
        use(row[1], row[0]);
        if (!row[3].is_null()) {
            EXPECT_EQ(JiraDate::dayLabel(utc(row[2])), row[3]);
        }
        std::string stamp = row[2].get<std::string>();
        auto groups = groupByMonth({resolvedAt("TB-1", stamp.substr(0, stamp.size() - 1) + "+0000")});
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].label, row[4]);
    }
}

TEST_F(JiraDateTest, MonthGroupsNewestFirstKeepingTheListOrderAndUndatedLast)
{
    use("Europe/Berlin");
    auto groups = groupByMonth({resolvedAt("TB-1", "2026-03-03T10:00:00.000+0100"), resolvedAt("TB-2", "not a date"),
                                resolvedAt("TB-3", "2026-02-28T10:00:00.000+0100"),
                                resolvedAt("TB-4", "2026-03-15T10:00:00.000+0100")});
    std::vector<std::string> shown;
    for (const MonthGroup& group : groups) {
        shown.push_back(group.label + ":");
        for (const Issue& issue : group.issues) {
            shown.push_back(issue.key);
        }
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"March 2026:", "TB-1", "TB-4", "February 2026:", "TB-3",
                                               groups.back().label + ":", "TB-2"}));
    EXPECT_TRUE(groupByMonth({}).empty());
}

// Labels are made without ICU's SimpleDateFormat where the pattern and the locale allow it; they must
// read exactly as SimpleDateFormat writes them, digits, calendars and quoting included.
TEST_F(JiraDateTest, LabelsReadAsIcuFormatsThem)
{
    const std::array<const char16_t*, 9> patterns = {
        u"LLLL yyyy", u"dd MMMM yyyy", u"d.M.yy",           u"MMM d, y",     u"LLLLL/MMMMM 'of' ''yy''",
        u"'d''M' dd", u"EEEE d",       u"yyyy-MM-dd HH:mm", u"'open quote d"};
    for (const char* locale : {"en_US", "de_DE", "ru_RU", "pl_PL", "ar_EG", "bn_BD", "mr_IN", "ja_JP", "he_IL", "fa_IR",
                               "th_TH", "ar_SA", "xx_YY"}) {
        use("America/New_York", locale);
        for (const char* stamp : {"2026-01-31T23:30:00.000Z", "2026-07-01T03:59:00.000Z", "1999-12-05T12:00:00.000Z",
                                  "2100-02-28T12:00:00.000Z", "1905-09-09T12:00:00.000Z"}) {
            for (const char16_t* pattern : patterns) {
                UErrorCode status = U_ZERO_ERROR;
                icu::SimpleDateFormat icuFormat(pattern, icu::Locale::getDefault(), status);
                std::string expected;
                if (U_SUCCESS(status)) {
                    icu::UnicodeString text;
                    icuFormat
                        .format(static_cast<UDate>(duration_cast<milliseconds>(utc(stamp).time_since_epoch()).count()),
                                text)
                        .toUTF8String(expected);
                }
                std::string shown;
                EXPECT_EQ(JiraDate::formatLocal(pattern, utc(stamp)), expected)
                    << locale << " " << stamp << " " << icu::UnicodeString(pattern).toUTF8String(shown);
            }
        }
    }
}

TEST_F(JiraDateTest, DisplayLocaleComesFromLcAllThenLcTimeThenLang)
{
    for (const Json& row : kDates["displayLocale"]) {
        for (int i = 0; i < 3; ++i) {
            const char* name = std::array{"LC_ALL", "LC_TIME", "LANG"}[i];
            row[i].is_null() ? ::unsetenv(name) : ::setenv(name, row[i].get<std::string>().c_str(), 1);
        }
        EXPECT_EQ(JiraDate::displayLocaleName(), row[3]) << row.dump();
    }
    ::setenv("LC_TIME", "de_DE.UTF-8", 1);
    ::unsetenv("LC_ALL");
    JiraDate::applyDisplayLocale();
    use("UTC", icu::Locale::getDefault().getName());
    EXPECT_EQ(JiraDate::monthLabel(utc("2026-03-05T12:00:00.000Z")), "März 2026");
}

TEST_F(JiraDateTest, ParsersAreSafeToShareBetweenThreads)
{
    use("UTC");
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                int day = 1 + (i + t) % 28;
                std::string stamp = "2026-02-" + std::string(day < 10 ? "0" : "") + std::to_string(day);
                if (JiraDate::parse(stamp) != sys_days{2026y / 2 / day} ||
                    JiraDate::parse(stamp + "T06:00:00.000+0000") != sys_days{2026y / 2 / day} + 6h) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}
