#include "engine/table/system_formats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

#include "engine/storage/exception.h"
#include "engine/table/number_text.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

int32_t Day(int y, unsigned m, unsigned d) {
  int32_t n = 0;
  EXPECT_TRUE(RzvTryEncodeDate(y, m, d, n));
  return n;
}

int32_t Ms(unsigned h, unsigned n, unsigned s, unsigned ms = 0) {
  int32_t t = 0;
  EXPECT_TRUE(RzvTryEncodeTime(h, n, s, ms, t));
  return t;
}

// German-style settings: day first, "." between date parts, 24-hour clock,
// "," as decimal separator.
RzvFormatSettings German() {
  RzvFormatSettings s;
  s.short_date_format = "dd/mm/yyyy";
  s.date_separator = '.';
  s.long_time_format = "hh:nn:ss";
  s.decimal_separator = ',';
  s.thousand_separator = '.';
  return s;
}

class SystemFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override { RzvSystemFormats::ResetToUsDefaults(); }
  void TearDown() override { RzvSystemFormats::ResetToUsDefaults(); }
  const RzvFormatSettings us_;
};

TEST_F(SystemFormatsTest, UsDefaults) {
  const auto s = RzvSystemFormats::Current();
  EXPECT_EQ(s->short_date_format, "M/d/yyyy");
  EXPECT_EQ(s->long_time_format, "h:mm:ss AM/PM");
  EXPECT_EQ(s->DateTimeFormat(), "M/d/yyyy h:mm:ss AM/PM");
  EXPECT_EQ(s->date_separator, '/');
  EXPECT_EQ(s->time_separator, ':');
  EXPECT_EQ(s->decimal_separator, '.');
  EXPECT_EQ(s->thousand_separator, ',');
  EXPECT_EQ(s->time_am_string, "AM");
  EXPECT_EQ(s->time_pm_string, "PM");
  // The C and POSIX locales are the US defaults too.
  const RzvFormatSettings c = RzvFormatSettings::FromLocale("C", "POSIX");
  EXPECT_EQ(c.short_date_format, "M/d/yyyy");
  EXPECT_EQ(c.long_time_format, "h:mm:ss AM/PM");
  EXPECT_EQ(c.decimal_separator, '.');
}

TEST_F(SystemFormatsTest, SetReplacesTheProcessWideSettings) {
  RzvSystemFormats::Set(German());
  EXPECT_EQ(RzvSystemFormats::Current()->decimal_separator, ',');
  RzvSystemFormats::ResetToUsDefaults();
  EXPECT_EQ(RzvSystemFormats::Current()->decimal_separator, '.');
}

TEST_F(SystemFormatsTest, FormatsDatesAndTimes) {
  const RzvDateTime afternoon{Day(2009, 1, 5), Ms(13, 5, 9, 42)};
  const RzvDateTime after_midnight{Day(2009, 12, 31), Ms(0, 30, 0)};
  struct Case {
    std::string_view format;
    RzvDateTime value;
    std::string_view expected;
  };
  const Case cases[] = {
      {"M/d/yyyy", afternoon, "1/5/2009"},
      {"mm/dd/yy", afternoon, "01/05/09"},
      {"h:mm:ss AM/PM", afternoon, "1:05:09 PM"},
      {"h:mm:ss AM/PM", after_midnight, "12:30:00 AM"},
      {"hh:nn:ss.zzz", afternoon, "13:05:09.042"},
      {"h:m am/pm", afternoon, "1:5 pm"},
      {"h a/p", after_midnight, "12 a"},
      {"hh ampm", after_midnight, "12 AM"},
      {"ddd d mmm yyyy", afternoon, "Mon 5 Jan 2009"},
      {"dddd, mmmm d", after_midnight, "Thursday, December 31"},
      {"\"Day\" d 'of' m", afternoon, "Day 5 of 1"},
      {"yyyy-mm-dd", afternoon, "2009-01-05"},
      {"c", afternoon, "1/5/2009 1:05:09 PM"},
      {"c", {Day(2009, 1, 5), 0}, "1/5/2009"},
      {"ddddd t", afternoon, "1/5/2009 1:05 PM"},
      // The empty-date marker is 1899-12-30 for formatting.
      {"yyyy-mm-dd", {kRzvEmptyDate, 0}, "1899-12-30"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RzvFormatDateTime(c.format, c.value, us_), c.expected) << c.format;
  }
  EXPECT_EQ(RzvFormatDateTime("dd/mm/yyyy hh:nn", afternoon, German()), "05.01.2009 13:05");
}

