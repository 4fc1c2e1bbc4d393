#include "platform/text/Format.h"

#include <chrono>
#include <climits>
#include <fstream>
#include <mutex>
#include <unistd.h>

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/numberformatter.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include "platform/text/IcuSupport.h"

namespace platform::text {
namespace {

icu::Locale icuLocale(std::string_view locale) { return icu::Locale(std::string(locale).c_str()); }

icu::UnicodeString fromUtf8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

UDate toUDate(Date d) { return d.timeIntervalSince1970() * 1000.0; }
Date fromUDate(UDate u) { return Date::fromTimeIntervalSince1970(u / 1000.0); }

std::unique_ptr<icu::TimeZone> icuZone(const TimeZone& zone) {
    return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(fromUtf8(zone.identifier())));
}

}  // namespace

// ---- Numbers ----------------------------------------------------------------------

std::string formatInteger(std::int64_t value, std::string_view locale) {
    const auto f = icu::number::NumberFormatter::withLocale(icuLocale(locale)).grouping(UNUM_GROUPING_AUTO);
    UErrorCode status = U_ZERO_ERROR;
    std::string out = detail::toUtf8(f.formatInt(value, status).toString(status));
    return U_SUCCESS(status) ? out : std::to_string(value);
}

std::string formatDecimal(double value, std::string_view locale, DecimalFormat format) {
    const auto f = icu::number::NumberFormatter::withLocale(icuLocale(locale))
                       .precision(icu::number::Precision::minMaxFraction(format.minimumFractionDigits,
                                                                         format.maximumFractionDigits))
                       .roundingMode(UNUM_ROUND_HALFEVEN)
                       .grouping(format.grouping ? UNUM_GROUPING_AUTO : UNUM_GROUPING_OFF);
    UErrorCode status = U_ZERO_ERROR;
    std::string out = detail::toUtf8(f.formatDouble(value, status).toString(status));
    return U_SUCCESS(status) ? out : std::string();
}

// ---- Time zones ---------------------------------------------------------------------

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
    if (identifier.empty()) return std::nullopt;
    auto zone = std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(fromUtf8(identifier)));
    icu::UnicodeString id;
    if (!zone || zone->getID(id) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) return std::nullopt;
    return TimeZone(std::string(identifier));
}

TimeZone TimeZone::utc() { return TimeZone("UTC"); }

TimeZone TimeZone::system(const Environment& environment) {
    // A zoneinfo path or link target names its zone after ".../zoneinfo/".
    auto fromPath = [](std::string path) -> std::optional<TimeZone> {
        const auto at = path.find("zoneinfo/");
        if (at != std::string::npos) path = path.substr(at + 9);
        return named(path);
    };
    if (auto tz = environment.get("TZ")) {
        std::string value = *tz;
        if (!value.empty() && value[0] == ':') value.erase(0, 1);
        if (value.empty()) return utc();
        if (auto zone = fromPath(value)) return *zone;
        return utc();  // what the C library does with a zone it cannot read
    }
    std::ifstream etcTimezone("/etc/timezone");
    std::string line;
    if (std::getline(etcTimezone, line))
        if (auto zone = named(line)) return *zone;
    char target[PATH_MAX];
    const ssize_t n = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0)
        if (auto zone = fromPath(std::string(target, static_cast<std::size_t>(n)))) return *zone;
    return utc();
}

int TimeZone::secondsFromGMT(Date date) const {
    auto zone = icuZone(*this);
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->getOffset(toUDate(date), false, raw, dst, status);
    return U_SUCCESS(status) ? (raw + dst) / 1000 : 0;
}

// ---- Calendar -------------------------------------------------------------------------

struct Calendar::State {
    std::mutex mutex;  // ICU calendars keep their current time inside
    std::unique_ptr<icu::Calendar> calendar;
};

Calendar::Calendar(TimeZone zone) : zone_(std::move(zone)), state_(std::make_unique<State>()) {
    UErrorCode status = U_ZERO_ERROR;
    state_->calendar = std::make_unique<icu::GregorianCalendar>(icuZone(zone_).release(), icu::Locale::getRoot(), status);
    if (U_FAILURE(status)) std::abort();  // only without ICU data
}

Calendar::~Calendar() = default;

Calendar::Calendar(const Calendar& other) : zone_(other.zone_), state_(std::make_unique<State>()) {
    std::lock_guard lock(other.state_->mutex);
    state_->calendar.reset(other.state_->calendar->clone());
}

Calendar& Calendar::operator=(const Calendar& other) {
    if (this != &other) {
        Calendar copy(other);
        zone_ = copy.zone_;
        state_ = std::move(copy.state_);
    }
    return *this;
}

DateComponents Calendar::components(Date date) const {
    std::lock_guard lock(state_->mutex);
    auto& cal = *state_->calendar;
    UErrorCode status = U_ZERO_ERROR;
    cal.setTime(toUDate(date), status);
    DateComponents c;
    c.year = cal.get(UCAL_EXTENDED_YEAR, status);
    c.month = cal.get(UCAL_MONTH, status) + 1;
    c.day = cal.get(UCAL_DATE, status);
    c.hour = cal.get(UCAL_HOUR_OF_DAY, status);
    c.minute = cal.get(UCAL_MINUTE, status);
    c.second = cal.get(UCAL_SECOND, status);
    c.weekday = cal.get(UCAL_DAY_OF_WEEK, status);
    return c;
}

