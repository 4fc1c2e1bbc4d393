#include "platform/values/Date.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include <fmt/core.h>

namespace platform {
namespace {

using namespace std::chrono;

// Beyond this, millisecond arithmetic in 64 bits and the calendar types lose their footing.
constexpr double kLargestFormattableUnixSeconds = 1e13;

bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& out) {
    if (pos + count > text.size()) return false;
    int v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    pos += count;
    out = v;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

// Whole seconds and the fraction go separately: a nanosecond count near 2^60 is
// not exact as a double, the offset from the reference date and the fraction are.
Date Date::fromSystemClock(system_clock::time_point tp) {
    const auto since1970 = duration_cast<nanoseconds>(tp.time_since_epoch());
    const auto whole = floor<seconds>(since1970);
    const auto fraction = since1970 - whole;
    return fromTimeIntervalSinceReferenceDate(
        static_cast<double>(whole.count() - static_cast<std::int64_t>(kReferenceDateUnixSeconds)) +
        static_cast<double>(fraction.count()) / 1e9);
}

Date Date::now() { return fromSystemClock(system_clock::now()); }

system_clock::time_point Date::toSystemClock() const {
    if (std::isnan(seconds_)) return system_clock::time_point();
    if (std::fabs(seconds_) > kLargestFormattableUnixSeconds)
        return seconds_ > 0 ? system_clock::time_point::max() : system_clock::time_point::min();
    const double whole = std::floor(seconds_);
    const auto since1970 =
        seconds(static_cast<std::int64_t>(whole) + static_cast<std::int64_t>(kReferenceDateUnixSeconds)) +
        nanoseconds(std::llround((seconds_ - whole) * 1e9));
    return system_clock::time_point(duration_cast<system_clock::duration>(since1970));
}

void FixedClock::advance(double seconds) {
    double current = seconds_.load(std::memory_order_relaxed);
    while (!seconds_.compare_exchange_weak(current, current + seconds, std::memory_order_acq_rel)) {
    }
}

std::string formatIso8601(Date date, bool fractionalSeconds) {
    const double unix = date.timeIntervalSince1970();
    if (!std::isfinite(unix) || std::fabs(unix) > kLargestFormattableUnixSeconds) return {};
    std::int64_t ms = std::llround(unix * 1000.0);
    if (!fractionalSeconds) ms = static_cast<std::int64_t>(std::floor(unix)) * 1000;
    const std::int64_t totalSeconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    const int millis = static_cast<int>(ms - totalSeconds * 1000);
    const auto day = floor<days>(sys_seconds(seconds(totalSeconds)));
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> tod(sys_seconds(seconds(totalSeconds)) - day);
    std::string out = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", int(ymd.year()),
                                  unsigned(ymd.month()), unsigned(ymd.day()), tod.hours().count(),
                                  tod.minutes().count(), tod.seconds().count());
    if (fractionalSeconds) out += fmt::format(".{:03}", millis);
    out += 'Z';
    return out;
}

std::optional<Date> parseIso8601(std::string_view text) {
    std::size_t pos = 0;
    int y, mo, d, h, mi, s;
    if (!readDigits(text, pos, 4, y) || !expect(text, pos, '-') || !readDigits(text, pos, 2, mo) ||
        !expect(text, pos, '-') || !readDigits(text, pos, 2, d) || !expect(text, pos, 'T') ||
        !readDigits(text, pos, 2, h) || !expect(text, pos, ':') || !readDigits(text, pos, 2, mi) ||
        !expect(text, pos, ':') || !readDigits(text, pos, 2, s))
        return std::nullopt;

    double fraction = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos == start) return std::nullopt;
        const std::string decimal = "0." + std::string(text.substr(start, pos - start));
        std::from_chars(decimal.data(), decimal.data() + decimal.size(), fraction);
    }

    int offsetMinutes = 0;
    if (pos >= text.size()) return std::nullopt;
    if (text[pos] == 'Z') {
        ++pos;
    } else if (text[pos] == '+' || text[pos] == '-') {
        const int sign = text[pos] == '+' ? 1 : -1;
        ++pos;
        int oh, om;
        if (!readDigits(text, pos, 2, oh)) return std::nullopt;
        if (pos < text.size() && text[pos] == ':') ++pos;
        if (!readDigits(text, pos, 2, om)) return std::nullopt;
        if (oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;

    const year_month_day ymd{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
    const std::int64_t daysSinceEpoch = sys_days(ymd).time_since_epoch().count();
    const std::int64_t wholeSeconds =
        daysSinceEpoch * 86400 + h * 3600 + mi * 60 + s - std::int64_t(offsetMinutes) * 60;
    return Date::fromTimeIntervalSince1970(static_cast<double>(wholeSeconds) + fraction);
}

}  // namespace platform
