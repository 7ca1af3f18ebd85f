#include "engine/table/system_formats.h"

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "engine/storage/exception.h"
#include "engine/table/ansi_text.h"

namespace rzv {

namespace {

// ---- Settings from the locale ----------------------------------------------

std::string ToAnsi(const icu::UnicodeString& s) {
  std::u16string wide(s.getBuffer(), static_cast<size_t>(s.length()));
  // Narrow and thin no-break spaces are blanks for our formats.
  for (char16_t& c : wide) {
    if (c == 0x202F || c == 0x2009) c = u' ';
  }
  return RzvWideToAnsi(wide);
}

// True when windows-1252 has every character of s.
bool Representable(const icu::UnicodeString& s) {
  for (int32_t i = 0; i < s.length(); ++i) {
    const char16_t c = s[i];
    if (c != u'?' && c != 0x202F && c != 0x2009 && RzvWideCharToAnsi(c) == '?') return false;
  }
  return true;
}

char ToAnsiChar(const icu::UnicodeString& s, char fallback) {
  const std::string a = ToAnsi(s);
  return a.size() == 1 && a[0] != '?' ? a[0] : fallback;
}

// "de_DE.UTF-8@euro" -> "de_DE"; empty for the C and POSIX locales.
std::string IcuLocaleName(std::string_view name) {
  const size_t cut = name.find_first_of(".@");
  std::string base(name.substr(0, cut));
  if (base == "C" || base == "POSIX") return "";
  return base;
}

bool IsPatternLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Writes c so that our format reads it as literal text.
void AppendLiteral(std::string& out, char c) {
  if (std::isalpha(static_cast<unsigned char>(c)) || c == '/' || c == ':' || c == '"' ||
      c == '\'') {
    const char quote = c == '"' ? '\'' : '"';
    out.push_back(quote);
    out.push_back(c);
    out.push_back(quote);
  } else {
    out += c;
  }
}

// Stands in a translated pattern for a character that windows-1252 lacks.
constexpr char kLacking = '\x7F';

// Translates an ICU date or time pattern into our format letters. The first
// separator found between two fields becomes the date (or time) separator,
// written as "/" (or ":"). Characters the code page lacks (a Cyrillic year
// abbreviation, a right-to-left mark) are left out, with the abbreviation
// dot that follows them: written as "?" they would be text that the readers
// of dates and times cannot find again.
std::string TranslateIcuPattern(const icu::UnicodeString& pattern, bool time, char& separator) {
  std::string out;
  std::string text;
  for (int32_t k = 0; k < pattern.length(); ++k) {
    const icu::UnicodeString unit = pattern.tempSubString(k, 1);
    text += Representable(unit) ? ToAnsi(unit) : std::string(1, kLacking);
  }
  bool separator_found = false;
  bool have_field = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'') {
      // Quoted literal; '' is a quote.
      size_t j = i + 1;
      std::string lit;
      while (j < text.size()) {
        if (text[j] == '\'') {
          if (j + 1 < text.size() && text[j + 1] == '\'') {
            lit += '\'';
            j += 2;
            continue;
          }
          break;
        }
        lit += text[j++];
      }
      if (j == i + 1 && j < text.size()) lit.push_back('\'');
      bool lacking = false;
      for (char l : lit) {
        if (l == kLacking) {
          lacking = true;
        } else {
          AppendLiteral(out, l);
        }
      }
      i = j + 1;
      if (lacking && i < text.size() && text[i] == '.') ++i;
      continue;
    }
    if (c == kLacking) {
      ++i;
      if (i < text.size() && text[i] == '.') ++i;
      continue;
    }
    if (IsPatternLetter(static_cast<unsigned char>(c))) {
      size_t n = 1;
      while (i + n < text.size() && text[i + n] == c) ++n;
      i += n;
      have_field = true;
      switch (c) {
        case 'y':
        case 'Y':
        case 'u':
          out += "yyyy";
          break;
        case 'M':
        case 'L':
          out += n == 1 ? "m" : n == 2 ? "mm" : n == 3 ? "mmm" : "mmmm";
          break;
        case 'd':
          out += n == 1 ? "d" : "dd";
          break;
        case 'E':
        case 'c':
        case 'e':
          out += n <= 3 ? "ddd" : "dddd";
          break;
        case 'h':
        case 'H':
        case 'k':
        case 'K':
          out += n == 1 ? "h" : "hh";
          break;
        case 'm':
          out += n == 1 ? "n" : "nn";
          break;
        case 's':
          out += n == 1 ? "s" : "ss";
          break;
        case 'S':
          out += "zzz";
          break;
        case 'a':
        case 'b':
        case 'B':
          out += "AMPM";
          break;
        default:
          have_field = false;  // era, zone and the like are left out
          break;
      }
      continue;
    }
    const bool is_sep = !separator_found && have_field && c != ' ' && c != ',';
    if (is_sep) {
      separator = c;
      separator_found = true;
    }
    if (separator_found && c == separator) {
      out += time ? ':' : '/';
    } else {
      AppendLiteral(out, c);
    }
    ++i;
  }
  // Trim blanks that a left-out field leaves behind.
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && out.front() == ' ') out.erase(out.begin());
  return out;
}

