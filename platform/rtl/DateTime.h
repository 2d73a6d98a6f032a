// Date-time as the platform counts it: a double of days since
// 1899-12-30 00:00:00, the fraction the time of day.
//
// Negative values lie before day 0: the integer part (towards zero) is the
// day and the absolute fraction the time, so -1.25 is 1899-12-29 06:00.
// Years run from 1 to 9999. Impossible dates and times are refused with
// EConvertError.
#pragma once

#include <cstdint>
#include <string>

namespace rtl {

using TDateTime = double;

bool IsLeapYear(int year) noexcept;
int DaysInMonth(int year, int month) noexcept; // 0 for a month outside 1..12

bool TryEncodeDate(int year, int month, int day, TDateTime& result) noexcept;
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) noexcept;
TDateTime EncodeTime(int hour, int min, int sec, int msec);
// Date plus time, keeping the sign rule above for dates before day 0.
TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept;
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);

void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min,
                    int& sec, int& msec);

// The local time now.
TDateTime Now();

// "YYYY-MM-DD HH:MM:SS" (for messages and the general text of a variant).
std::string DateTimeToStr(TDateTime value);

} // namespace rtl
