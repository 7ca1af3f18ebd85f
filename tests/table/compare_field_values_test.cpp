#include "engine/table/compare_field_values.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/collation.h"
#include "engine/table/date_time.h"
#include "engine/table/extended_float.h"
#include "engine/table/system_formats.h"
#include "engine/table/windows1252.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;
using ::rzv::testing::LeBytes;
using S = RzvStorageType;

std::vector<uint8_t> Ansi(const std::string& s) {
  return {s.c_str(), s.c_str() + s.size() + 1};
}
std::vector<uint8_t> Wide(const std::u16string& s) {
  std::vector<uint8_t> b;
  for (char16_t c : s + u'\0') {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}
std::vector<uint8_t> DateTime(int32_t day, int32_t ms) {
  std::vector<uint8_t> b = LeBytes(day);
  std::vector<uint8_t> t = LeBytes(ms);
  b.insert(b.end(), t.begin(), t.end());
  return b;
}
std::vector<uint8_t> Extended(double v) {
  std::vector<uint8_t> b(10);
  RzvDoubleToExtended(v, b.data());
  return b;
}

struct Value {
  S type;
  std::vector<uint8_t> bytes;
};

int Compare(const Value& a, const Value& b, bool ci = false, int32_t length = -1) {
  return CompareFieldValues(a.bytes.data(), b.bytes.data(), a.type, b.type, ci, length, false,
                            false);
}

class CompareFieldValuesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RzvCollator::SetDefaultLocale("C"); }
};

TEST_F(CompareFieldValuesTest, NullIsTheSmallestValue) {
  int32_t zero = 0;
  EXPECT_EQ(CompareFieldValues(nullptr, &zero, S::kInteger, S::kInteger, false, -1, true, false),
            -1);
  EXPECT_EQ(CompareFieldValues(&zero, nullptr, S::kInteger, S::kInteger, false, -1, false, true),
            1);
  EXPECT_EQ(CompareFieldValues(nullptr, nullptr, S::kBlob, S::kDate, false, -1, true, true), 0);
  ExpectError(
      [&] {
        CompareFieldValues(nullptr, &zero, S::kInteger, S::kInteger, false, -1, false, false);
      },
      30016, "Value is Null");
}

TEST_F(CompareFieldValuesTest, TextOrder) {
  struct Case {
    Value a, b;
    bool ci;
    int32_t length;
    int expected;
  };
  const Case cases[] = {
      {{S::kString, Ansi("abc")}, {S::kString, Ansi("ABC")}, true, -1, 0},
      {{S::kString, Ansi("abc")}, {S::kString, Ansi("ABC")}, false, -1, -1},
      {{S::kString, Ansi("abc")}, {S::kString, Ansi("abd")}, true, -1, -1},
      {{S::kString, Ansi("abd")}, {S::kString, Ansi("ABC")}, true, -1, 1},
      {{S::kString, Ansi("Abc")}, {S::kString, Ansi("abd")}, false, -1, -1},
      {{S::kString, Ansi("ab")}, {S::kString, Ansi("abc")}, false, -1, -1},
      {{S::kString, Ansi("co-op")}, {S::kString, Ansi("coop")}, false, -1, -1},
      {{S::kString, Ansi("it's")}, {S::kString, Ansi("its")}, true, -1, -1},
      {{S::kChar, Ansi("abcX")}, {S::kChar, Ansi("abcY")}, false, 3, 0},
      {{S::kChar, Ansi("abcX")}, {S::kChar, Ansi("abcY")}, false, 4, -1},
      {{S::kString, Ansi("e")}, {S::kString, Ansi("\xE9")}, false, -1, -1},  // e < é
      {{S::kString, Ansi("\xE9")}, {S::kString, Ansi("f")}, false, -1, -1},  // é < f
      {{S::kString, Ansi("\xC9t\xE9")}, {S::kString, Ansi("\xE9T\xC9")}, true, -1, 0},
      {{S::kString, Ansi("e")}, {S::kString, Ansi("\xE9")}, true, -1, -1},    // only case
      {{S::kString, Ansi("\x9A")}, {S::kString, Ansi("\x8A")}, true, -1, 0},  // š = Š
      {{S::kBytes, Ansi("a1")}, {S::kBytes, Ansi("a2")}, false, -1, -1},
      {{S::kWideString, Wide(u"Stra\u00DFe")}, {S::kWideString, Wide(u"STRA\u00DFE")}, true, -1, 0},
      {{S::kWideChar, Wide(u"\u0436")}, {S::kWideChar, Wide(u"\u0416")}, false, -1, -1},
      {{S::kWideChar, Wide(u"abc")}, {S::kWideChar, Wide(u"abd")}, false, 2, 0},
      {{S::kString, Ansi("\xE9")}, {S::kWideString, Wide(u"\u00E9")}, false, -1, 0},
      {{S::kMemo, Ansi("abc")}, {S::kMemo, Ansi("ABC")}, true, -1, 0},
      {{S::kMemo, Ansi("abc")}, {S::kString, Ansi("abd")}, false, -1, -1},
      {{S::kWideMemo, Wide(u"b")}, {S::kString, Ansi("a")}, false, -1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Compare(c.a, c.b, c.ci, c.length), c.expected)
        << &c - cases << ": ci=" << c.ci << " length=" << c.length;
    EXPECT_EQ(Compare(c.b, c.a, c.ci, c.length), -c.expected) << &c - cases << " reversed";
  }
}