void LoadTimeSettings(const icu::Locale& loc, RzvFormatSettings& s) {
  UErrorCode status = U_ZERO_ERROR;
  auto pattern_of = [&](icu::DateFormat* f) {
    icu::UnicodeString p;
    if (auto* sdf = dynamic_cast<icu::SimpleDateFormat*>(f)) sdf->toPattern(p);
    delete f;
    return p;
  };
  const icu::UnicodeString short_date =
      pattern_of(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, loc));
  const icu::UnicodeString long_date =
      pattern_of(icu::DateFormat::createDateInstance(icu::DateFormat::kFull, loc));
  const icu::UnicodeString short_time =
      pattern_of(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, loc));
  const icu::UnicodeString long_time =
      pattern_of(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, loc));
  char sep = '/';
  if (!short_date.isEmpty()) s.short_date_format = TranslateIcuPattern(short_date, false, sep);
  s.date_separator = sep;
  char unused = '/';
  if (!long_date.isEmpty()) s.long_date_format = TranslateIcuPattern(long_date, false, unused);
  char tsep = ':';
  if (!long_time.isEmpty()) s.long_time_format = TranslateIcuPattern(long_time, true, tsep);
  s.time_separator = tsep;
  if (!short_time.isEmpty()) s.short_time_format = TranslateIcuPattern(short_time, true, unused);

  icu::DateFormatSymbols symbols(loc, status);
  if (U_FAILURE(status)) return;
  int32_t count = 0;
  const icu::UnicodeString* names = symbols.getShortMonths(count);
  for (int32_t i = 0; i < count && i < 12; ++i) s.short_month_names[i] = ToAnsi(names[i]);
  names = symbols.getMonths(count);
  for (int32_t i = 0; i < count && i < 12; ++i) s.long_month_names[i] = ToAnsi(names[i]);
  // Weekday arrays are indexed 1 = Sunday .. 7 = Saturday.
  names = symbols.getShortWeekdays(count);
  for (int32_t i = 1; i < count && i <= 7; ++i) s.short_day_names[i - 1] = ToAnsi(names[i]);
  names = symbols.getWeekdays(count);
  for (int32_t i = 1; i < count && i <= 7; ++i) s.long_day_names[i - 1] = ToAnsi(names[i]);
  names = symbols.getAmPmStrings(count);
  // Markers that the code page lacks (Korean, Arabic) would both be written
  // as "??", and a time read back could not tell morning from afternoon.
  if (count >= 2 && Representable(names[0]) && Representable(names[1]) &&
      ToAnsi(names[0]) != ToAnsi(names[1])) {
    s.time_am_string = ToAnsi(names[0]);
    s.time_pm_string = ToAnsi(names[1]);
  }
}

