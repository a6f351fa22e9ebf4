#include "core/jira/date.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <unicode/dtfmtsym.h>
#include <unicode/gregocal.h>
#include <unicode/numsys.h>
#include <unicode/smpdtfmt.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/uenum.h>

namespace taskbell::JiraDate {
namespace {

using std::chrono::milliseconds;

// Jira's usual timestamp, the same without milliseconds, and plain days such as due dates.
constexpr std::array<const char16_t*, 3> kPatterns = {u"yyyy-MM-dd'T'HH:mm:ss.SSSZ", u"yyyy-MM-dd'T'HH:mm:ssZ",
                                                      u"yyyy-MM-dd"};

// The plain-day pattern carries no offset: it is read in UTC and then moved to the local start of that day.
constexpr std::size_t kDayPattern = 2;

// Longer texts cannot match any pattern; refusing them early keeps ICU away from hostile lengths.
constexpr std::size_t kLongestTimestamp = 64;

// Last representable whole year of the clock, the mirror of distantPast.
constexpr TimePoint kDistantFuture{std::chrono::sys_days{std::chrono::year{2262} / 1 / 1}};

// ICU formatters are not safe for concurrent use, even to parse, so the shared ones are used under a lock.
struct Parsers
{
    Parsers()
    {
        for (const char16_t* pattern : kPatterns) {
            UErrorCode status = U_ZERO_ERROR;
            auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern),
                                                                  icu::Locale("en_US_POSIX"), status);
            if (U_FAILURE(status)) {
                format.reset(); // kept as a gap so that each pattern keeps its place
            } else {
                format->setLenient(false);
                if (formats.size() == kDayPattern) {
                    format->setTimeZone(*icu::TimeZone::getGMT());
                }
            }
            formats.push_back(std::move(format));
        }
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<icu::SimpleDateFormat>> formats;
};

Parsers& parsers()
{
    static Parsers shared; // created once, on first use, thread-safely
    return shared;
}

UDate toUDate(TimePoint time)
{
    return static_cast<UDate>(std::chrono::floor<milliseconds>(time.time_since_epoch()).count());
}

std::optional<TimePoint> fromUDate(UDate date)
{
    // Converting a date outside the clock's range would overflow; NaN fails both comparisons.
    if (!(date >= toUDate(distantPast) && date < toUDate(kDistantFuture))) {
        return std::nullopt;
    }
    return TimePoint(milliseconds(std::llround(date)));
}

// Timestamps consist of digits, separators and zone letters. ICU skips blanks before numbers even when
// strict, so any white space (or other character outside printable ASCII) is refused up front.
bool isTimestampCharacter(char c)
{
    return c > ' ' && c < 0x7F;
}

// The first moment of a calendar day (given as UTC midnight) in the current default time zone. Where the
// clocks skip midnight the day starts at the first valid time instead of the day being unreadable.
std::optional<TimePoint> localStartOfDay(UDate utcMidnight)
{
    auto midnight = fromUDate(utcMidnight);
    if (!midnight) {
        return std::nullopt;
    }
    std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(*midnight)};
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(icu::TimeZone::createDefault(), status);
    calendar.setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    calendar.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar.clear();
    calendar.set(static_cast<int32_t>(day.year()), static_cast<int32_t>(static_cast<unsigned>(day.month())) - 1,
                 static_cast<int32_t>(static_cast<unsigned>(day.day())));
    UDate start = calendar.getTime(status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return fromUDate(start);
}

// The digits at [at, at + count) as a number, or -1 when one of them is not a digit.
int digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Jira's own timestamps, read without ICU: a panel reads hundreds of them on every reload. Only texts whose
// every field is plainly valid are read here (ordinary years and offsets); everything else goes to ICU.
std::optional<TimePoint> parseTimestamp(std::string_view text)
{
    bool withMillis = text.size() == 28;
    if (!withMillis && text.size() != 24) {
        return std::nullopt;
    }
    std::size_t zone = withMillis ? 23 : 19;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        (withMillis && text[19] != '.') || (text[zone] != '+' && text[zone] != '-')) {
        return std::nullopt;
    }
    int year = digits(text, 0, 4);
    int month = digits(text, 5, 2);
    int day = digits(text, 8, 2);
    int hour = digits(text, 11, 2);
    int minute = digits(text, 14, 2);
    int second = digits(text, 17, 2);
    int millis = withMillis ? digits(text, 20, 3) : 0;
    int offsetHours = digits(text, zone + 1, 2);
    int offsetMinutes = digits(text, zone + 3, 2);
    std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day))};
    if (year < 1900 || year > 2200 || !date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59 || millis < 0 || offsetHours < 0 || offsetHours > 14 || offsetMinutes < 0 || offsetMinutes > 59) {
        return std::nullopt;
    }
    auto offset = std::chrono::hours(offsetHours) + std::chrono::minutes(offsetMinutes);
    auto local = std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
                 std::chrono::seconds(second) + milliseconds(millis);
    return TimePoint(text[zone] == '+' ? local - offset : local + offset);
}