TEST_F(SystemFormatsTest, EmptyDatesAndMidnightHaveNoText) {
  EXPECT_EQ(RzvDateToText(kRzvEmptyDate, us_), "");
  EXPECT_EQ(RzvTimeToText(0, us_), "");
  EXPECT_EQ(RzvDateTimeToText({kRzvEmptyDate, 0}, us_), "");
  EXPECT_EQ(RzvDateTimeToText({Day(2009, 1, 5), 0}, us_), "1/5/2009");
  EXPECT_EQ(RzvDateTimeToText({kRzvEmptyDate, Ms(9, 5, 0)}, us_), "9:05:00 AM");
  EXPECT_EQ(RzvDateTimeToText({Day(2009, 1, 5), Ms(9, 5, 0)}, us_), "1/5/2009 9:05:00 AM");
}

TEST_F(SystemFormatsTest, ParsesDatesInTheShortDateOrder) {
  const int32_t jan5 = Day(2009, 1, 5);
  struct Case {
    std::string_view text;
    const RzvFormatSettings* settings;
    int32_t expected;  // 0: not a date
  };
  const RzvFormatSettings german = German();
  RzvFormatSettings ymd;
  ymd.short_date_format = "yyyy/mm/dd";
  ymd.date_separator = '-';
  const Case cases[] = {
      {"1/5/2009", &us_, jan5},
      {" 01/05/2009 ", &us_, jan5},
      {"1/5/09", &us_, jan5},
      {"1/5/29", &us_, Day(2029, 1, 5)},
      {"1/5/30", &us_, Day(1930, 1, 5)},
      {"12/31/9999", &us_, 3652059},
      {"5.1.2009", &german, jan5},
      {"2009-1-5", &ymd, jan5},
      {"13/5/2009", &us_, 0},
      {"2/29/2009", &us_, 0},
      {"1-5-2009", &us_, 0},
      {"1/5/2009x", &us_, 0},
      {"1/5/20091", &us_, 0},
      {"", &us_, 0},
      {"1/5/2009", &german, 0},
  };
  for (const Case& c : cases) {
    int32_t d = 0;
    EXPECT_EQ(RzvTryTextToDate(c.text, *c.settings, d), c.expected != 0) << c.text;
    if (c.expected != 0) {
      EXPECT_EQ(d, c.expected) << c.text;
    }
  }
  // Without a year the current year is taken.
  int32_t d = 0;
  ASSERT_TRUE(RzvTryTextToDate("1/5", us_, d));
  std::chrono::year_month_day ymd_now;
  ASSERT_TRUE(RzvTryDecodeDate(d, ymd_now));
  const auto today = std::chrono::year_month_day{
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
  EXPECT_EQ(ymd_now.year(), today.year());
}

TEST_F(SystemFormatsTest, ParsesTimes) {
  struct Case {
    std::string_view text;
    int32_t expected;  // -1: not a time
  };
  const Case cases[] = {
      {"1:05:09 PM", Ms(13, 5, 9)},
      {"13:05", Ms(13, 5, 0)},
      {"12:00 AM", 0},
      {"12:30 pm", Ms(12, 30, 0)},
      {"10 PM", Ms(22, 0, 0)},
      {"PM 10:15", Ms(22, 15, 0)},
      {"1:05:09.250", Ms(1, 5, 9, 250)},
      {"10", -1},
      {"13:00 PM", -1},
      {"25:00", -1},
      {"10:61", -1},
      {"10:15 XM", -1},
  };
  for (const Case& c : cases) {
    int32_t t = 0;
    EXPECT_EQ(RzvTryTextToTime(c.text, us_, t), c.expected >= 0) << c.text;
    if (c.expected >= 0) {
      EXPECT_EQ(t, c.expected) << c.text;
    }
  }
}

TEST_F(SystemFormatsTest, ParsesDateTimes) {
  RzvDateTime v;
  ASSERT_TRUE(RzvTryTextToDateTime("1/5/2009 1:05 PM", us_, v));
  EXPECT_EQ(v, (RzvDateTime{Day(2009, 1, 5), Ms(13, 5, 0)}));
  ASSERT_TRUE(RzvTryTextToDateTime("1/5/2009", us_, v));
  EXPECT_EQ(v, (RzvDateTime{Day(2009, 1, 5), 0}));
  ASSERT_TRUE(RzvTryTextToDateTime("1:05 PM", us_, v));
  EXPECT_EQ(v, (RzvDateTime{kRzvEmptyDate, Ms(13, 5, 0)}));
  EXPECT_FALSE(RzvTryTextToDateTime("1/5/2009 nonsense", us_, v));
}

TEST_F(SystemFormatsTest, TextOfEveryDayReadsBack) {
  const RzvFormatSettings german = German();
  for (const RzvFormatSettings* s : {&us_, &german}) {
    for (int32_t d = 1; d <= 3652059; d += 997) {
      int32_t back = 0;
      ASSERT_TRUE(RzvTryTextToDate(RzvDateToText(d, *s), *s, back)) << d;
      ASSERT_EQ(back, d);
    }
    for (int32_t t = 1000; t < kRzvMsPerDay; t += 61'000) {
      int32_t back = 0;
      ASSERT_TRUE(RzvTryTextToTime(RzvTimeToText(t, *s), *s, back)) << t;
      ASSERT_EQ(back, t);
    }
  }
}

TEST_F(SystemFormatsTest, UnreadableTextRaisesTheConversionError) {
  ExpectError([&] { RzvTextToDate("31/31/2009", us_); }, kRzvConvertError,
              "'31/31/2009' is not a valid date");
  EXPECT_THROW(RzvTextToTime("noon", us_), RzvException);
  EXPECT_THROW(RzvTextToDateTime("", us_), RzvException);
}

TEST_F(SystemFormatsTest, LocaleSettingsComeFromIcu) {
  const RzvFormatSettings de = RzvFormatSettings::FromLocale("de_DE.UTF-8", "de_DE.UTF-8");
  EXPECT_EQ(de.decimal_separator, ',');
  EXPECT_EQ(de.thousand_separator, '.');
  EXPECT_EQ(de.date_separator, '.');
  const RzvDateTime v{Day(2009, 1, 5), Ms(13, 5, 9)};
  EXPECT_EQ(RzvDateTimeToText(v, de), "05.01.2009 13:05:09");
  int32_t d = 0;
  ASSERT_TRUE(RzvTryTextToDate("05.01.2009", de, d));
  EXPECT_EQ(d, v.date);

  const RzvFormatSettings en = RzvFormatSettings::FromLocale("en_US.UTF-8", "en_US.UTF-8");
  EXPECT_EQ(en.decimal_separator, '.');
  EXPECT_EQ(RzvDateTimeToText(v, en), "1/5/2009 1:05:09 PM");
}

// What the engine writes in the user's locale reads back as the same value,
// also where the locale's patterns hold words that the single-byte code page
// lacks (Korean and Arabic day-half markers, right-to-left marks, the
// Bulgarian year and hour abbreviations) or end in a date separator
// ("2009. 01. 05." in Hungarian and Korean).
TEST_F(SystemFormatsTest, LocaleTextReadsBackAsTheSameValue) {
  const RzvDateTime v{Day(2009, 1, 5), Ms(13, 5, 9)};
  for (const char* locale : {"en_US", "de_DE", "fi_FI", "hu_HU", "ko_KR", "ar_EG", "bg_BG"}) {
    const RzvFormatSettings s = RzvFormatSettings::FromLocale(locale, locale);
    const std::string text = RzvDateTimeToText(v, s);
    EXPECT_EQ(text.find('?'), std::string::npos) << locale << ": " << text;
    RzvDateTime back;
    ASSERT_TRUE(RzvTryTextToDateTime(text, s, back)) << locale << ": " << text;
    EXPECT_EQ(back, v) << locale << ": " << text;
    int32_t date = 0, time = 0;
    EXPECT_TRUE(RzvTryTextToDate(RzvDateToText(v.date, s), s, date)) << locale;
    EXPECT_EQ(date, v.date) << locale;
    EXPECT_TRUE(RzvTryTextToTime(RzvTimeToText(v.time, s), s, time)) << locale;
    EXPECT_EQ(time, v.time) << locale;
  }
}

TEST_F(SystemFormatsTest, EnvironmentChoosesTheLocale) {
  const char* names[] = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LANG"};
  std::string saved[4];
  bool had[4];
  for (int i = 0; i < 4; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    if (v) saved[i] = v;
    unsetenv(names[i]);
  }
  setenv("LANG", "de_DE.UTF-8", 1);
  setenv("LC_NUMERIC", "C", 1);
  RzvSystemFormats::LoadFromEnvironment();
  const auto s = RzvSystemFormats::Current();
  EXPECT_EQ(s->date_separator, '.');     // LANG
  EXPECT_EQ(s->decimal_separator, '.');  // LC_NUMERIC wins over LANG
  setenv("LC_ALL", "POSIX", 1);          // LC_ALL wins over both
  RzvSystemFormats::LoadFromEnvironment();
  EXPECT_EQ(RzvSystemFormats::Current()->short_date_format, "M/d/yyyy");
  for (int i = 0; i < 4; ++i) {
    if (had[i]) {
      setenv(names[i], saved[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}

TEST_F(SystemFormatsTest, ReadersSeeWholeSettingsWhileAnotherThreadSetsThem) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      const auto s = RzvSystemFormats::Current();
      // Each snapshot is one of the two settings, never a mix.
      if ((s->decimal_separator == ',') != (s->date_separator == '.')) ++torn;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    if (i % 2) {
      RzvSystemFormats::Set(German());
    } else {
      RzvSystemFormats::ResetToUsDefaults();
    }
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

// ---- Numbers ---------------------------------------------------------------------

TEST_F(SystemFormatsTest, FloatText) {
  struct Case {
    double value;
    std::string_view expected;
  };
  const Case cases[] = {
      {0.0, "0"},
      {12.5, "12.5"},
      {-0.25, "-0.25"},
      {100.0, "100"},
      {1e14, "100000000000000"},
      {1e15, "1E15"},
      {1.23456789e20, "1.23456789E20"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {-1.5e-7, "-1.5E-7"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const Case& c : cases) EXPECT_EQ(RzvFloatToText(c.value, us_), c.expected) << c.expected;
  EXPECT_EQ(RzvSingleToText(0.1f, us_), "0.1");
  EXPECT_EQ(RzvFloatToText(12.5, German()), "12,5");
  EXPECT_EQ(RzvFloatToText(1.5e-7, German()), "1,5E-7");
}

TEST_F(SystemFormatsTest, CurrencyText) {
  EXPECT_EQ(RzvCurrencyToText(10, us_), "10");
  EXPECT_EQ(RzvCurrencyToText(12.5, us_), "12.5");
  EXPECT_EQ(RzvCurrencyToText(1.23456, us_), "1.2346");
  EXPECT_EQ(RzvCurrencyToText(-0.00001, us_), "0");
  EXPECT_EQ(RzvCurrencyToText(-3.1, German()), "-3,1");
  EXPECT_DOUBLE_EQ(RzvTextToCurrency("12,5", German()), 12.5);
  EXPECT_DOUBLE_EQ(RzvTextToCurrency("1.23456", us_), 1.2346);
  EXPECT_THROW(RzvTextToCurrency("12.5", German()), RzvException);
}

TEST_F(SystemFormatsTest, NumberReadingIgnoresTheDecimalSeparator) {
  RzvSystemFormats::Set(German());
  EXPECT_DOUBLE_EQ(RzvTextToFloat("12.5"), 12.5);
  EXPECT_THROW(RzvTextToFloat("12,5"), RzvException);

  struct Case {
    std::string_view text;
    bool ok;
    double expected;
  };
  const Case cases[] = {
      {"12.5", true, 12.5}, {" -1e3 ", true, -1000}, {".5", true, 0.5},   {"5.", true, 5},
      {"+2E+2", true, 200}, {"1e-400", true, 0},     {"1e400", false, 0}, {"abc", false, 0},
      {"", false, 0},       {"1.5.2", false, 0},     {"e5", false, 0},    {"inf", false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(RzvTryTextToDouble(c.text, '.', v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.expected) << c.text;
    }
  }
}

TEST_F(SystemFormatsTest, IntegerReading) {
  struct Case {
    std::string_view text;
    bool ok;
    int64_t expected;
  };
  const Case cases[] = {
      {"12", true, 12},
      {" -7 ", true, -7},
      {"+5", true, 5},
      {"$FF", true, 255},
      {"0x10", true, 16},
      {"4294967296", true, 4294967296},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"1.5", false, 0},
      {"12a", false, 0},
      {"- 5", false, 0},
  };
  for (const Case& c : cases) {
    int64_t v = -1;
    EXPECT_EQ(RzvTryTextToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.expected) << c.text;
    }
  }
  ExpectError([&] { RzvTextToInt64("12a"); }, kRzvConvertError,
              "'12a' is not a valid integer value");
}

}  // namespace
}  // namespace rzv
