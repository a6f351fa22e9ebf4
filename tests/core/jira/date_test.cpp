#include <atomic>
#include <thread>

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include "core/jira/date.h"

using namespace taskbell;
using namespace std::chrono;
using JiraDate::TimePoint;

namespace {

// A UTC instant, e.g. utc(2026y / 7 / 8, 7h + 12min).
TimePoint utc(year_month_day day, system_clock::duration time = {})
{
    return sys_days{day} + time;
}

// Runs each test in a chosen default time zone and locale, and restores the process defaults afterwards.
class JiraDateTest : public testing::Test
{
protected:
    JiraDateTest() : savedZone_(icu::TimeZone::createDefault()), savedLocale_(icu::Locale::getDefault()) {}

    ~JiraDateTest() override
    {
        icu::TimeZone::adoptDefault(savedZone_.release());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
    }

    static void useZone(const char16_t* zone) { icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(zone)); }

    static void useLocale(const char* locale)
    {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

private:
    std::unique_ptr<icu::TimeZone> savedZone_;
    icu::Locale savedLocale_;
};

} // namespace

TEST_F(JiraDateTest, ParsesJiraTimestampsWithTheirOffsets)
{
    useZone(u"America/New_York"); // offsets in the text win over the default zone
    EXPECT_EQ(JiraDate::parse("2026-07-08T09:12:33.123+0200"), utc(2026y / 7 / 8, 7h + 12min + 33s + 123ms));
    EXPECT_EQ(JiraDate::parse("2026-07-08T09:12:33+0200"), utc(2026y / 7 / 8, 7h + 12min + 33s));
    EXPECT_EQ(JiraDate::parse("2026-06-19T12:30:00.000-0300"), utc(2026y / 6 / 19, 15h + 30min));
    EXPECT_EQ(JiraDate::parse("2026-01-01T00:00:00.000+0000"), utc(2026y / 1 / 1));
    EXPECT_EQ(JiraDate::parse("2025-12-31T23:59:59.999-1200"), utc(2026y / 1 / 1, 11h + 59min + 59s + 999ms));
    std::string owned = "2026-07-08T09:12:33.123+0100";
    EXPECT_EQ(JiraDate::parse(std::optional<std::string>(owned)), utc(2026y / 7 / 8, 8h + 12min + 33s + 123ms));
}

TEST_F(JiraDateTest, PlainDaysAreMidnightInTheDefaultZone)
{
    useZone(u"Europe/Berlin");
    EXPECT_EQ(JiraDate::parse("2026-07-15"), utc(2026y / 7 / 14, 22h));
    EXPECT_EQ(JiraDate::parse("2026-03-29"), utc(2026y / 3 / 28, 23h));  // clocks go forward at 02:00 that day
    EXPECT_EQ(JiraDate::parse("2026-10-25"), utc(2026y / 10 / 24, 22h)); // and back at 03:00
    useZone(u"America/New_York"); // the shared parsers follow a change of the default zone
    EXPECT_EQ(JiraDate::parse("2026-07-15"), utc(2026y / 7 / 15, 4h));
    EXPECT_EQ(JiraDate::parse("2026-03-08"), utc(2026y / 3 / 8, 5h));
    EXPECT_EQ(JiraDate::parse("2026-03-09"), utc(2026y / 3 / 9, 4h));
    useZone(u"UTC");
    EXPECT_EQ(JiraDate::parse("2024-02-29"), utc(2024y / 2 / 29));

    // Where the clocks skip midnight the day starts at 01:00, not nowhere; where midnight happens twice
    // the day starts at the first one.
    useZone(u"America/Santiago");
    EXPECT_EQ(JiraDate::parse("2026-09-06"), utc(2026y / 9 / 6, 4h)); // 01:00 -03
    EXPECT_EQ(JiraDate::parse("2026-09-05"), utc(2026y / 9 / 5, 4h)); // 00:00 -04
    useZone(u"America/Havana");
    EXPECT_EQ(JiraDate::parse("2026-03-08"), utc(2026y / 3 / 8, 5h));  // 01:00 -04
    EXPECT_EQ(JiraDate::parse("2026-11-01"), utc(2026y / 11 / 1, 4h)); // the first 00:00, -04
}

