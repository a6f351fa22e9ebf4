#include "core/jira/month_group.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include <unicode/calendar.h>
#include <unicode/timezone.h>

namespace taskbell::JiraDate {
namespace {

// "de_DE.UTF-8@euro" -> "de_DE": ICU takes the language and region; the code set and modifier say
// nothing about month names.
std::string icuName(std::string posix)
{
    posix = posix.substr(0, posix.find_first_of(".@"));
    if (posix.empty() || posix == "C" || posix == "POSIX") {
        return "en_US";
    }
    return posix;
}

} // namespace

std::string displayLocaleName()
{
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return icuName(value);
        }
    }
    return "en_US";
}

void applyDisplayLocale()
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(displayLocaleName().c_str()), status);
}

std::string monthLabel(TimePoint date)
{
    return formatLocal(u"LLLL yyyy", date);
}

} // namespace taskbell::JiraDate

namespace taskbell {
namespace {

// The first moment of the date's month in the display locale's calendar (era, year and month only); the
// date itself when the calendar cannot make that moment.
UDate monthStart(icu::Calendar& calendar, UDate date)
{
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(date, status);
    int32_t era = calendar.get(UCAL_ERA, status);
    int32_t year = calendar.get(UCAL_YEAR, status);
    int32_t month = calendar.get(UCAL_MONTH, status);
    int32_t leapMonth = calendar.get(UCAL_IS_LEAP_MONTH, status);
    calendar.clear();
    calendar.set(UCAL_ERA, era);
    calendar.set(UCAL_YEAR, year);
    calendar.set(UCAL_MONTH, month);
    calendar.set(UCAL_IS_LEAP_MONTH, leapMonth);
    UDate start = calendar.getTime(status);
    return U_FAILURE(status) ? date : start;
}

} // namespace

std::vector<MonthGroup> groupByMonth(const std::vector<Issue>& issues)
{
    if (issues.empty()) {
        return {};
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icu::TimeZone::createDefault(), icu::Locale::getDefault(), status));
    // Newest month first; the key is the month's first moment in milliseconds.
    std::map<UDate, std::vector<Issue>, std::greater<>> groups;
    for (const Issue& issue : issues) {
        UDate date = static_cast<UDate>(
            std::chrono::floor<std::chrono::milliseconds>(issue.sortDate().time_since_epoch()).count());
        UDate key = U_SUCCESS(status) ? monthStart(*calendar, date) : date;
        groups[key].push_back(issue);
    }
    std::vector<MonthGroup> result;
    result.reserve(groups.size());
    for (auto& [key, members] : groups) {
        auto start = JiraDate::TimePoint(std::chrono::milliseconds(static_cast<std::int64_t>(key)));
        result.push_back({JiraDate::monthLabel(start), std::move(members)});
    }
    return result;
}

} // namespace taskbell