// One part of a date pattern: a field (a letter repeated `count` times) or literal text.
struct PatternPart
{
    char16_t field = 0; // 0 for literal text
    int count = 0;
    icu::UnicodeString literal;
};

bool isPatternLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The pattern read by ICU's rules (letters are fields, text between single quotes and other characters is
// literal, '' is a quote), when it holds only the fields formatted here: day of month (d, dd), month (M to
// MMMMM, L to LLLLL) and year (y to yyyy). Anything else is left to ICU's own formatter.
std::optional<std::vector<PatternPart>> simpleParts(std::u16string_view pattern)
{
    std::vector<PatternPart> parts;
    auto literal = [&]() -> icu::UnicodeString& {
        if (parts.empty() || parts.back().field != 0) {
            parts.emplace_back();
        }
        return parts.back().literal;
    };
    bool quoted = false;
    for (std::size_t i = 0; i < pattern.size();) {
        char16_t c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                literal().append(c); // a doubled quote, inside quoted text or not
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else if (!quoted && isPatternLetter(c)) {
            std::size_t end = pattern.find_first_not_of(c, i);
            int count = static_cast<int>((end == std::u16string_view::npos ? pattern.size() : end) - i);
            bool known =
                (c == u'd' && count <= 2) || ((c == u'M' || c == u'L') && count <= 5) || (c == u'y' && count <= 4);
            if (!known) {
                return std::nullopt;
            }
            parts.push_back({c, count, {}});
            i += static_cast<std::size_t>(count);
        } else {
            literal().append(c);
            ++i;
        }
    }
    if (quoted) {
        return std::nullopt; // unterminated: ICU decides what that means
    }
    return parts;
}

// The local date of `time` as the C library reads the user's time zone (TZ, else /etc/localtime), the same
// setting ICU's default zone is detected from. Asking the C library keeps ICU's zone data and calendars out of
// the process for the labels a panel shows; nothing when the date cannot be converted.
std::optional<std::tm> localDate(TimePoint time)
{
    auto seconds = std::chrono::floor<std::chrono::seconds>(time.time_since_epoch()).count();
    auto stamp = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&stamp, &local) == nullptr) {
        return std::nullopt;
    }
    return local;
}

// True when dates in `locale` are written in the Gregorian calendar: it names no calendar of its own and its
// region prefers the Gregorian one, which is how ICU chooses a locale's calendar.
bool writesGregorianDates(const icu::Locale& locale)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::StringEnumeration> keywords(locale.createKeywords(status));
    if (U_FAILURE(status) || (keywords && keywords->count(status) > 0)) {
        return false;
    }
    UEnumeration* preferred = ucal_getKeywordValuesForLocale("calendar", locale.getName(), true, &status);
    const char* first = U_SUCCESS(status) ? uenum_next(preferred, nullptr, &status) : nullptr;
    bool gregorian = U_SUCCESS(status) && first != nullptr && std::string_view(first) == "gregorian";
    uenum_close(preferred);
    return gregorian;
}

