#include "engine/table/date_time.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "engine/storage/byte_order.h"
#include "engine/table/extended_float.h"

namespace rzv {
namespace {

using std::chrono::year_month_day;

TEST(DateTimeTest, DayNumbersOfCalendarDates) {
  struct Case {
    int y;
    unsigned m, d;
    int32_t day_number;
  };
  const Case cases[] = {
      {1, 1, 1, 1},          {1899, 12, 30, kRzvDateDelta}, {1900, 1, 1, 693596},
      {1970, 1, 1, 719163},  {2000, 1, 1, 730120},          {2009, 1, 5, 733412},
      {2000, 2, 29, 730179}, {9999, 12, 31, 3652059},
  };
  for (const Case& c : cases) {
    int32_t n = 0;
    ASSERT_TRUE(RzvTryEncodeDate(c.y, c.m, c.d, n)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(n, c.day_number) << c.y << "-" << c.m << "-" << c.d;
    year_month_day ymd;
    ASSERT_TRUE(RzvTryDecodeDate(n, ymd));
    EXPECT_EQ(ymd, year_month_day(std::chrono::year(c.y), std::chrono::month(c.m),
                                  std::chrono::day(c.d)));
  }
}

TEST(DateTimeTest, EveryDayNumberRoundTrips) {
  for (int32_t n = 1; n <= 3652059; n += 7) {
    year_month_day ymd;
    ASSERT_TRUE(RzvTryDecodeDate(n, ymd));
    int32_t back = 0;
    ASSERT_TRUE(RzvTryEncodeDate(static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                                 static_cast<unsigned>(ymd.day()), back));
    ASSERT_EQ(back, n);
  }
}

TEST(DateTimeTest, RejectsInvalidDatesAndDayNumbers) {
  int32_t n = 0;
  EXPECT_FALSE(RzvTryEncodeDate(2009, 2, 29, n));
  EXPECT_FALSE(RzvTryEncodeDate(2009, 13, 1, n));
  EXPECT_FALSE(RzvTryEncodeDate(2009, 4, 31, n));
  EXPECT_FALSE(RzvTryEncodeDate(0, 1, 1, n));
  EXPECT_FALSE(RzvTryEncodeDate(10000, 1, 1, n));
  year_month_day ymd;
  for (int32_t bad : {0, -5, 3652060, kRzvEmptyDate, INT32_MAX}) {
    EXPECT_FALSE(RzvTryDecodeDate(bad, ymd)) << bad;
  }
}

TEST(DateTimeTest, DayOfWeekIsIso) {
  EXPECT_EQ(RzvDayOfWeek(733412), 1);         // 2009-01-05, a Monday
  EXPECT_EQ(RzvDayOfWeek(kRzvDateDelta), 6);  // 1899-12-30, a Saturday
  EXPECT_EQ(RzvDayOfWeek(1), 1);              // 0001-01-01, a Monday
}

TEST(DateTimeTest, TimeEncoding) {
  int32_t t = -1;
  ASSERT_TRUE(RzvTryEncodeTime(12, 0, 0, 0, t));
  EXPECT_EQ(t, 12 * 3600 * 1000);
  ASSERT_TRUE(RzvTryEncodeTime(23, 59, 59, 999, t));
  EXPECT_EQ(t, kRzvMsPerDay - 1);
  const RzvTimeParts p = RzvDecodeTime(t);
  EXPECT_EQ(p.hour, 23u);
  EXPECT_EQ(p.minute, 59u);
  EXPECT_EQ(p.second, 59u);
  EXPECT_EQ(p.ms, 999u);
  EXPECT_FALSE(RzvTryEncodeTime(24, 0, 0, 0, t));
  EXPECT_FALSE(RzvTryEncodeTime(0, 60, 0, 0, t));
  EXPECT_FALSE(RzvTryEncodeTime(0, 0, 60, 0, t));
  EXPECT_FALSE(RzvTryEncodeTime(0, 0, 0, 1000, t));
}

TEST(DateTimeTest, DayCountValues) {
  struct Case {
    double days;
    RzvDateTime value;
  };
  const Case cases[] = {
      {0.0, {kRzvDateDelta, 0}},
      {1.5, {kRzvDateDelta + 1, kRzvMsPerDay / 2}},
      // Negative values count the fraction forward from midnight.
      {-1.25, {kRzvDateDelta - 1, kRzvMsPerDay / 4}},
      {39818.75, {733412, 18 * 3600 * 1000}},
  };
  for (const Case& c : cases) {
    RzvDateTime v;
    ASSERT_TRUE(RzvTryDateTimeFromDays(c.days, v)) << c.days;
    EXPECT_EQ(v, c.value) << c.days;
    EXPECT_DOUBLE_EQ(RzvDateTimeToDays(v), c.days);
  }
  // Rounding to the nearest millisecond carries into the next day.
  RzvDateTime v;
  ASSERT_TRUE(RzvTryDateTimeFromDays(0.9999999999, v));
  EXPECT_EQ(v, (RzvDateTime{kRzvDateDelta + 1, 0}));
  EXPECT_FALSE(RzvTryDateTimeFromDays(std::nan(""), v));
  EXPECT_FALSE(RzvTryDateTimeFromDays(1e300, v));
  EXPECT_DOUBLE_EQ(RzvDateTimeToDays({kRzvEmptyDate, kRzvMsPerDay / 2}), 0.5);
}

// ---- EXTENDED -----------------------------------------------------------------

struct Ext {
  uint16_t sign_exponent;
  uint64_t significand;
};

Ext ToExt(double v) {
  uint8_t b[kRzvExtendedSize];
  RzvDoubleToExtended(v, b);
  return {LoadLE<uint16_t>(b + 8), LoadLE<uint64_t>(b)};
}

double FromExt(Ext e) {
  uint8_t b[kRzvExtendedSize];
  StoreLE<uint64_t>(b, e.significand);
  StoreLE<uint16_t>(b + 8, e.sign_exponent);
  return RzvExtendedToDouble(b);
}

TEST(ExtendedFloatTest, ExactBitPatternsBothWays) {
  struct Case {
    double value;
    Ext ext;
  };
  const double min_denormal = std::numeric_limits<double>::denorm_min();
  const Case cases[] = {
      {1.0, {0x3FFF, 0x8000000000000000}},
      {-2.5, {0xC000, 0xA000000000000000}},
      {0.1, {0x3FFB, 0xCCCCCCCCCCCCD000}},
      {0.0, {0x0000, 0}},
      {-0.0, {0x8000, 0}},
      {std::numeric_limits<double>::infinity(), {0x7FFF, 0x8000000000000000}},
      {-std::numeric_limits<double>::infinity(), {0xFFFF, 0x8000000000000000}},
      {std::numeric_limits<double>::max(), {0x43FE, 0xFFFFFFFFFFFFF800}},
      {std::numeric_limits<double>::min(), {0x3C01, 0x8000000000000000}},
      // Double denormals become normal extended values.
      {min_denormal, {0x3BCD, 0x8000000000000000}},
      {3 * min_denormal, {0x3BCE, 0xC000000000000000}},
  };
  for (const Case& c : cases) {
    const Ext e = ToExt(c.value);
    EXPECT_EQ(e.sign_exponent, c.ext.sign_exponent) << c.value;
    EXPECT_EQ(e.significand, c.ext.significand) << c.value;
    const double back = FromExt(c.ext);
    EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(c.value)) << c.value;
  }
}

TEST(ExtendedFloatTest, NarrowingRoundsToNearestEven) {
  const double one_ulp = std::ldexp(1.0, -52);
  const double min_denormal = std::numeric_limits<double>::denorm_min();
  struct Case {
    Ext ext;
    double expected;
    const char* what;
  };
  const Case cases[] = {
      {{0x3FFF, 0x8000000000000400}, 1.0, "tie rounds down to even"},
      {{0x3FFF, 0x8000000000000C00}, 1.0 + 2 * one_ulp, "tie rounds up to even"},
      {{0x3FFF, 0x8000000000000401}, 1.0 + one_ulp, "above the tie rounds up"},
      {{0x3FFF, 0x80000000000003FF}, 1.0, "below the tie rounds down"},
      {{0xBFFF, 0xFFFFFFFFFFFFFC00}, -2.0, "carry into the exponent"},
      {{0x43FE, 0xFFFFFFFFFFFFFC00},
       std::numeric_limits<double>::infinity(),
       "rounding past the largest double"},
      {{0x7FFE, 0x8000000000000000}, std::numeric_limits<double>::infinity(), "too large"},
      {{0xFFFE, 0x8000000000000000},
       -std::numeric_limits<double>::infinity(),
       "too large, negative"},
      {{0x3BCC, 0x8000000000000000}, 0.0, "half the smallest denormal ties to zero"},
      {{0x3BCC, 0xC000000000000000}, min_denormal, "three quarters of it rounds up"},
      {{0x3BCD, 0xC000000000000000}, 2 * min_denormal, "1.5 denormals ties to 2"},
      {{0x3C00, 0xFFFFFFFFFFFFFFFF},
       std::numeric_limits<double>::min(),
       "a denormal rounding up to the smallest normal"},
      {{0x0001, 0x8000000000000000}, 0.0, "smallest normal extended"},
      {{0x0000, 0x0000000000000001}, 0.0, "extended denormal"},
      {{0x0000, 0x8000000000000000}, 0.0, "pseudo-denormal"},
      {{0x8000, 0x0000000000000000}, -0.0, "negative zero"},
  };
  for (const Case& c : cases) {
    const double v = FromExt(c.ext);
    EXPECT_EQ(std::bit_cast<uint64_t>(v), std::bit_cast<uint64_t>(c.expected)) << c.what;
  }
}

TEST(ExtendedFloatTest, NaNsAndInvalidEncodings) {
  // A quiet NaN keeps its payload both ways.
  const double nan = std::bit_cast<double>(uint64_t{0x7FF8000000000123});
  const Ext e = ToExt(nan);
  EXPECT_EQ(e.sign_exponent, 0x7FFF);
  EXPECT_EQ(e.significand, 0xC000000000000000 | (uint64_t{0x123} << 11));
  EXPECT_EQ(std::bit_cast<uint64_t>(FromExt(e)), 0x7FF8000000000123u);

  const Ext invalid[] = {
      {0x7FFF, 0xC000000000000000},  // quiet NaN
      {0x7FFF, 0x8000000000000001},  // signalling NaN, quieted
      {0x7FFF, 0x0000000000000000},  // pseudo-infinity
      {0x7FFF, 0x4000000000000000},  // pseudo-NaN
      {0x3FFF, 0x4000000000000000},  // unnormal
      {0x3FFF, 0x0000000000000000},  // unnormal zero
  };
  for (const Ext& x : invalid) {
    EXPECT_TRUE(std::isnan(FromExt(x))) << std::hex << x.sign_exponent << " " << x.significand;
  }
}

}  // namespace
}  // namespace rzv
