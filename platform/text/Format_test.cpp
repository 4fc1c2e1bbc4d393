#include "platform/text/Format.h"

#include <gtest/gtest.h>

#include "platform/values/Date.h"

namespace {

using namespace platform::text;
using platform::Date;

Date utc(const char* iso) { return *platform::parseIso8601(iso); }
TimeZone zone(const char* id) { return *TimeZone::named(id); }

TEST(NumberFormat, IntegersAndDecimalsPerLocale) {
    EXPECT_EQ(formatInteger(12345, "en_US"), "12,345");
    EXPECT_EQ(formatInteger(12345, "de_DE"), "12.345");
    EXPECT_EQ(formatInteger(-1234567, "en_US"), "-1,234,567");
    EXPECT_EQ(formatInteger(999, "de_DE"), "999");
    EXPECT_EQ(formatInteger(0, "en_US"), "0");

    EXPECT_EQ(formatDecimal(1234.5, "en_US"), "1,234.5");
    EXPECT_EQ(formatDecimal(1234.5, "de_DE"), "1.234,5");
    EXPECT_EQ(formatDecimal(3.14159, "en_US"), "3.142");
    EXPECT_EQ(formatDecimal(0.125, "en_US", {0, 2}), "0.12");  // half to even
    EXPECT_EQ(formatDecimal(0.375, "en_US", {0, 2}), "0.38");
    EXPECT_EQ(formatDecimal(3, "de_DE", {2, 2}), "3,00");
    EXPECT_EQ(formatDecimal(12345.5, "en_US", {0, 1, false}), "12345.5");
}

TEST(TimeZone, NamedSystemAndOffsets) {
    EXPECT_TRUE(TimeZone::named("Europe/Berlin"));
    EXPECT_FALSE(TimeZone::named("Mars/Olympus_Mons"));
    EXPECT_FALSE(TimeZone::named(""));

    using platform::Environment;
    using Vars = std::map<std::string, std::string>;
    EXPECT_EQ(TimeZone::system(Environment(Vars{{"TZ", "Europe/Berlin"}})).identifier(), "Europe/Berlin");
    EXPECT_EQ(TimeZone::system(Environment(Vars{{"TZ", ":America/New_York"}})).identifier(), "America/New_York");
    EXPECT_EQ(TimeZone::system(Environment(Vars{{"TZ", "/usr/share/zoneinfo/Asia/Tokyo"}})).identifier(),
              "Asia/Tokyo");
    EXPECT_EQ(TimeZone::system(Environment(Vars{{"TZ", ""}})).identifier(), "UTC");
    EXPECT_EQ(TimeZone::system(Environment(Vars{{"TZ", "Nowhere/Special"}})).identifier(), "UTC");

    const auto berlin = zone("Europe/Berlin");
    EXPECT_EQ(berlin.secondsFromGMT(utc("2025-01-15T12:00:00Z")), 3600);
    EXPECT_EQ(berlin.secondsFromGMT(utc("2025-07-15T12:00:00Z")), 7200);
    EXPECT_EQ(TimeZone::utc().secondsFromGMT(utc("2025-07-15T12:00:00Z")), 0);
}

TEST(Calendar, ComponentsInAZone) {
    const Calendar berlin(zone("Europe/Berlin"));
    EXPECT_EQ(berlin.components(utc("2025-03-09T23:30:15Z")), (DateComponents{2025, 3, 10, 0, 30, 15, 2}));
    EXPECT_EQ(Calendar(TimeZone::utc()).components(utc("2025-03-09T23:30:15Z")),
              (DateComponents{2025, 3, 9, 23, 30, 15, 1}));
    // One second either side of local midnight: two days, hours 23 and 0.
    const Date before = utc("2025-06-01T21:59:59Z"), after = utc("2025-06-01T22:00:01Z");
    EXPECT_EQ(berlin.hour(before), 23);
    EXPECT_EQ(berlin.hour(after), 0);
    EXPECT_FALSE(berlin.isDateInSameDay(before, after));
    EXPECT_TRUE(berlin.isDateInSameDay(after, utc("2025-06-02T21:59:59Z")));
}

TEST(Calendar, DaysAcrossDaylightSavingChanges) {
    const Calendar berlin(zone("Europe/Berlin"));
    // Spring: 30 March 2025 has 23 hours.
    const Date march30 = berlin.startOfDay(utc("2025-03-30T10:00:00Z"));
    EXPECT_EQ(march30, utc("2025-03-29T23:00:00Z"));
    EXPECT_EQ(berlin.addingDays(march30, 1), utc("2025-03-30T22:00:00Z"));
    EXPECT_EQ(berlin.addingDays(march30, -1), utc("2025-03-28T23:00:00Z"));
    // Autumn: 26 October 2025 has 25 hours.
    const Date october26 = berlin.startOfDay(utc("2025-10-26T20:00:00Z"));
    EXPECT_EQ(october26, utc("2025-10-25T22:00:00Z"));
    EXPECT_EQ(berlin.addingDays(october26, 1), utc("2025-10-26T23:00:00Z"));

    // Stepping back a day at a time from noon never skips or repeats a date.
    Date day = utc("2025-04-02T10:00:00Z");
    std::vector<int> dates;
    for (int i = 0; i < 6; ++i, day = berlin.addingDays(day, -1)) {
        dates.push_back(berlin.components(day).day);
        EXPECT_EQ(berlin.hour(day), 12);
    }
    EXPECT_EQ(dates, (std::vector<int>{2, 1, 31, 30, 29, 28}));

    // Midnight that never happened: the day starts when the clocks jump.
    const Calendar saoPaulo(zone("America/Sao_Paulo"));
    EXPECT_EQ(saoPaulo.startOfDay(utc("2018-11-04T15:00:00Z")), utc("2018-11-04T03:00:00Z"));
}

TEST(Calendar, DateFromLocalFields) {
    const Calendar berlin(zone("Europe/Berlin"));
    EXPECT_EQ(berlin.date(2025, 3, 9, 11, 15), utc("2025-03-09T10:15:00Z"));
    EXPECT_EQ(berlin.date(2024, 2, 29), utc("2024-02-28T23:00:00Z"));
    EXPECT_FALSE(berlin.date(2025, 2, 29));
    EXPECT_FALSE(berlin.date(2025, 13, 1));
    EXPECT_FALSE(berlin.date(2025, 1, 1, 24));
    const Calendar copy = berlin;
    EXPECT_EQ(copy.date(2025, 7, 1), utc("2025-06-30T22:00:00Z"));
}

TEST(DateFormat, DayKeysFormatAndParseInTheirZone) {
    const auto keys = DateFormatter::withPattern("yyyy-MM-dd", "en_US_POSIX", zone("Europe/Berlin"));
    EXPECT_EQ(keys.format(utc("2025-03-29T22:59:59Z")), "2025-03-29");
    EXPECT_EQ(keys.format(utc("2025-03-29T23:00:00Z")), "2025-03-30");
    EXPECT_EQ(keys.parse("2025-03-30"), utc("2025-03-29T23:00:00Z"));
    EXPECT_EQ(keys.parse("2025-10-26"), utc("2025-10-25T22:00:00Z"));
    for (const char* bad : {"", "2025-02-30", "2025-03-30x", "30.03.2025", "2025-13-01"})
        EXPECT_FALSE(keys.parse(bad)) << bad;
    // Western digits and the Gregorian year even where the locale prefers others.
    EXPECT_EQ(formatDate(utc("2025-03-09T10:15:00Z"), "yyyy-MM-dd", "en_US_POSIX", TimeZone::utc()), "2025-03-09");
    EXPECT_EQ(formatDate(utc("2025-03-09T10:15:00Z"), "yyyy", "th_TH", TimeZone::utc()), "2025");
}

TEST(DateFormat, StylesPerLocale) {
    const Date d = utc("2025-03-09T14:05:00Z");
    const auto berlin = zone("Europe/Berlin");
    EXPECT_EQ(formatDate(d, DateStyle::medium, DateStyle::none, "en_US", berlin), "Mar 9, 2025");
    EXPECT_EQ(formatDate(d, DateStyle::medium, DateStyle::none, "de_DE", berlin), "09.03.2025");
    EXPECT_EQ(formatDate(d, DateStyle::none, DateStyle::short_, "de_DE", berlin), "15:05");
    EXPECT_EQ(formatDate(d, DateStyle::none, DateStyle::short_, "en_US", berlin), "3:05\u202FPM");
    EXPECT_EQ(formatDate(d, DateStyle::none, DateStyle::short_, "en_US", zone("America/New_York")), "10:05\u202FAM");
    EXPECT_EQ(formatDate(d, DateStyle::long_, DateStyle::none, "de_DE", berlin), "9. M\u00E4rz 2025");
    EXPECT_EQ(formatDate(d, DateStyle::none, DateStyle::none, "en_US", berlin), "");
    EXPECT_EQ(formatDate(d, "EEEE, d. MMMM yyyy HH:mm", "de_DE", berlin), "Sonntag, 9. M\u00E4rz 2025 15:05");
}

}  // namespace
