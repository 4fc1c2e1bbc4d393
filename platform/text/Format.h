#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/Environment.h"
#include "platform/values/Date.h"

// Locale-aware numbers and dates. Locales are ICU/POSIX identifiers such as "en_US",
// "de_DE" or "en_US_POSIX"; nothing here reads the process's locale or time zone
// behind the caller's back: both are always passed in.
namespace platform::text {

// ---- Numbers ----------------------------------------------------------------------

// With the locale's grouping: 12345 -> "12,345" (en_US), "12.345" (de_DE).
std::string formatInteger(std::int64_t value, std::string_view locale);

struct DecimalFormat {
    int minimumFractionDigits = 0;
    int maximumFractionDigits = 3;  // rounded half to even beyond this
    bool grouping = true;
};
// 1234.5 -> "1,234.5" (en_US), "1.234,5" (de_DE).
std::string formatDecimal(double value, std::string_view locale, DecimalFormat format = {});

// ---- Time zones and calendars -------------------------------------------------------

// A validated time-zone identifier ("Europe/Berlin", "UTC", "America/New_York").
class TimeZone {
public:
    // Nothing for an identifier ICU does not know.
    static std::optional<TimeZone> named(std::string_view identifier);
    static TimeZone utc();
    // The zone in effect for this process: TZ (a zone name, ":"-prefixed or a
    // zoneinfo path), else /etc/timezone, else the /etc/localtime link, else UTC.
    static TimeZone system(const Environment& environment);

    const std::string& identifier() const { return identifier_; }
    // Offset from UTC at `date`, in seconds (daylight saving included).
    int secondsFromGMT(Date date) const;
    friend bool operator==(const TimeZone&, const TimeZone&) = default;

private:
    explicit TimeZone(std::string identifier) : identifier_(std::move(identifier)) {}
    std::string identifier_;
};

// Local calendar fields of a moment. `weekday` is 1 for Sunday through 7 for Saturday.
struct DateComponents {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    int weekday = 0;
    friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// Gregorian calendar arithmetic in one time zone; day steps follow the local calendar,
// so a daylight-saving change neither skips nor repeats a day. Safe to share between threads.
class Calendar {
public:
    explicit Calendar(TimeZone zone);
    ~Calendar();
    Calendar(const Calendar& other);
    Calendar& operator=(const Calendar& other);

    const TimeZone& timeZone() const { return zone_; }

    DateComponents components(Date date) const;
    int hour(Date date) const { return components(date).hour; }
    // The first moment of the local day that holds `date`.
    Date startOfDay(Date date) const;
    // The same local wall-clock time `days` calendar days later (or earlier when negative);
    // where that time does not exist on the target day, the next existing moment.
    Date addingDays(Date date, int days) const;
    bool isDateInSameDay(Date a, Date b) const;
    // The moment of a local date and time; nothing for fields out of range (month 13, Feb 30).
    std::optional<Date> date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) const;

private:
    struct State;
    TimeZone zone_;
    std::unique_ptr<State> state_;
};

// ---- Dates as text ----------------------------------------------------------------

enum class DateStyle { none, short_, medium, long_, full };

// Formats and parses with a fixed pattern ("yyyy-MM-dd") or the locale's styles,
// always with the Gregorian calendar. Parsing is strict: the whole text must match.
// Safe to share between threads; build one and reuse it for repeated work. A pattern
// ICU cannot read gives a formatter that formats as "" and parses nothing.
class DateFormatter {
public:
    static DateFormatter withPattern(std::string_view pattern, std::string_view locale, TimeZone zone);
    static DateFormatter withStyles(DateStyle dateStyle, DateStyle timeStyle, std::string_view locale,
                                    TimeZone zone);
    ~DateFormatter();
    DateFormatter(DateFormatter&&) noexcept;
    DateFormatter& operator=(DateFormatter&&) noexcept;

    std::string format(Date date) const;
    std::optional<Date> parse(std::string_view text) const;

private:
    struct State;
    explicit DateFormatter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// One-off conveniences over DateFormatter.
std::string formatDate(Date date, std::string_view pattern, std::string_view locale, const TimeZone& zone);
std::string formatDate(Date date, DateStyle dateStyle, DateStyle timeStyle, std::string_view locale,
                       const TimeZone& zone);

}  // namespace platform::text
