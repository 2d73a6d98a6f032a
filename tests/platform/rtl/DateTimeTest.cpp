// Date-time: days since 1899-12-30, the calendar edges, the rule for values
// before day 0, and the refusal of impossible dates and times.
#include "platform/rtl/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace {

using namespace rtl;

constexpr double kMsPerDay = 86400000.0;

struct Fields {
    int year, month, day, hour, min, sec, msec;
};

TEST(DateTime, LeapYearsAndMonthLengths)
{
    struct Case {
        const char* name;
        int year;
        bool leap;
    };
    const Case cases[] = {
        {"1900 is not leap (century)", 1900, false}, {"2000 is leap (400 years)", 2000, true},
        {"2004 is leap", 2004, true},                {"2100 is not leap", 2100, false},
        {"2023 is not leap", 2023, false},           {"year 4 is leap", 4, true},
        {"year 1 is not leap", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsLeapYear(c.year), c.leap);
        EXPECT_EQ(DaysInMonth(c.year, 2), c.leap ? 29 : 28);
    }
    EXPECT_EQ(DaysInMonth(2001, 1), 31);
    EXPECT_EQ(DaysInMonth(2001, 4), 30);
    EXPECT_EQ(DaysInMonth(2001, 12), 31);
    EXPECT_EQ(DaysInMonth(2001, 0), 0);
    EXPECT_EQ(DaysInMonth(2001, 13), 0);
}

