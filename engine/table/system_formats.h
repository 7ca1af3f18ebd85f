// The process-wide system formats: how dates, times and numbers are written
// and read back as text in the user's locale, and the formatting and parsing
// of dates and times with them. Engine and application read the same object,
// so a date that the application writes into a filter is parsed back by the
// engine. Filled from the locale environment on first use; tests pin the US
// defaults with RzvSystemFormats::ResetToUsDefaults().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/table/date_time.h"

namespace rzv {

// Native code of the system conversion error: text that does not read as the
// number, date or time asked for.
inline constexpr int32_t kRzvConvertError = 30130;

// Date and time formats use the letter codes of the Delphi family, matched
// case-insensitively: d dd (day), ddd dddd (day names), ddddd (short date),
// m mm (month, or minutes right after an hour), mmm mmmm (month names),
// yy yyyy, h hh, n nn (minutes), s ss, z zzz (milliseconds), t tt (short and
// long time), c (date and time), am/pm a/p (12-hour clock, written in the
// token's case), ampm (12-hour clock with the AM/PM strings below), "/" (date
// separator), ":" (time separator); text in quotes is copied.
// All texts are single-byte windows-1252.
struct RzvFormatSettings {
  std::string short_date_format = "M/d/yyyy";
  std::string long_date_format = "dddd, mmmm d, yyyy";
  std::string short_time_format = "h:mm AM/PM";
  std::string long_time_format = "h:mm:ss AM/PM";
  char date_separator = '/';
  char time_separator = ':';
  std::string time_am_string = "AM";
  std::string time_pm_string = "PM";
  char decimal_separator = '.';
  char thousand_separator = ',';
  std::string currency_string = "$";
  // Position of the currency string: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $".
  uint8_t currency_format = 0;
  uint8_t currency_decimals = 2;
  std::array<std::string, 12> short_month_names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> long_month_names{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
  // Sunday first.
  std::array<std::string, 7> short_day_names{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> long_day_names{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};

  // The date-time format: short date, a blank, long time.
  std::string DateTimeFormat() const { return short_date_format + " " + long_time_format; }

  // The settings of a locale name such as "de_DE.UTF-8"; "C", "POSIX" and
  // the empty name give the US defaults.
  static RzvFormatSettings FromLocale(std::string_view time_locale,
                                      std::string_view numeric_locale);
};

class RzvSystemFormats {
 public:
  // A snapshot of the current settings; safe to call from any thread. The
  // first call fills them from LC_ALL, LC_TIME / LC_NUMERIC, then LANG.
  static std::shared_ptr<const RzvFormatSettings> Current();
  static void Set(const RzvFormatSettings& settings);
  static void ResetToUsDefaults();
  static void LoadFromEnvironment();
};

// Writes value by format; the empty-date marker counts as 1899-12-30.
std::string RzvFormatDateTime(std::string_view format, RzvDateTime value,
                              const RzvFormatSettings& settings);

// Text of a DATE in the short date format; the empty-date marker gives "".
std::string RzvDateToText(int32_t date, const RzvFormatSettings& settings);
// Text of a TIME in the long time format; midnight (0) gives "".
std::string RzvTimeToText(int32_t time, const RzvFormatSettings& settings);
// Date text and time text joined by a blank, each left out when empty.
std::string RzvDateTimeToText(RzvDateTime value, const RzvFormatSettings& settings);

// Reads a date by the short date format's order of day, month and year,
// separated by the date separator; a missing year is the current year and a
// two-digit year 00..29 means 2000..2029, 30..99 1930..1999. False when the
// text is not such a date.
bool RzvTryTextToDate(std::string_view text, const RzvFormatSettings& settings, int32_t& date);
// Reads hour[:minute[:second[.ms]]] with an optional AM/PM string before or
// after; an hour alone needs the AM/PM string.
bool RzvTryTextToTime(std::string_view text, const RzvFormatSettings& settings, int32_t& time);
// A date, optionally followed by a time; or a time alone (with the
// empty-date marker as its date).
bool RzvTryTextToDateTime(std::string_view text, const RzvFormatSettings& settings,
                          RzvDateTime& value);

// As above, raising the system conversion error (kRzvConvertError).
int32_t RzvTextToDate(std::string_view text, const RzvFormatSettings& settings);
int32_t RzvTextToTime(std::string_view text, const RzvFormatSettings& settings);
RzvDateTime RzvTextToDateTime(std::string_view text, const RzvFormatSettings& settings);

}  // namespace rzv