void LoadNumericSettings(const icu::Locale& loc, RzvFormatSettings& s) {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(loc, status);
  if (U_FAILURE(status)) return;
  s.decimal_separator =
      ToAnsiChar(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol), '.');
  const char thousand =
      ToAnsiChar(symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol), ',');
  s.thousand_separator = thousand == s.decimal_separator ? ' ' : thousand;
  s.currency_string = ToAnsi(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));

  std::unique_ptr<icu::NumberFormat> currency(
      icu::NumberFormat::createCurrencyInstance(loc, status));
  if (U_FAILURE(status) || !currency) return;
  s.currency_decimals = static_cast<uint8_t>(currency->getMaximumFractionDigits());
  if (auto* df = dynamic_cast<icu::DecimalFormat*>(currency.get())) {
    icu::UnicodeString p;
    df->toPattern(p);
    const int32_t semi = p.indexOf(u';');
    if (semi >= 0) p.truncate(semi);
    const int32_t sym = p.indexOf(static_cast<char16_t>(0x00A4));
    const int32_t digit = p.indexOf(u'#') >= 0 ? p.indexOf(u'#') : p.indexOf(u'0');
    if (sym >= 0 && digit >= 0) {
      const bool before = sym < digit;
      const int32_t gap = before ? sym + 1 : sym - 1;
      const bool spaced = gap >= 0 && gap < p.length() && (p[gap] == u' ' || p[gap] == 0x00A0);
      s.currency_format = static_cast<uint8_t>((before ? 0 : 1) + (spaced ? 2 : 0));
    }
  }
}

std::string EnvLocale(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return "";
}

// ---- The process-wide object -------------------------------------------------

std::mutex& SettingsMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<const RzvFormatSettings>& SettingsSlot() {
  static std::shared_ptr<const RzvFormatSettings> slot;
  return slot;
}

// ---- Formatting ---------------------------------------------------------------

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
  if (s.size() - pos < what.size()) return false;
  for (size_t i = 0; i < what.size(); ++i) {
    if (Upper(s[pos + i]) != Upper(what[i])) return false;
  }
  return true;
}

// True when the format holds an am/pm, a/p or ampm token outside quotes.
bool UsesTwelveHourClock(std::string_view f) {
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '"' || f[i] == '\'') {
      const size_t end = f.find(f[i], i + 1);
      if (end == std::string_view::npos) return false;
      i = end;
      continue;
    }
    if (StartsWithNoCase(f, i, "am/pm") || StartsWithNoCase(f, i, "a/p") ||
        StartsWithNoCase(f, i, "ampm"))
      return true;
  }
  return false;
}