TEST_F(CompareFieldValuesTest, NumbersDatesAndBooleans) {
  struct Case {
    Value a, b;
    int expected;
  };
  const Case cases[] = {
      {{S::kShortint, LeBytes<int8_t>(-1)}, {S::kShortint, LeBytes<int8_t>(1)}, -1},
      {{S::kByte, LeBytes<uint8_t>(255)}, {S::kByte, LeBytes<uint8_t>(1)}, 1},
      {{S::kCardinal, LeBytes<uint32_t>(4000000000u)}, {S::kCardinal, LeBytes<uint32_t>(1)}, 1},
      {{S::kWord, LeBytes<uint16_t>(65535)}, {S::kSmallint, LeBytes<int16_t>(-1)}, 1},
      {{S::kCardinal, LeBytes<uint32_t>(4000000000u)}, {S::kInteger, LeBytes<int32_t>(-1)}, 1},
      {{S::kLargeint, LeBytes<int64_t>(-5)}, {S::kByte, LeBytes<uint8_t>(200)}, -1},
      {{S::kInteger, LeBytes<int32_t>(2)}, {S::kFloat, LeBytes<double>(2.5)}, -1},
      {{S::kSingle, LeBytes<float>(2.5f)}, {S::kCurrency, LeBytes<double>(2.5)}, 0},
      {{S::kFloat, LeBytes<double>(-0.0)}, {S::kFloat, LeBytes<double>(0.0)}, 0},
      {{S::kExtended, Extended(1.0)}, {S::kExtended, Extended(-1.0)}, 1},
      {{S::kExtended, Extended(-2.0)}, {S::kExtended, Extended(-1.0)}, -1},
      {{S::kExtended, Extended(0.0)}, {S::kExtended, Extended(-0.0)}, 0},
      {{S::kExtended, Extended(1e-300)}, {S::kExtended, Extended(0.0)}, 1},
      {{S::kLogical, LeBytes<int16_t>(0)}, {S::kLogical, LeBytes<int16_t>(7)}, -1},
      {{S::kLogical, LeBytes<int16_t>(-1)}, {S::kLogical, LeBytes<int16_t>(7)}, 0},
      {{S::kLogical, LeBytes<int16_t>(1)}, {S::kInteger, LeBytes<int32_t>(1)}, 0},
      {{S::kDate, LeBytes<int32_t>(-1)}, {S::kDate, LeBytes<int32_t>(1)}, -1},
      {{S::kTime, LeBytes<int32_t>(43200000)}, {S::kTime, LeBytes<int32_t>(0)}, 1},
      {{S::kDateTime, DateTime(5, 10)}, {S::kDateTime, DateTime(5, 20)}, -1},
      {{S::kDateTime, DateTime(6, 0)}, {S::kDateTime, DateTime(5, 20)}, 1},
      {{S::kDate, LeBytes<int32_t>(5)}, {S::kDateTime, DateTime(5, 0)}, 0},
      {{S::kDate, LeBytes<int32_t>(5)}, {S::kDateTime, DateTime(5, 1)}, -1},
      {{S::kTime, LeBytes<int32_t>(1)}, {S::kDate, LeBytes<int32_t>(1)}, -1},
      {{S::kInteger, LeBytes<int32_t>(693594)}, {S::kDate, LeBytes<int32_t>(693594)}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Compare(c.a, c.b), c.expected) << &c - cases;
    EXPECT_EQ(Compare(c.b, c.a), -c.expected) << &c - cases << " reversed";
  }

  // Two EXTENDED values that differ below double precision.
  std::vector<uint8_t> one = Extended(1.0);
  std::vector<uint8_t> next = one;
  next[0] = 1;
  EXPECT_EQ(Compare({S::kExtended, one}, {S::kExtended, next}), -1);
}

