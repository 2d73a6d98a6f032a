// Date-time as the platform counts it: days since 1899-12-30 in a double.
//
// Encoding counts days of the proleptic Gregorian calendar from 0001-01-01;
// decoding first rounds the value to whole milliseconds (as the platform's
// time stamps do), so 0.99999999999 is the next day at midnight rather than
// 23:59:59.1000. A value before day 0 keeps its day in the integer part
// (towards zero) and its time of day in the absolute fraction.
#include "platform/rtl/DateTime.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

namespace rtl {

namespace {

constexpr const char* SDateEncodeError = "Invalid argument to date encode (year %d, month %d, day %d)";
constexpr const char* STimeEncodeError =
    "Invalid argument to time encode (hour %d, minute %d, second %d, millisecond %d)";
constexpr const char* SInvalidDateTimeValue = "Invalid date-time value %s (outside 0001-01-01 to 9999-12-31)";

constexpr int kDateDelta = 693594;      // days from 0001-01-01 (day 1) to 1899-12-30
constexpr int kMinDay = 1 - kDateDelta; // 0001-01-01
constexpr int kMaxDay = 2958465;        // 9999-12-31
constexpr std::int64_t kMSecsPerDay = 86'400'000;

constexpr int kDaysPer400Years = 146097;
constexpr int kDaysPer100Years = 36524;
constexpr int kDaysPer4Years = 1461;
constexpr int kDaysPerYear = 365;

// The value as a day number (towards zero) and milliseconds of that day.
struct TimeStamp {
    std::int64_t day;
    int msec;
};

TimeStamp ToTimeStamp(TDateTime value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e9)
        throw EConvertError(Format(SInvalidDateTimeValue, FloatToStr(value).c_str()));
    // Round to whole milliseconds, half to even as the platform's Round does.
    const auto ms = static_cast<std::int64_t>(std::nearbyint(value * static_cast<double>(kMSecsPerDay)));
    const TimeStamp stamp{ms / kMSecsPerDay, static_cast<int>(std::llabs(ms % kMSecsPerDay))};
    if (stamp.day < kMinDay || stamp.day > kMaxDay)
        throw EConvertError(Format(SInvalidDateTimeValue, FloatToStr(value).c_str()));
    return stamp;
}

} // namespace

bool IsLeapYear(int year) noexcept
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) noexcept
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) noexcept
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    int dayOfYear = day;
    for (int m = 1; m < month; ++m) dayOfYear += DaysInMonth(year, m);
    const int y = year - 1;
    result = static_cast<TDateTime>(y * 365 + y / 4 - y / 100 + y / 400 + dayOfYear - kDateDelta);
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) throw EConvertError(Format(SDateEncodeError, year, month, day));
    return result;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) noexcept
{
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
        return false;
    const std::int64_t ms = ((static_cast<std::int64_t>(hour) * 60 + min) * 60 + sec) * 1000 + msec;
    result = static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
    return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec)
{
    TDateTime result = 0;
    if (!TryEncodeTime(hour, min, sec, msec, result))
        throw EConvertError(Format(STimeEncodeError, hour, min, sec, msec));
    return result;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept
{
    const double day = std::trunc(date);
    const double timeOfDay = std::fabs(time - std::trunc(time));
    return date < 0 ? day - timeOfDay : day + timeOfDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec)
{
    const TDateTime date = EncodeDate(year, month, day);
    return ComposeDateTime(date, EncodeTime(hour, min, sec, msec));
}

void DecodeDate(TDateTime value, int& year, int& month, int& day)
{
    // Days since 0001-01-01, split into 400-, 100-, 4- and 1-year cycles.
    int rest = static_cast<int>(ToTimeStamp(value).day) + kDateDelta - 1;
    int y = 1 + rest / kDaysPer400Years * 400;
    rest %= kDaysPer400Years;
    int cycles = rest / kDaysPer100Years;
    rest %= kDaysPer100Years;
    if (cycles == 4) { // the last day of a 400-year cycle
        --cycles;
        rest += kDaysPer100Years;
    }
    y += cycles * 100;
    y += rest / kDaysPer4Years * 4;
    rest %= kDaysPer4Years;
    cycles = rest / kDaysPerYear;
    rest %= kDaysPerYear;
    if (cycles == 4) { // the last day of a leap year
        --cycles;
        rest += kDaysPerYear;
    }
    y += cycles;
    int m = 1;
    while (rest >= DaysInMonth(y, m)) {
        rest -= DaysInMonth(y, m);
        ++m;
    }
    year = y;
    month = m;
    day = rest + 1;
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec)
{
    int ms = ToTimeStamp(value).msec;
    msec = ms % 1000;
    ms /= 1000;
    sec = ms % 60;
    ms /= 60;
    min = ms % 60;
    hour = ms / 60;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec)
{
    DecodeDate(value, year, month, day);
    DecodeTime(value, hour, min, sec, msec);
}

TDateTime Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::time_t seconds = now.tv_sec;
    std::tm local{};
    localtime_r(&seconds, &local);
    // A leap second (tm_sec 60) is shown as the last second of its minute.
    const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, sec, static_cast<int>(now.tv_nsec / 1'000'000));
}

std::string DateTimeToStr(TDateTime value)
{
    int year, month, day, hour, min, sec, msec;
    DecodeDateTime(value, year, month, day, hour, min, sec, msec);
    return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", year, month, day, hour, min, sec);
}

} // namespace rtl