void AppendNumber(std::string& out, unsigned value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

struct DateParts {
  int year = 1899;
  unsigned month = 12, day = 30, weekday = 6;  // weekday: 0 = Sunday
};

DateParts PartsOf(int32_t date) {
  DateParts p;
  std::chrono::year_month_day ymd;
  const int32_t d = date == kRzvEmptyDate ? kRzvDateDelta : date;
  if (!RzvTryDecodeDate(d, ymd)) {
    throw RzvException::Format(kRzvConvertError, "Invalid date value %d", d);
  }
  p.year = static_cast<int>(ymd.year());
  p.month = static_cast<unsigned>(ymd.month());
  p.day = static_cast<unsigned>(ymd.day());
  p.weekday = static_cast<unsigned>(RzvDayOfWeek(d) % 7);
  return p;
}

void FormatInto(std::string& out, std::string_view f, RzvDateTime value, const RzvFormatSettings& s,
                int depth) {
  if (depth > 2) return;  // formats that name each other stop here
  const bool twelve = UsesTwelveHourClock(f);
  std::optional<DateParts> date;
  auto dp = [&]() -> const DateParts& {
    if (!date) date = PartsOf(value.date);
    return *date;
  };
  const RzvTimeParts tp = RzvDecodeTime(value.time);
  char last_token = 0;
  size_t i = 0;
  while (i < f.size()) {
    const char c = f[i];
    const char u = Upper(c);
    if (c == '"' || c == '\'') {
      const size_t end = f.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? f.size() : end;
      out.append(f.substr(i + 1, stop - i - 1));
      i = stop == f.size() ? stop : stop + 1;
      continue;
    }
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      if (c == '/') {
        out += s.date_separator;
      } else if (c == ':') {
        out += s.time_separator;
      } else {
        out += c;
      }
      ++i;
      continue;
    }
    if (u == 'A') {
      if (StartsWithNoCase(f, i, "am/pm")) {
        out.append(f.substr(tp.hour < 12 ? i : i + 3, 2));
        i += 5;
      } else if (StartsWithNoCase(f, i, "a/p")) {
        out += f[tp.hour < 12 ? i : i + 2];
        i += 3;
      } else if (StartsWithNoCase(f, i, "ampm")) {
        out += tp.hour < 12 ? s.time_am_string : s.time_pm_string;
        i += 4;
      } else {
        out += c;
        ++i;
      }
      last_token = u;
      continue;
    }
    size_t n = 1;
    while (i + n < f.size() && Upper(f[i + n]) == u) ++n;
    switch (u) {
      case 'C':
        n = 1;
        FormatInto(out, s.short_date_format, value, s, depth + 1);
        if (value.time != 0) {
          out += ' ';
          FormatInto(out, s.long_time_format, value, s, depth + 1);
        }
        break;
      case 'D':
        if (n == 1) {
          AppendNumber(out, dp().day, 1);
        } else if (n == 2) {
          AppendNumber(out, dp().day, 2);
        } else if (n == 3) {
          out += s.short_day_names[dp().weekday];
        } else if (n == 4) {
          out += s.long_day_names[dp().weekday];
        } else if (n == 5) {
          FormatInto(out, s.short_date_format, value, s, depth + 1);
        } else {
          n = 6;
          FormatInto(out, s.long_date_format, value, s, depth + 1);
        }
        break;
      case 'Y':
        if (n <= 2) {
          AppendNumber(out, static_cast<unsigned>(dp().year % 100), 2);
        } else {
          AppendNumber(out, static_cast<unsigned>(dp().year), 4);
        }
        break;
      case 'M':
        if (last_token == 'H' && n <= 2) {
          AppendNumber(out, tp.minute, static_cast<int>(n));
        } else if (n <= 2) {
          AppendNumber(out, dp().month, static_cast<int>(n));
        } else if (n == 3) {
          out += s.short_month_names[dp().month - 1];
        } else {
          n = 4;
          out += s.long_month_names[dp().month - 1];
        }
        break;
      case 'H': {
        n = n > 2 ? 2 : n;
        unsigned hour = tp.hour;
        if (twelve) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        AppendNumber(out, hour, static_cast<int>(n));
        break;
      }
      case 'N':
        n = n > 2 ? 2 : n;
        AppendNumber(out, tp.minute, static_cast<int>(n));
        break;
      case 'S':
        n = n > 2 ? 2 : n;
        AppendNumber(out, tp.second, static_cast<int>(n));
        break;
      case 'Z':
        n = n >= 3 ? 3 : 1;
        AppendNumber(out, tp.ms, static_cast<int>(n));
        break;
      case 'T':
        n = n >= 2 ? 2 : 1;
        FormatInto(out, n == 1 ? s.short_time_format : s.long_time_format, value, s, depth + 1);
        break;
      default:
        out.append(f.substr(i, n));
        break;
    }
    last_token = u;
    i += n;
  }
}

// ---- Parsing ------------------------------------------------------------------

struct Scanner {
  std::string_view s;
  size_t pos = 0;

  void SkipBlanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos == s.size();
  }
  // Up to max_digits decimal digits; reports their count.
  bool Number(unsigned& value, size_t& digits, size_t max_digits = 4) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (pos < s.size() && digits < max_digits && s[pos] >= '0' && s[pos] <= '9') {
      value = value * 10 + static_cast<unsigned>(s[pos] - '0');
      ++pos;
      ++digits;
    }
    // A longer run of digits is not one of our numbers.
    if (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') return false;
    return digits > 0;
  }
  bool Char(char c) {
    SkipBlanks();
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // Matches word ignoring case; empty words never match.
  bool Word(std::string_view word) {
    SkipBlanks();
    if (word.empty() || !StartsWithNoCase(s, pos, word)) return false;
    pos += word.size();
    return true;
  }
};

enum class DateOrder { kMDY, kDMY, kYMD };