TEST_F(JiraDateTest, RejectsAnythingButTheWholePattern)
{
    useZone(u"UTC");
    for (const char* text : {"",
                             "08/07/2026",
                             "2026/07/08",
                             "2026-07-08x",
                             "2026-07-08 ",
                             " 2026-07-08",
                             "2026-07-08T09:12:33.123+0200 ",
                             "2026-07-08T09:12:33.123+0200Z",
                             "2026-07-08T09:12",
                             "2026-13-01",
                             "2026-02-30",
                             "2025-02-29",
                             "2026-07-08T25:00:00.000+0000",
                             "July 8, 2026",
                             "2026-07-08\n",
                             "2026-07-08\xff",
                             "0001-01-01",
                             "2026-07- 08",
                             "2026-07-08T 09:12:33+0200",
                             "\t2026-07-08",
                             "2026-07-08T09:12:33.123 +0200",
                             "2026\u00a0-07-08",
                             "9999-12-31T23:59:59.999+0000",
                             "tomorrow"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_EQ(JiraDate::parse(text), std::nullopt);
    }
    EXPECT_EQ(JiraDate::parse(std::nullopt), std::nullopt);
    EXPECT_EQ(JiraDate::parse(std::string(100000, '1')), std::nullopt);
    // The earliest accepted dates are still after the distant past used for sorting.
    EXPECT_GT(*JiraDate::parse("1700-01-01"), JiraDate::distantPast);
}

TEST_F(JiraDateTest, RelativeDaysCountCalendarDays)
{
    useZone(u"Europe/Berlin");
    // Summer time: local = UTC + 2 h.
    const TimePoint now = utc(2026y / 7 / 8, 8h); // 10:00 local
    EXPECT_EQ(JiraDate::relativeDays(now, now), "today");
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 7, 22h), now), "today");            // local midnight
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 7, 22h) - 1ms, now), "yesterday");  // one ms before
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 9, 21h + 59min), now), "tomorrow"); // 23:59 tomorrow
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 9, 22h), now), "in 2 days");        // 00:00 day after
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 5, 8h), now), "3 days ago");
    EXPECT_EQ(JiraDate::relativeDays(utc(2025y / 6 / 3, 8h), now), "400 days ago");
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 8 / 7, 8h), now), "in 30 days");

    // 23:59 yesterday against 00:01 today: two minutes apart, one calendar day.
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 7, 21h + 59min), utc(2026y / 7 / 7, 22h + 1min)), "yesterday");
    // The 23-hour day when the clocks go forward is still a whole day.
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 3 / 29, 8h), utc(2026y / 3 / 30, 7h)), "yesterday");
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 3 / 28, 23h), utc(2026y / 3 / 29, 21h + 59min)), "today");
    // The 25-hour day when they go back: its first and last minute are the same day.
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 10 / 24, 22h), utc(2026y / 10 / 25, 22h + 59min)), "today");
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 10 / 24, 22h), utc(2026y / 10 / 25, 23h)), "yesterday");

    useZone(u"America/New_York");
    // 23:30 and 00:30 local fall on the same UTC day, but on two local days.
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 7 / 9, 3h + 30min), utc(2026y / 7 / 9, 4h + 30min)), "yesterday");
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 3 / 8, 5h), utc(2026y / 3 / 9, 4h)), "yesterday"); // 23 h apart
    EXPECT_EQ(JiraDate::relativeDays(utc(2026y / 11 / 2, 6h), utc(2026y / 10 / 31, 4h)),
              "in 2 days"); // 25-hour day between
}

TEST_F(JiraDateTest, DayLabelUsesTheDefaultLocaleAndZone)
{
    const TimePoint instant = utc(2026y / 7 / 7, 22h + 30min);
    useLocale("en_US");
    useZone(u"Europe/Berlin");
    EXPECT_EQ(JiraDate::dayLabel(instant), "08 July 2026");
    useZone(u"America/New_York");
    EXPECT_EQ(JiraDate::dayLabel(instant), "07 July 2026");
    useLocale("de_DE");
    EXPECT_EQ(JiraDate::dayLabel(utc(2026y / 3 / 5, 12h)), "05 M\u00e4rz 2026");
    useLocale("fr_FR");
    EXPECT_EQ(JiraDate::dayLabel(utc(2026y / 12 / 25, 12h)), "25 d\u00e9cembre 2026");
}

TEST_F(JiraDateTest, ParsersAreSafeToShareBetweenThreads)
{
    useZone(u"UTC");
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                int day = 1 + (i + t) % 28;
                std::string stamp = "2026-02-" + std::string(day < 10 ? "0" : "") + std::to_string(day);
                if (JiraDate::parse(stamp) != utc(2026y / 2 / day) ||
                    JiraDate::parse(stamp + "T06:00:00.000+0000") != utc(2026y / 2 / day, 6h)) {
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