Date Calendar::startOfDay(Date date) const {
    std::lock_guard lock(state_->mutex);
    auto& cal = *state_->calendar;
    UErrorCode status = U_ZERO_ERROR;
    cal.setTime(toUDate(date), status);
    cal.set(UCAL_HOUR_OF_DAY, 0);
    cal.set(UCAL_MINUTE, 0);
    cal.set(UCAL_SECOND, 0);
    cal.set(UCAL_MILLISECOND, 0);
    // A midnight skipped by a clock change resolves to the first moment after the gap.
    return fromUDate(cal.getTime(status));
}

Date Calendar::addingDays(Date date, int days) const {
    std::lock_guard lock(state_->mutex);
    auto& cal = *state_->calendar;
    UErrorCode status = U_ZERO_ERROR;
    cal.setTime(toUDate(date), status);
    cal.add(UCAL_DATE, days, status);
    return fromUDate(cal.getTime(status));
}

bool Calendar::isDateInSameDay(Date a, Date b) const {
    const auto ca = components(a);
    const auto cb = components(b);
    return ca.year == cb.year && ca.month == cb.month && ca.day == cb.day;
}

std::optional<Date> Calendar::date(int year, int month, int day, int hour, int minute, int second) const {
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok() || month < 1 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59)
        return std::nullopt;
    std::lock_guard lock(state_->mutex);
    auto& cal = *state_->calendar;
    cal.clear();
    cal.set(UCAL_EXTENDED_YEAR, year);
    cal.set(UCAL_MONTH, month - 1);
    cal.set(UCAL_DATE, day);
    cal.set(UCAL_HOUR_OF_DAY, hour);
    cal.set(UCAL_MINUTE, minute);
    cal.set(UCAL_SECOND, second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate u = cal.getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return fromUDate(u);
}

// ---- Date formatting ---------------------------------------------------------------

struct DateFormatter::State {
    std::mutex mutex;  // ICU formatters are not safe for concurrent use
    std::unique_ptr<icu::DateFormat> format;  // null when both styles are none
};

namespace {

icu::DateFormat::EStyle icuStyle(DateStyle s) {
    switch (s) {
        case DateStyle::none: return icu::DateFormat::kNone;
        case DateStyle::short_: return icu::DateFormat::kShort;
        case DateStyle::medium: return icu::DateFormat::kMedium;
        case DateStyle::long_: return icu::DateFormat::kLong;
        case DateStyle::full: return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

void prepare(icu::DateFormat& format, const TimeZone& zone, const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    auto* calendar = new icu::GregorianCalendar(icuZone(zone).release(), locale, status);
    format.adoptCalendar(calendar);
    format.setLenient(false);
}

}  // namespace

DateFormatter::DateFormatter(std::unique_ptr<State> state) : state_(std::move(state)) {}
DateFormatter::~DateFormatter() = default;
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;

DateFormatter DateFormatter::withPattern(std::string_view pattern, std::string_view locale, TimeZone zone) {
    auto state = std::make_unique<State>();
    const icu::Locale loc = icuLocale(locale);
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(fromUtf8(pattern), loc, status);
    if (U_SUCCESS(status)) {
        prepare(*format, zone, loc);
        state->format = std::move(format);
    }
    return DateFormatter(std::move(state));
}

DateFormatter DateFormatter::withStyles(DateStyle dateStyle, DateStyle timeStyle, std::string_view locale,
                                        TimeZone zone) {
    auto state = std::make_unique<State>();
    if (dateStyle != DateStyle::none || timeStyle != DateStyle::none) {
        const icu::Locale loc = icuLocale(locale);
        state->format.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), loc));
        if (state->format) prepare(*state->format, zone, loc);
    }
    return DateFormatter(std::move(state));
}

std::string DateFormatter::format(Date date) const {
    if (!state_->format) return {};
    std::lock_guard lock(state_->mutex);
    icu::UnicodeString out;
    state_->format->format(toUDate(date), out);
    return detail::toUtf8(out);
}

std::optional<Date> DateFormatter::parse(std::string_view text) const {
    if (!state_->format) return std::nullopt;
    const icu::UnicodeString input = fromUtf8(text);
    std::lock_guard lock(state_->mutex);
    icu::ParsePosition position(0);
    const UDate u = state_->format->parse(input, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
    return fromUDate(u);
}

std::string formatDate(Date date, std::string_view pattern, std::string_view locale, const TimeZone& zone) {
    return DateFormatter::withPattern(pattern, locale, zone).format(date);
}

std::string formatDate(Date date, DateStyle dateStyle, DateStyle timeStyle, std::string_view locale,
                       const TimeZone& zone) {
    return DateFormatter::withStyles(dateStyle, timeStyle, locale, zone).format(date);
}

}  // namespace platform::text