DateOrder OrderOf(std::string_view format) {
  for (size_t i = 0; i < format.size(); ++i) {
    const char u = Upper(format[i]);
    if (format[i] == '"' || format[i] == '\'') {
      const size_t end = format.find(format[i], i + 1);
      if (end == std::string_view::npos) break;
      i = end;
      continue;
    }
    if (u == 'Y') return DateOrder::kYMD;
    if (u == 'M') return DateOrder::kMDY;
    if (u == 'D') return DateOrder::kDMY;
  }
  return DateOrder::kMDY;
}

int CurrentYear() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day{today}.year());
}

bool EndsWithDateSeparator(std::string_view format) {
  while (!format.empty() && format.back() == ' ') format.remove_suffix(1);
  return !format.empty() && format.back() == '/';
}

bool ScanDate(Scanner& sc, const RzvFormatSettings& s, int32_t& date) {
  unsigned n[3] = {0, 0, 0};
  size_t digits[3] = {0, 0, 0};
  if (!sc.Number(n[0], digits[0]) || !sc.Char(s.date_separator) || !sc.Number(n[1], digits[1]))
    return false;
  int count = 2;
  const size_t save = sc.pos;
  if (sc.Char(s.date_separator) && sc.Number(n[2], digits[2])) {
    count = 3;
  } else {
    sc.pos = save;
  }
  // A format that ends in a date separator ("yyyy. mm. dd." in Hungarian)
  // writes it after the last number.
  if (EndsWithDateSeparator(s.short_date_format)) {
    const size_t end = sc.pos;
    if (!sc.Char(s.date_separator)) sc.pos = end;
  }
  unsigned year = 0, month = 0, day = 0;
  size_t year_digits = 4;
  const DateOrder order = OrderOf(s.short_date_format);
  if (count == 2) {
    year = static_cast<unsigned>(CurrentYear());
    if (order == DateOrder::kDMY) {
      day = n[0];
      month = n[1];
    } else {
      month = n[0];
      day = n[1];
    }
  } else if (order == DateOrder::kMDY) {
    month = n[0], day = n[1], year = n[2], year_digits = digits[2];
  } else if (order == DateOrder::kDMY) {
    day = n[0], month = n[1], year = n[2], year_digits = digits[2];
  } else {
    year = n[0], month = n[1], day = n[2], year_digits = digits[0];
  }
  if (year_digits <= 2) year += year < 30 ? 2000 : 1900;
  return RzvTryEncodeDate(static_cast<int>(year), month, day, date);
}

bool ScanAmPm(Scanner& sc, const RzvFormatSettings& s, int& ampm) {
  if (sc.Word(s.time_am_string) || sc.Word("AM")) {
    ampm = 0;
    return true;
  }
  if (sc.Word(s.time_pm_string) || sc.Word("PM")) {
    ampm = 1;
    return true;
  }
  return false;
}

bool ScanTime(Scanner& sc, const RzvFormatSettings& s, int32_t& time) {
  int ampm = -1;
  ScanAmPm(sc, s, ampm);
  unsigned hour = 0, minute = 0, second = 0, ms = 0;
  size_t digits = 0;
  if (!sc.Number(hour, digits, 2)) return false;
  bool have_minute = false;
  if (sc.Char(s.time_separator)) {
    if (!sc.Number(minute, digits, 2)) return false;
    have_minute = true;
    if (sc.Char(s.time_separator)) {
      if (!sc.Number(second, digits, 2)) return false;
      if (sc.Char(s.decimal_separator)) {
        if (!sc.Number(ms, digits, 3)) return false;
      }
    }
  }
  if (ampm < 0) ScanAmPm(sc, s, ampm);
  if (!have_minute && ampm < 0) return false;
  if (ampm >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    if (ampm == 1) hour += 12;
  }
  return RzvTryEncodeTime(hour, minute, second, ms, time);
}

}  // namespace

// ---- Settings ------------------------------------------------------------------

RzvFormatSettings RzvFormatSettings::FromLocale(std::string_view time_locale,
                                                std::string_view numeric_locale) {
  RzvFormatSettings s;
  const std::string time_name = IcuLocaleName(time_locale);
  if (!time_name.empty()) LoadTimeSettings(icu::Locale(time_name.c_str()), s);
  const std::string numeric_name = IcuLocaleName(numeric_locale);
  if (!numeric_name.empty()) LoadNumericSettings(icu::Locale(numeric_name.c_str()), s);
  return s;
}

