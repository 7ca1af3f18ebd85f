#include "engine/table/date_time.h"

#include <cmath>

namespace rzv {

namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

// sys_days of the day before 0001-01-01, so that day number n is kOrigin + n.
const sys_days kOrigin = sys_days{year{1} / 1 / 1} - days{1};

}  // namespace

bool RzvTryEncodeDate(int y, unsigned m, unsigned d, int32_t& day_number) {
  if (y < 1 || y > 9999) return false;
  const year_month_day ymd{year{y}, month{m}, day{d}};
  if (!ymd.ok()) return false;
  day_number = static_cast<int32_t>((sys_days{ymd} - kOrigin).count());
  return true;
}

// Day number of 9999-12-31.
constexpr int32_t kLastDayNumber = 3'652'059;

bool RzvTryDecodeDate(int32_t day_number, year_month_day& date) {
  if (day_number < 1 || day_number > kLastDayNumber) return false;
  date = year_month_day{kOrigin + days{day_number}};
  return true;
}

int RzvDayOfWeek(int32_t day_number) {
  return static_cast<int>(std::chrono::weekday{kOrigin + days{day_number}}.iso_encoding());
}

bool RzvTryEncodeTime(unsigned hour, unsigned minute, unsigned second, unsigned ms, int32_t& time) {
  if (hour >= 24 || minute >= 60 || second >= 60 || ms >= 1000) return false;
  time = static_cast<int32_t>(((hour * 60 + minute) * 60 + second) * 1000 + ms);
  return true;
}

RzvTimeParts RzvDecodeTime(int32_t time) {
  int64_t t = time % kRzvMsPerDay;
  if (t < 0) t += kRzvMsPerDay;
  RzvTimeParts p;
  p.ms = static_cast<unsigned>(t % 1000);
  t /= 1000;
  p.second = static_cast<unsigned>(t % 60);
  t /= 60;
  p.minute = static_cast<unsigned>(t % 60);
  p.hour = static_cast<unsigned>(t / 60);
  return p;
}

bool RzvTryDateTimeFromDays(double value, RzvDateTime& result) {
  if (!std::isfinite(value)) return false;
  const double whole = std::trunc(value);
  const double day_number = whole + kRzvDateDelta;
  // The marker itself is not a date either.
  if (day_number <= static_cast<double>(INT32_MIN) || day_number > static_cast<double>(INT32_MAX))
    return false;
  int64_t date = static_cast<int64_t>(day_number);
  int64_t ms = std::llround(std::fabs(value - whole) * kRzvMsPerDay);
  if (ms >= kRzvMsPerDay) {
    ms = 0;
    ++date;
    if (date > INT32_MAX) return false;
  }
  result.date = static_cast<int32_t>(date);
  result.time = static_cast<int32_t>(ms);
  return true;
}

double RzvDateTimeToDays(RzvDateTime value) {
  const double d =
      value.date == kRzvEmptyDate ? 0.0 : static_cast<double>(value.date) - kRzvDateDelta;
  const double t = static_cast<double>(value.time) / kRzvMsPerDay;
  return d >= 0 ? d + t : d - t;
}

}  // namespace rzv
