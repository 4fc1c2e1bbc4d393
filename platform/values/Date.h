#pragma once

#include <atomic>
#include <chrono>
#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A point in time, kept as seconds since 2001-01-01 00:00:00 UTC (the reference
// date). This is also the form in which points in time are stored.
class Date {
public:
    // Unix time of the reference date.
    static constexpr double kReferenceDateUnixSeconds = 978307200.0;

    // The reference date itself.
    constexpr Date() = default;

    static constexpr Date fromTimeIntervalSinceReferenceDate(double seconds) { return Date(seconds); }
    // From Unix seconds (since 1970-01-01 00:00:00 UTC).
    static constexpr Date fromTimeIntervalSince1970(double unixSeconds) {
        return Date(unixSeconds - kReferenceDateUnixSeconds);
    }
    static Date fromSystemClock(std::chrono::system_clock::time_point tp);
    // The system's wall-clock time. Code that needs "now" should take a Clock instead.
    static Date now();

    constexpr double timeIntervalSinceReferenceDate() const { return seconds_; }
    // Unix seconds.
    constexpr double timeIntervalSince1970() const { return seconds_ + kReferenceDateUnixSeconds; }
    std::chrono::system_clock::time_point toSystemClock() const;

    constexpr Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }
    // Seconds from `other` to this date (positive when this date is later).
    constexpr double timeIntervalSince(Date other) const { return seconds_ - other.seconds_; }

    friend constexpr auto operator<=>(Date, Date) = default;
    friend constexpr bool operator==(Date, Date) = default;

private:
    constexpr explicit Date(double seconds) : seconds_(seconds) {}
    double seconds_ = 0;
};

// ISO-8601 in UTC: "2001-01-01T00:00:00Z", or with milliseconds
// "2001-01-01T00:00:00.250Z" (rounded to the nearest millisecond).
// Non-finite dates and dates beyond a few hundred thousand years give "".
std::string formatIso8601(Date date, bool fractionalSeconds = false);

// Reads "YYYY-MM-DDTHH:MM:SS" with optional fractional seconds (any number of
// digits) and a zone of "Z", "+HH:MM" or "+HHMM". Invalid calendar values
// (month 13, February 30, hour 24) and anything else give nothing.
std::optional<Date> parseIso8601(std::string_view text);

// Where "now" comes from. Components that stamp or compare times take a Clock
// so tests can hold time still and move it by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

// The wall clock.
class SystemClock final : public Clock {
public:
    Date now() const override { return Date::now(); }
};

// A clock that stands still until moved. Safe to read and move from any thread.
class FixedClock final : public Clock {
public:
    explicit FixedClock(Date start = Date()) : seconds_(start.timeIntervalSinceReferenceDate()) {}
    Date now() const override {
        return Date::fromTimeIntervalSinceReferenceDate(seconds_.load(std::memory_order_acquire));
    }
    void set(Date date) { seconds_.store(date.timeIntervalSinceReferenceDate(), std::memory_order_release); }
    void advance(double seconds);

private:
    std::atomic<double> seconds_;
};

}  // namespace platform
