#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace taskbell::JiraDate {

using TimePoint = std::chrono::system_clock::time_point;

// Sort date of an issue without any usable date. The clock counts nanoseconds in 64 bits, so its range
// is roughly 1677..2262; this is the first whole year inside it, earlier than any parsed date.
inline constexpr TimePoint distantPast{std::chrono::sys_days{std::chrono::year{1678} / 1 / 1}};

// Jira timestamps ("2026-07-08T09:12:33.123+0200", the same without milliseconds) and plain days
// ("2026-07-15", the start of that day in the current default time zone: midnight, or the first valid
// time where the clocks skip midnight). The whole text must match, white space included; empty or absent
// text, and dates outside the clock's range, give nothing. Safe to call from any thread.
std::optional<TimePoint> parse(std::optional<std::string_view> text);

// `date` by an ICU pattern in the default locale and the user's time zone. Patterns of days, months and years
// in a Gregorian locale are written from the locale's month names and digits at the C library's local date
// (TZ, else /etc/localtime, where ICU's default zone is read from too); any other pattern or calendar by
// ICU's formatter in ICU's default zone, made once per pattern (and again when the default locale changes).
// Labelling many dates costs little. Safe from any thread.
std::string formatLocal(std::u16string_view pattern, TimePoint date);

// "08 July 2026": pattern "dd MMMM yyyy" in the default locale and the user's time zone.
std::string dayLabel(TimePoint date);

// "today", "yesterday", "tomorrow", "N days ago" or "in N days", counting calendar days in the
// user's time zone (the C library's local time) between the day of `date` and the day of `now`.
std::string relativeDays(TimePoint date, TimePoint now);

} // namespace taskbell::JiraDate