std::shared_ptr<const RzvFormatSettings> RzvSystemFormats::Current() {
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    std::lock_guard lock(SettingsMutex());
    if (!SettingsSlot()) {
      SettingsSlot() = std::make_shared<const RzvFormatSettings>(
          RzvFormatSettings::FromLocale(EnvLocale("LC_TIME"), EnvLocale("LC_NUMERIC")));
    }
  });
  std::lock_guard lock(SettingsMutex());
  return SettingsSlot();
}

void RzvSystemFormats::Set(const RzvFormatSettings& settings) {
  auto next = std::make_shared<const RzvFormatSettings>(settings);
  std::lock_guard lock(SettingsMutex());
  SettingsSlot() = std::move(next);
}

void RzvSystemFormats::ResetToUsDefaults() {
  Set(RzvFormatSettings{});
}

void RzvSystemFormats::LoadFromEnvironment() {
  Set(RzvFormatSettings::FromLocale(EnvLocale("LC_TIME"), EnvLocale("LC_NUMERIC")));
}

// ---- Formatting and parsing -----------------------------------------------------

std::string RzvFormatDateTime(std::string_view format, RzvDateTime value,
                              const RzvFormatSettings& settings) {
  std::string out;
  FormatInto(out, format, value, settings, 0);
  return out;
}

std::string RzvDateToText(int32_t date, const RzvFormatSettings& settings) {
  if (date == kRzvEmptyDate) return "";
  return RzvFormatDateTime(settings.short_date_format, RzvDateTime{date, 0}, settings);
}

std::string RzvTimeToText(int32_t time, const RzvFormatSettings& settings) {
  if (time == 0) return "";
  return RzvFormatDateTime(settings.long_time_format, RzvDateTime{kRzvEmptyDate, time}, settings);
}

std::string RzvDateTimeToText(RzvDateTime value, const RzvFormatSettings& settings) {
  std::string date = RzvDateToText(value.date, settings);
  const std::string time = RzvTimeToText(value.time, settings);
  if (!date.empty() && !time.empty()) date += ' ';
  return date + time;
}

bool RzvTryTextToDate(std::string_view text, const RzvFormatSettings& settings, int32_t& date) {
  Scanner sc{text};
  int32_t d = 0;
  if (!ScanDate(sc, settings, d) || !sc.AtEnd()) return false;
  date = d;
  return true;
}

bool RzvTryTextToTime(std::string_view text, const RzvFormatSettings& settings, int32_t& time) {
  Scanner sc{text};
  int32_t t = 0;
  if (!ScanTime(sc, settings, t) || !sc.AtEnd()) return false;
  time = t;
  return true;
}

bool RzvTryTextToDateTime(std::string_view text, const RzvFormatSettings& settings,
                          RzvDateTime& value) {
  Scanner sc{text};
  RzvDateTime v{kRzvEmptyDate, 0};
  if (ScanDate(sc, settings, v.date)) {
    if (!sc.AtEnd() && !ScanTime(sc, settings, v.time)) return false;
  } else {
    sc.pos = 0;
    v.date = kRzvEmptyDate;
    if (!ScanTime(sc, settings, v.time)) return false;
  }
  if (!sc.AtEnd()) return false;
  value = v;
  return true;
}

int32_t RzvTextToDate(std::string_view text, const RzvFormatSettings& settings) {
  int32_t date = 0;
  if (!RzvTryTextToDate(text, settings, date)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid date", text);
  }
  return date;
}

int32_t RzvTextToTime(std::string_view text, const RzvFormatSettings& settings) {
  int32_t time = 0;
  if (!RzvTryTextToTime(text, settings, time)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid time", text);
  }
  return time;
}

RzvDateTime RzvTextToDateTime(std::string_view text, const RzvFormatSettings& settings) {
  RzvDateTime value;
  if (!RzvTryTextToDateTime(text, settings, value)) {
    throw RzvException::Format(kRzvConvertError, "'%s' is not a valid date and time", text);
  }
  return value;
}

}  // namespace rzv
