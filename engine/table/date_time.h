// Record encodings of DATE, TIME and DATETIME values and their conversion to
// and from calendar dates. A DATE is a day number (0001-01-01 = 1, so the
// day-count date value 0, 1899-12-30, is 693594); a TIME is milliseconds since
// midnight; a DATETIME is a DATE day number followed by a TIME.
#pragma once

#include <chrono>
#include <cstdint>

namespace rzv {

// DATE value of a date that is not set.
inline constexpr int32_t kRzvEmptyDate = INT32_MIN;
// Day number of 1899-12-30, the origin of day-count date values.
inline constexpr int32_t kRzvDateDelta = 693594;
inline constexpr int32_t kRzvMsPerDay = 86'400'000;

// The 8 bytes of a DATETIME: day number at offset 0, milliseconds at offset 4.
struct RzvDateTime {
  int32_t date = kRzvEmptyDate;
  int32_t time = 0;

  friend bool operator==(const RzvDateTime&, const RzvDateTime&) = default;
};

// Day number of a calendar date; the date must be valid (year 1..9999).
// Returns false for an invalid date.
bool RzvTryEncodeDate(int year, unsigned month, unsigned day, int32_t& day_number);
// Calendar date of a day number (proleptic Gregorian calendar); false unless
// the day number lies in years 1..9999.
bool RzvTryDecodeDate(int32_t day_number, std::chrono::year_month_day& date);
// ISO day of the week of a day number, 1 = Monday .. 7 = Sunday.
int RzvDayOfWeek(int32_t day_number);

// Milliseconds since midnight; false unless hour < 24, minute < 60,
// second < 60, ms < 1000.
bool RzvTryEncodeTime(unsigned hour, unsigned minute, unsigned second, unsigned ms, int32_t& time);

struct RzvTimeParts {
  unsigned hour = 0, minute = 0, second = 0, ms = 0;
};
// Splits a millisecond count; counts outside one day are taken modulo a day.
RzvTimeParts RzvDecodeTime(int32_t time);

// Day-count date value (days since 1899-12-30, fraction = time of day; for
// negative values the fraction still counts forward from midnight) to the
// DATETIME encoding, time rounded to the nearest millisecond. False for NaN,
// infinities and values whose day number does not fit 32 bits.
bool RzvTryDateTimeFromDays(double days, RzvDateTime& value);
// The empty-date marker counts as day 0 here, leaving only the time.
double RzvDateTimeToDays(RzvDateTime value);

}  // namespace rzv