// The default locale's month names and digits, for the simple patterns in a Gregorian locale. ICU's
// SimpleDateFormat would also set up its calendars, zone data and whole number formatting, about three
// megabytes of code and data kept resident, to print a day, a month and a year. Locales with another
// calendar are left to SimpleDateFormat.
class SimpleFormatter
{
public:
    static std::unique_ptr<SimpleFormatter> forDefaultLocale()
    {
        auto formatter = std::unique_ptr<SimpleFormatter>(new SimpleFormatter);
        return formatter->ready_ ? std::move(formatter) : nullptr;
    }

    // Empty when the date has no local date.
    icu::UnicodeString format(const std::vector<PatternPart>& parts, TimePoint date) const
    {
        icu::UnicodeString text;
        auto local = localDate(date);
        if (!local) {
            return text;
        }
        for (const PatternPart& part : parts) {
            switch (part.field) {
            case 0:
                text.append(part.literal);
                break;
            case u'd':
                appendNumber(text, local->tm_mday, part.count);
                break;
            case u'y': {
                int year = local->tm_year + 1900;
                appendNumber(text, part.count == 2 ? year % 100 : year, part.count);
                break;
            }
            default: // M or L
                appendMonth(text, local->tm_mon, part);
                break;
            }
        }
        return text;
    }

private:
    SimpleFormatter()
    {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Locale& locale = icu::Locale::getDefault();
        if (!writesGregorianDates(locale)) {
            return;
        }
        symbols_ = std::make_unique<icu::DateFormatSymbols>(locale, status);
        std::unique_ptr<icu::NumberingSystem> numbering(icu::NumberingSystem::createInstance(locale, status));
        if (U_FAILURE(status) || !numbering || numbering->isAlgorithmic() || numbering->getRadix() != 10) {
            return;
        }
        icu::UnicodeString digits = numbering->getDescription();
        if (digits.countChar32() != 10) {
            return;
        }
        for (int32_t digit = 0, at = 0; digit < 10; ++digit) {
            int32_t next = digits.moveIndex32(at, 1);
            digits_[static_cast<std::size_t>(digit)] = icu::UnicodeString(digits, at, next - at);
            at = next;
        }
        ready_ = true;
    }

    // `value` in the locale's digits, padded with its zero to at least `width` digits.
    void appendNumber(icu::UnicodeString& text, int32_t value, int width) const
    {
        std::string decimal = std::to_string(value < 0 ? 0 : value);
        for (int pad = width - static_cast<int>(decimal.size()); pad > 0; --pad) {
            text.append(digits_[0]);
        }
        for (char digit : decimal) {
            text.append(digits_[static_cast<std::size_t>(digit - '0')]);
        }
    }

    void appendMonth(icu::UnicodeString& text, int32_t month, const PatternPart& part) const
    {
        if (part.count <= 2) {
            appendNumber(text, month + 1, part.count);
            return;
        }
        auto context = part.field == u'L' ? icu::DateFormatSymbols::STANDALONE : icu::DateFormatSymbols::FORMAT;
        auto width = part.count == 3   ? icu::DateFormatSymbols::ABBREVIATED
                     : part.count == 4 ? icu::DateFormatSymbols::WIDE
                                       : icu::DateFormatSymbols::NARROW;
        int32_t count = 0;
        const icu::UnicodeString* names = symbols_->getMonths(count, context, width);
        if (month >= 0 && month < count) {
            text.append(names[month]);
        }
    }

    std::unique_ptr<icu::DateFormatSymbols> symbols_;
    std::array<icu::UnicodeString, 10> digits_;
    bool ready_ = false;
};