TEST_F(CompareFieldValuesTest, TextMeetingOtherTypesUsesTheCommonType) {
  EXPECT_EQ(Compare({S::kString, Ansi("10")}, {S::kInteger, LeBytes<int32_t>(9)}), -1);
  EXPECT_EQ(Compare({S::kInteger, LeBytes<int32_t>(10)}, {S::kString, Ansi("10")}), 0);
  int32_t jan1 = 0;
  ASSERT_TRUE(RzvTryEncodeDate(2024, 1, 1, jan1));
  EXPECT_EQ(Compare({S::kString, Ansi("2024-01-02")}, {S::kDate, LeBytes(jan1)}), 1);
  EXPECT_EQ(Compare({S::kDate, LeBytes(jan1)}, {S::kString, Ansi("2024-01-01")}), 0);
}

// A number meeting a date kind becomes that date kind exactly as a typed value
// converts it, so a key comparison and an expression agree; a float that no
// day number holds is refused instead of being cast blindly.
TEST_F(CompareFieldValuesTest, NumbersMeetingDateKindsConvertLikeTypedValues) {
  const int32_t jan5 = 733412;
  struct Case {
    Value a, b;
  };
  const Case equal[] = {
      {{S::kFloat, LeBytes<double>(-1000.5)}, {S::kTime, LeBytes<int32_t>(86399000)}},
      {{S::kFloat, LeBytes<double>(jan5 + 1.0 / 86400000)}, {S::kDateTime, DateTime(jan5, 1)}},
      {{S::kFloat, LeBytes<double>(jan5 + 999.0 / 86400000)}, {S::kDateTime, DateTime(jan5, 999)}},
      {{S::kSingle, LeBytes<float>(2.5f)}, {S::kDate, LeBytes<int32_t>(2)}},
      {{S::kExtended, Extended(jan5 + 0.75)}, {S::kDateTime, DateTime(jan5, 18 * 3600 * 1000)}},
  };
  for (const Case& c : equal) {
    EXPECT_EQ(Compare(c.a, c.b), 0) << &c - equal;
    EXPECT_EQ(Compare(c.b, c.a), 0) << &c - equal << " reversed";
  }
  for (double d : {1e20, -1e20, std::nan(""), HUGE_VAL}) {
    for (const Value& when :
         {Value{S::kDate, LeBytes<int32_t>(jan5)}, Value{S::kDateTime, DateTime(jan5, 0)}}) {
      ExpectError(
          [&] {
            Compare({S::kFloat, LeBytes<double>(d)}, when);
          },
          kRzvConvertError, "Invalid floating point operation");
    }
  }
}

TEST_F(CompareFieldValuesTest, UncomparableTypesRaise) {
  const uint8_t bytes[16] = {1};
  ExpectError(
      [&] { CompareFieldValues(bytes, bytes, S::kBlob, S::kBlob, false, -1, false, false); }, 30047,
      "Unknown DataType: 'BLOB'");
  ExpectError(
      [&] {
        CompareFieldValues(bytes, bytes, S::kVarBytes, S::kVarBytes, false, -1, false, false);
      },
      30047, "Unknown DataType: 'VARBYTES'");
  ExpectError(
      [&] { CompareFieldValues(bytes, bytes, S::kCurrency, S::kDate, false, -1, false, false); },
      30044, "Cannot compare Incompatible DataTypes: 'CURRENCY' and 'DATE'");
  ExpectError(
      [&] { CompareFieldValues(bytes, bytes, S::kLogical, S::kTime, false, -1, false, false); },
      30044, "Cannot compare Incompatible DataTypes: 'LOGICAL' and 'TIME'");
  ExpectError(
      [&] { CompareFieldValues(bytes, bytes, S::kBytes, S::kInteger, false, -1, false, false); },
      30044, "Cannot compare Incompatible DataTypes: 'BYTES' and 'INTEGER'");
}