TEST(DateTime, EncodeCountsDaysSince18991230)
{
    struct Case {
        const char* name;
        Fields f;
        double expected;
    };
    const double time102030750 = (((10 * 60 + 20) * 60 + 30) * 1000 + 750) / kMsPerDay;
    const Case cases[] = {
        {"day 0", {1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {"the day after", {1899, 12, 31, 0, 0, 0, 0}, 1.0},
        {"the day before", {1899, 12, 29, 0, 0, 0, 0}, -1.0},
        {"1900-01-01", {1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {"1900-02-28", {1900, 2, 28, 0, 0, 0, 0}, 60.0},
        {"1900-03-01 follows 1900-02-28 (1900 is not leap)", {1900, 3, 1, 0, 0, 0, 0}, 61.0},
        {"2000-02-29", {2000, 2, 29, 0, 0, 0, 0}, 36585.0},
        {"2000-03-01", {2000, 3, 1, 0, 0, 0, 0}, 36586.0},
        {"first day of year 1", {1, 1, 1, 0, 0, 0, 0}, -693593.0},
        {"last day of year 9999", {9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
        {"noon of day 0", {1899, 12, 30, 12, 0, 0, 0}, 0.5},
        {"date and time", {2006, 1, 2, 10, 20, 30, 750}, 38719.0 + time102030750},
        {"before day 0 the time is subtracted", {1899, 12, 29, 6, 0, 0, 0}, -1.25},
        {"two days before, evening", {1899, 12, 28, 18, 0, 0, 0}, -2.75},
        {"last millisecond", {9999, 12, 31, 23, 59, 59, 999}, 2958465.0 + 86399999 / kMsPerDay},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fields& f = c.f;
        EXPECT_DOUBLE_EQ(EncodeDateTime(f.year, f.month, f.day, f.hour, f.min, f.sec, f.msec), c.expected);
        TDateTime date = 99;
        ASSERT_TRUE(TryEncodeDate(f.year, f.month, f.day, date));
        EXPECT_EQ(date, std::trunc(c.expected));
        EXPECT_EQ(EncodeDate(f.year, f.month, f.day), std::trunc(c.expected));
    }
}

TEST(DateTime, EncodeTimeIsTheFractionOfADay)
{
    EXPECT_EQ(EncodeTime(0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999 / kMsPerDay);
    TDateTime t = 0;
    EXPECT_TRUE(TryEncodeTime(18, 0, 0, 0, t));
    EXPECT_EQ(t, 0.75);
}

TEST(DateTime, ComposeKeepsTheSignRule)
{
    struct Case {
        const char* name;
        double date, time, expected;
    };
    const Case cases[] = {
        {"day 0 plus a time", 0.0, 0.25, 0.25},
        {"after day 0 the time is added", 5.0, 0.25, 5.25},
        {"before day 0 the time is subtracted", -1.0, 0.25, -1.25},
        {"only the fraction of the time counts", -2.0, 1.75, -2.75},
        {"a negative time counts by its size", 5.0, -0.25, 5.25},
        {"the time part of the date is dropped", 3.9, 0.5, 3.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComposeDateTime(c.date, c.time), c.expected);
    }
}

TEST(DateTime, DecodeSplitsDayAndTime)
{
    struct Case {
        const char* name;
        double value;
        Fields expected;
    };
    const Case cases[] = {
        {"day 0", 0.0, {1899, 12, 30, 0, 0, 0, 0}},
        {"-1.25 is the day before at six", -1.25, {1899, 12, 29, 6, 0, 0, 0}},
        {"a negative fraction alone is a time of day 0", -0.25, {1899, 12, 30, 6, 0, 0, 0}},
        {"1900-02-28", 60.0, {1900, 2, 28, 0, 0, 0, 0}},
        {"1900-03-01", 61.0, {1900, 3, 1, 0, 0, 0, 0}},
        {"2000-02-29", 36585.0, {2000, 2, 29, 0, 0, 0, 0}},
        {"2000-03-01", 36586.0, {2000, 3, 1, 0, 0, 0, 0}},
        {"2000-12-31 (last day of a leap year)", 36891.0, {2000, 12, 31, 0, 0, 0, 0}},
        {"noon of a new year", 36892.5, {2001, 1, 1, 12, 0, 0, 0}},
        {"first day of year 1", -693593.0, {1, 1, 1, 0, 0, 0, 0}},
        {"last millisecond of year 9999", 2958465.0 + 86399999 / kMsPerDay, {9999, 12, 31, 23, 59, 59, 999}},
        {"rounded to the millisecond into the next day", 1.9999999999, {1900, 1, 1, 0, 0, 0, 0}},
        {"milliseconds", 38719.0 + 37230750 / kMsPerDay, {2006, 1, 2, 10, 20, 30, 750}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fields f{};
        DecodeDateTime(c.value, f.year, f.month, f.day, f.hour, f.min, f.sec, f.msec);
        const Fields& e = c.expected;
        EXPECT_EQ(f.year, e.year);
        EXPECT_EQ(f.month, e.month);
        EXPECT_EQ(f.day, e.day);
        EXPECT_EQ(f.hour, e.hour);
        EXPECT_EQ(f.min, e.min);
        EXPECT_EQ(f.sec, e.sec);
        EXPECT_EQ(f.msec, e.msec);
    }
}

TEST(DateTime, EveryDayOfTheRangeRoundTrips)
{
    // Walks the whole calendar from 0001-01-01 to 9999-12-31: each day number
    // decodes to the next date after the previous one and encodes back.
    int py = 0, pm = 0, pd = 0;
    for (int n = -693593; n <= 2958465; ++n) {
        int y, m, d;
        DecodeDate(n, y, m, d);
        if (n > -693593) {
            const bool next = (y == py && m == pm && d == pd + 1) || (y == py && m == pm + 1 && d == 1) ||
                              (y == py + 1 && m == 1 && d == 1 && pm == 12);
            ASSERT_TRUE(next) << n << ": " << y << "-" << m << "-" << d;
        }
        ASSERT_EQ(EncodeDate(y, m, d), n);
        py = y;
        pm = m;
        pd = d;
    }
    EXPECT_EQ(py, 9999);
}

TEST(DateTime, ImpossibleDatesAndTimesAreRefused)
{
    struct Case {
        const char* name;
        Fields f;
        const char* message;
    };
    const Case cases[] = {
        {"month 0", {2000, 0, 1, 0, 0, 0, 0}, "Invalid argument to date encode (year 2000, month 0, day 1)"},
        {"month 13", {2000, 13, 1, 0, 0, 0, 0}, "Invalid argument to date encode (year 2000, month 13, day 1)"},
        {"day 32", {2000, 1, 32, 0, 0, 0, 0}, "Invalid argument to date encode (year 2000, month 1, day 32)"},
        {"day 0", {2000, 1, 0, 0, 0, 0, 0}, "Invalid argument to date encode (year 2000, month 1, day 0)"},
        {"1900-02-29 (1900 is not leap)", {1900, 2, 29, 0, 0, 0, 0},
         "Invalid argument to date encode (year 1900, month 2, day 29)"},
        {"2001-02-29", {2001, 2, 29, 0, 0, 0, 0}, "Invalid argument to date encode (year 2001, month 2, day 29)"},
        {"April 31", {2001, 4, 31, 0, 0, 0, 0}, "Invalid argument to date encode (year 2001, month 4, day 31)"},
        {"year 0", {0, 1, 1, 0, 0, 0, 0}, "Invalid argument to date encode (year 0, month 1, day 1)"},
        {"year 10000", {10000, 1, 1, 0, 0, 0, 0}, "Invalid argument to date encode (year 10000, month 1, day 1)"},
        {"time 24:00", {2000, 1, 1, 24, 0, 0, 0},
         "Invalid argument to time encode (hour 24, minute 0, second 0, millisecond 0)"},
        {"minute 60", {2000, 1, 1, 0, 60, 0, 0},
         "Invalid argument to time encode (hour 0, minute 60, second 0, millisecond 0)"},
        {"second 60", {2000, 1, 1, 0, 0, 60, 0},
         "Invalid argument to time encode (hour 0, minute 0, second 60, millisecond 0)"},
        {"millisecond 1000", {2000, 1, 1, 0, 0, 0, 1000},
         "Invalid argument to time encode (hour 0, minute 0, second 0, millisecond 1000)"},
        {"negative hour", {2000, 1, 1, -1, 0, 0, 0},
         "Invalid argument to time encode (hour -1, minute 0, second 0, millisecond 0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fields& f = c.f;
        try {
            EncodeDateTime(f.year, f.month, f.day, f.hour, f.min, f.sec, f.msec);
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        TDateTime date = 5, time = 5;
        const bool dateOk = TryEncodeDate(f.year, f.month, f.day, date);
        const bool timeOk = TryEncodeTime(f.hour, f.min, f.sec, f.msec, time);
        EXPECT_FALSE(dateOk && timeOk);
        if (!dateOk) {
            EXPECT_EQ(date, 5) << "a refused date leaves the result alone";
            EXPECT_THROW(EncodeDate(f.year, f.month, f.day), EConvertError);
        }
        if (!timeOk) {
            EXPECT_THROW(EncodeTime(f.hour, f.min, f.sec, f.msec), EConvertError);
        }
    }
}

TEST(DateTime, ValuesOutsideTheCalendarAreRefusedOnDecode)
{
    struct Case {
        const char* name;
        double value;
        const char* message;
    };
    const Case cases[] = {
        {"year 10000", 2958466.0, "Invalid date-time value 2958466 (outside 0001-01-01 to 9999-12-31)"},
        {"year 0", -693594.0, "Invalid date-time value -693594 (outside 0001-01-01 to 9999-12-31)"},
        {"not a number", std::nan(""), "Invalid date-time value NAN (outside 0001-01-01 to 9999-12-31)"},
        {"infinity", std::numeric_limits<double>::infinity(),
         "Invalid date-time value INF (outside 0001-01-01 to 9999-12-31)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int y, m, d;
        try {
            DecodeDate(c.value, y, m, d);
            ADD_FAILURE() << "no exception";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_THROW(DateTimeToStr(c.value), EConvertError);
    }
}

TEST(DateTime, DateTimeToStrWritesYearFirst)
{
    struct Case {
        const char* name;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"day 0", 0.0, "1899-12-30 00:00:00"},
        {"before day 0", -1.25, "1899-12-29 06:00:00"},
        {"milliseconds dropped", EncodeDateTime(2006, 1, 2, 10, 20, 30, 750), "2006-01-02 10:20:30"},
        {"last moment", EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), "9999-12-31 23:59:59"},
        {"first day", EncodeDate(1, 1, 1), "0001-01-01 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DateTimeToStr(c.value), c.expected);
    }
}

TEST(DateTime, NowIsTheLocalClock)
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const TDateTime expected = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                              local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0);
    const TDateTime now = Now();
    EXPECT_GE(now, expected - 1.0 / 86400);
    EXPECT_LT(now, expected + 5.0 / 86400);
}

} // namespace