// The formatters in use, each made again when the default locale changed: the simple one when the locale
// allows it, and ICU's SimpleDateFormat for each other pattern.
struct Formats
{
    std::mutex mutex;
    std::string locale;
    bool simpleTried = false;
    std::unique_ptr<SimpleFormatter> simple;
    std::map<std::u16string, std::unique_ptr<icu::SimpleDateFormat>, std::less<>> byPattern;
};

} // namespace

std::optional<TimePoint> parse(std::optional<std::string_view> text)
{
    if (!text || text->empty() || text->size() > kLongestTimestamp ||
        !std::all_of(text->begin(), text->end(), isTimestampCharacter)) {
        return std::nullopt;
    }
    if (auto timestamp = parseTimestamp(*text)) {
        return timestamp;
    }
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text->data(), static_cast<int32_t>(text->size())));
    Parsers& shared = parsers();
    std::unique_lock lock(shared.mutex);
    for (std::size_t i = 0; i < shared.formats.size(); ++i) {
        if (!shared.formats[i]) {
            continue;
        }
        icu::ParsePosition position(0);
        UDate date = shared.formats[i]->parse(unicode, position);
        if (position.getErrorIndex() == -1 && position.getIndex() == unicode.length()) {
            lock.unlock();
            return i == kDayPattern ? localStartOfDay(date) : fromUDate(date);
        }
    }
    return std::nullopt;
}

std::string formatLocal(std::u16string_view pattern, TimePoint date)
{
    static Formats shared;
    std::lock_guard lock(shared.mutex);
    const char* locale = icu::Locale::getDefault().getName();
    if (shared.locale != locale) {
        shared.byPattern.clear();
        shared.simple.reset();
        shared.simpleTried = false;
        shared.locale = locale;
    }
    if (auto parts = simpleParts(pattern)) {
        if (!shared.simpleTried) {
            shared.simple = SimpleFormatter::forDefaultLocale();
            shared.simpleTried = true;
        }
        if (shared.simple) {
            std::string text;
            shared.simple->format(*parts, date).toUTF8String(text);
            return text;
        }
    }
    auto found = shared.byPattern.find(pattern);
    if (found == shared.byPattern.end()) {
        UErrorCode status = U_ZERO_ERROR;
        auto format = std::make_unique<icu::SimpleDateFormat>(
            icu::UnicodeString(pattern.data(), static_cast<int32_t>(pattern.size())), icu::Locale::getDefault(),
            status);
        if (U_FAILURE(status)) {
            return {};
        }
        found = shared.byPattern.emplace(std::u16string(pattern), std::move(format)).first;
    }
    icu::SimpleDateFormat& format = *found->second;
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    if (zone && *zone != format.getTimeZone()) {
        format.adoptTimeZone(zone.release());
    }
    icu::UnicodeString label;
    format.format(toUDate(date), label);
    std::string text;
    label.toUTF8String(text);
    return text;
}

std::string dayLabel(TimePoint date)
{
    return formatLocal(u"dd MMMM yyyy", date);
}

std::string relativeDays(TimePoint date, TimePoint now)
{
    // Local dates are counted, not spans of 24 hours: a day is a day whatever its hours (23 or 25 on
    // daylight-saving changes).
    auto localDay = [](TimePoint time) -> std::optional<std::int64_t> {
        auto local = localDate(time);
        if (!local) {
            return std::nullopt;
        }
        std::chrono::year_month_day day{std::chrono::year{local->tm_year + 1900},
                                        std::chrono::month(static_cast<unsigned>(local->tm_mon + 1)),
                                        std::chrono::day(static_cast<unsigned>(local->tm_mday))};
        return std::chrono::sys_days(day).time_since_epoch().count();
    };
    auto from = localDay(date);
    auto to = localDay(now);
    if (!from || !to) {
        return {};
    }
    std::int64_t days = *to - *from;
    switch (days) {
    case -1:
        return "tomorrow";
    case 0:
        return "today";
    case 1:
        return "yesterday";
    default:
        return days > 0 ? std::to_string(days) + " days ago" : "in " + std::to_string(-days) + " days";
    }
}

} // namespace taskbell::JiraDate