// The per-character weight tables must give exactly what the collator gives.
TEST(CollatorTest, AsciiTablesAgreeWithTheCollator) {
  std::mt19937 rng(7);
  const std::string alphabet = "aAbBcChHzZ09 -'_.,!~\x01\x1F";
  for (const char* locale : {"root", "en_US", "de", "cs", "da", "sv", "ja"}) {
    RzvCollator coll(locale);
    if (std::string(locale) == "root" || std::string(locale) == "en_US") {
      EXPECT_TRUE(coll.HasAsciiTables()) << locale;
      EXPECT_TRUE(coll.HasAsciiWords()) << locale;
    }
    if (std::string(locale) == "cs") {
      EXPECT_FALSE(coll.HasAsciiTables());  // "ch" is a contraction
    }
    for (int i = 0; i < 30000; ++i) {
      std::string a, b;
      // Mostly one word apart in case, sometimes in a character, at any
      // distance from the start.
      size_t common = rng() % 20;
      for (size_t k = 0; k < common; ++k) a += alphabet[rng() % alphabet.size()];
      b = a;
      for (char& c : b) {
        if (rng() % 8 == 0)
          c = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
      }
      for (size_t k = rng() % 12; k > 0; --k) a += alphabet[rng() % alphabet.size()];
      for (size_t k = rng() % 12; k > 0; --k) b += alphabet[rng() % alphabet.size()];
      bool ci = rng() % 2;
      std::u16string wa(a.begin(), a.end()), wb(b.begin(), b.end());
      int expected = coll.CompareUtf16(wa, wb, ci);
      const auto* pa = reinterpret_cast<const uint8_t*>(a.c_str());
      const auto* pb = reinterpret_cast<const uint8_t*>(b.c_str());
      ASSERT_EQ(coll.CompareAnsi(pa, pb, -1, ci), expected)
          << locale << " '" << a << "' '" << b << "' ci=" << ci;
      std::vector<uint8_t> xa = Wide(wa), xb = Wide(wb);
      ASSERT_EQ(coll.CompareWide(xa.data(), xb.data(), -1, ci), expected) << locale;
    }
  }
  RzvCollator czech("cs");
  const auto* chata = reinterpret_cast<const uint8_t*>("chata");
  const auto* hrad = reinterpret_cast<const uint8_t*>("hrad");
  EXPECT_EQ(czech.CompareAnsi(chata, hrad, -1, false), 1);
  EXPECT_EQ(RzvCollator("root").CompareAnsi(chata, hrad, -1, false), -1);
}

// One collator serves every thread; the ICU path and the tables alike.
TEST(CollatorTest, SharedAcrossThreads) {
  RzvCollator coll("root");
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"Orvanel entry 042", "ORVANEL entry 047"}, {"caf\xE9", "cafe"}, {"\xC9t\xE9", "\xE9t\xE9"}};
  std::vector<int> expected;
  for (const auto& [a, b] : pairs) {
    for (bool ci : {false, true}) {
      expected.push_back(coll.CompareAnsi(reinterpret_cast<const uint8_t*>(a.c_str()),
                                          reinterpret_cast<const uint8_t*>(b.c_str()), -1, ci));
    }
  }
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 2000; ++round) {
        size_t k = 0;
        for (const auto& [a, b] : pairs) {
          for (bool ci : {false, true}) {
            int r = coll.CompareAnsi(reinterpret_cast<const uint8_t*>(a.c_str()),
                                     reinterpret_cast<const uint8_t*>(b.c_str()), -1, ci);
            if (r != expected[k++]) ++mismatches;
          }
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(CollatorTest, LocaleNamesFromTheEnvironment) {
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix("C"), "root");
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix("POSIX"), "root");
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix("C.UTF-8"), "root");
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix(""), "root");
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix("de_DE.UTF-8@euro"), "de_DE");
  EXPECT_EQ(RzvCollator::IcuLocaleFromPosix("sv_SE"), "sv_SE");
}

}  // namespace
}  // namespace rzv
