#include "platform/values/Date.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::Date;

TEST(Date, ReferenceDateAndUnixSecondsMeet) {
    EXPECT_EQ(Date().timeIntervalSince1970(), 978307200.0);
    const Date d = Date::fromTimeIntervalSince1970(1741515300.5);  // 2025-03-09T10:15:00.5Z
    EXPECT_EQ(d.timeIntervalSinceReferenceDate(), 1741515300.5 - 978307200.0);
    EXPECT_EQ(d.timeIntervalSince1970(), 1741515300.5);
    EXPECT_EQ(d.addingTimeInterval(-0.5).timeIntervalSince(d), -0.5);
    EXPECT_LT(Date(), d);
}

TEST(Date, SystemClockRoundTrip) {
    using namespace std::chrono;
    const auto tp = system_clock::time_point(seconds(1741515300) + milliseconds(250));
    const Date d = Date::fromSystemClock(tp);
    EXPECT_EQ(d.timeIntervalSince1970(), 1741515300.25);
    EXPECT_EQ(d.toSystemClock(), tp);
    const double drift = std::fabs(Date::now().timeIntervalSince(Date::fromSystemClock(system_clock::now())));
    EXPECT_LT(drift, 5.0);
}

TEST(Date, FormatsIso8601InUtc) {
    const struct {
        double unix;
        bool fractional;
        const char* text;
    } cases[] = {
        {978307200.0, false, "2001-01-01T00:00:00Z"},
        {978307200.0, true, "2001-01-01T00:00:00.000Z"},
        {0.0, false, "1970-01-01T00:00:00Z"},
        {1741515300.25, true, "2025-03-09T10:15:00.250Z"},
        {1741515300.75, false, "2025-03-09T10:15:00Z"},  // whole seconds are cut, not rounded up
        {1741515300.9996, true, "2025-03-09T10:15:01.000Z"},
        {951782400.0, false, "2000-02-29T00:00:00Z"},
        {-1.5, true, "1969-12-31T23:59:58.500Z"},
        {-1.5, false, "1969-12-31T23:59:58Z"},
        {253402300799.0, false, "9999-12-31T23:59:59Z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::formatIso8601(Date::fromTimeIntervalSince1970(c.unix), c.fractional), c.text) << c.text;
    EXPECT_EQ(platform::formatIso8601(Date::fromTimeIntervalSinceReferenceDate(NAN)), "");
}

TEST(Date, ParsesIso8601) {
    const struct {
        const char* text;
        double unix;
    } cases[] = {
        {"2001-01-01T00:00:00Z", 978307200.0},
        {"2025-03-09T10:15:00.250Z", 1741515300.25},
        {"2025-03-09T10:15:00.5Z", 1741515300.5},
        {"2025-03-09T11:15:00+01:00", 1741515300.0},
        {"2025-03-09T05:15:00-0500", 1741515300.0},
        {"2000-02-29T00:00:00Z", 951782400.0},
    };
    for (const auto& c : cases) {
        auto d = platform::parseIso8601(c.text);
        ASSERT_TRUE(d) << c.text;
        EXPECT_DOUBLE_EQ(d->timeIntervalSince1970(), c.unix) << c.text;
    }
    for (const char* bad : {"", "2001-01-01", "2001-01-01T00:00:00", "2001-01-01 00:00:00Z",
                            "2001-13-01T00:00:00Z", "2001-02-29T00:00:00Z", "2001-01-01T24:00:00Z",
                            "2001-01-01T00:60:00Z", "2001-01-01T00:00:00.Z", "2001-01-01T00:00:00Zjunk",
                            "2001-1-01T00:00:00Z", "2001-01-01T00:00:00+1"})
        EXPECT_FALSE(platform::parseIso8601(bad)) << bad;
}

TEST(Date, IsoRoundTripKeepsMilliseconds) {
    for (double s : {0.0, 0.001, 12345.678, 7.5e8 + 0.123, -86400.25}) {
        const Date d = Date::fromTimeIntervalSinceReferenceDate(s);
        auto back = platform::parseIso8601(platform::formatIso8601(d, true));
        ASSERT_TRUE(back);
        EXPECT_NEAR(back->timeIntervalSinceReferenceDate(), s, 1e-6);
    }
}

TEST(FixedClock, StandsStillUntilMoved) {
    platform::FixedClock clock(Date::fromTimeIntervalSinceReferenceDate(100));
    const platform::Clock& asClock = clock;
    EXPECT_EQ(asClock.now().timeIntervalSinceReferenceDate(), 100);
    clock.advance(2.5);
    EXPECT_EQ(asClock.now().timeIntervalSinceReferenceDate(), 102.5);
    clock.set(Date());
    EXPECT_EQ(asClock.now(), Date());
}

TEST(FixedClock, AdvancesFromSeveralThreadsWithoutLosingSteps) {
    platform::FixedClock clock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) clock.advance(1);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(clock.now().timeIntervalSinceReferenceDate(), 4000);
}

}  // namespace
