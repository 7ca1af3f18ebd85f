#include "engine/table/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "engine/storage/exception.h"
#include "engine/table/system_formats.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using T = RzvStorageType;

// ---- Value builders ----------------------------------------------------------

RzvVariant Str(std::string_view s, T type = T::kString) {
  RzvVariant v;
  v.SetAsString(s, type);
  return v;
}

RzvVariant Wide(std::u16string_view s, T type = T::kWideString) {
  RzvVariant v;
  v.SetAsWideString(s, type);
  return v;
}

RzvVariant Int(T type, int64_t n) {
  RzvVariant v;
  switch (type) {
    case T::kShortint:
      v.SetAsShortint(static_cast<int8_t>(n));
      break;
    case T::kSmallint:
      v.SetAsSmallint(static_cast<int16_t>(n));
      break;
    case T::kInteger:
      v.SetAsInteger(static_cast<int32_t>(n));
      break;
    case T::kByte:
      v.SetAsByte(static_cast<uint8_t>(n));
      break;
    case T::kWord:
      v.SetAsWord(static_cast<uint16_t>(n));
      break;
    case T::kCardinal:
      v.SetAsCardinal(static_cast<uint32_t>(n));
      break;
    default:
      v.SetAsLargeint(n);
      break;
  }
  return v;
}

RzvVariant Flt(T type, double d) {
  RzvVariant v;
  if (type == T::kSingle) v.SetAsSingle(static_cast<float>(d));
  if (type == T::kFloat) v.SetAsFloat(d);
  if (type == T::kExtended) v.SetAsExtended(d);
  if (type == T::kCurrency) v.SetAsCurrency(d);
  return v;
}

RzvVariant Date(int32_t d) {
  RzvVariant v;
  v.SetAsDate(d);
  return v;
}

RzvVariant Time(int32_t ms) {
  RzvVariant v;
  v.SetAsTime(ms);
  return v;
}

RzvVariant DT(int32_t d, int32_t ms) {
  RzvVariant v;
  v.SetAsDateTime({d, ms});
  return v;
}

RzvVariant Bool(bool b) {
  RzvVariant v;
  v.SetAsBoolean(b);
  return v;
}

RzvVariant Bytes(std::string_view b, T type = T::kBytes) {
  RzvVariant v;
  v.SetAsBytes(b, type);
  return v;
}

RzvVariant Null(T type) {
  return RzvVariant(type);
}

constexpr int32_t kJan5 = 733412;  // 2009-01-05
constexpr int32_t kMs130509 = (13 * 3600 + 5 * 60 + 9) * 1000;

std::string Describe(const RzvVariant& v) {
  std::string s(StorageTypeName(v.Type()));
  if (v.IsNull()) return s + " NULL";
  s += " [";
  for (int32_t i = 0; i < v.DataSize(); ++i) {
    static const char* hex = "0123456789ABCDEF";
    s += hex[v.Data()[i] >> 4];
    s += hex[v.Data()[i] & 15];
  }
  return s + "]";
}

class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { RzvSystemFormats::ResetToUsDefaults(); }
  void TearDown() override { RzvSystemFormats::ResetToUsDefaults(); }
};

// ---- Conversion matrix ----------------------------------------------------------

struct CastCase {
  const char* what;
  RzvVariant source;
  T target;
  RzvVariant expected;
};

TEST_F(VariantTest, ConversionMatrix) {
  const CastCase cases[] = {
      // text -> text
      {"string to wide", Str("abc"), T::kWideString, Wide(u"abc")},
      {"wide to string, code page", Wide(u"\u20AC\u00E9"), T::kString, Str("\x80\xE9")},
      {"wide outside the code page", Wide(u"\u4E2D"), T::kChar, Str("?", T::kChar)},
      {"memo to char", Str("note", T::kMemo), T::kChar, Str("note", T::kChar)},
      {"char to wide memo", Str("x", T::kChar), T::kWideMemo, Wide(u"x", T::kWideMemo)},
      // text -> integers: 64-bit parsing, then the low bits
      {"text to integer", Str("12"), T::kInteger, Int(T::kInteger, 12)},
      {"text to shortint", Str(" -7"), T::kShortint, Int(T::kShortint, -7)},
      {"2^32 to integer is cut", Str("4294967296"), T::kInteger, Int(T::kInteger, 0)},
      {"300 to byte is cut", Str("300"), T::kByte, Int(T::kByte, 44)},
      {"hex to word", Wide(u"$FF"), T::kWord, Int(T::kWord, 255)},
      {"-1 to cardinal", Str("-1"), T::kCardinal, Int(T::kCardinal, 4294967295)},
      {"text to largeint", Str("9223372036854775807"), T::kLargeint, Int(T::kLargeint, INT64_MAX)},
      // text -> floats and currency
      {"text to float", Str("12.5"), T::kFloat, Flt(T::kFloat, 12.5)},
      {"text to single", Str("0.1"), T::kSingle, Flt(T::kSingle, 0.1)},
      {"text to extended", Str("-2.5e3"), T::kExtended, Flt(T::kExtended, -2500)},
      {"text to currency", Str("12.5"), T::kCurrency, Flt(T::kCurrency, 12.5)},
      // text -> date kinds: digit patterns, then the system formats
      {"iso date", Str("2009-01-05"), T::kDate, Date(kJan5)},
      {"iso date-time to date", Str("2009-01-05 13:05:09"), T::kDate, Date(kJan5)},
      {"any single separators", Str("2009/01/05"), T::kDate, Date(kJan5)},
      {"short date format", Str("1/5/2009"), T::kDate, Date(kJan5)},
      {"wide iso date", Wide(u"2009-01-05"), T::kDate, Date(kJan5)},
      {"digits time", Str("13:05:09"), T::kTime, Time(kMs130509)},
      {"long time format", Str("1:05:09 PM"), T::kTime, Time(kMs130509)},
      {"iso date-time", Str("2009-01-05T13:05:09"), T::kDateTime, DT(kJan5, kMs130509)},
      {"iso date to date-time", Str("2009-01-05"), T::kDateTime, DT(kJan5, 0)},
      {"date-time format", Str("1/5/2009 1:05:09 PM"), T::kDateTime, DT(kJan5, kMs130509)},
      // text -> LOGICAL
      {"'true'", Str("true"), T::kLogical, Bool(true)},
      {"'1'", Str("1"), T::kLogical, Bool(true)},
      {"'TRUE' wide", Wide(u"TRUE"), T::kLogical, Bool(true)},
      {"'yes'", Str("yes"), T::kLogical, Bool(false)},
      {"'0'", Str("0"), T::kLogical, Bool(false)},
      // text <-> byte data (a plain copy)
      {"text to varbytes", Str("ab"), T::kVarBytes, Bytes("ab", T::kVarBytes)},
      {"blob to memo", Bytes("xy", T::kBlob), T::kMemo, Str("xy", T::kMemo)},
      {"bytes to blob", Bytes("\x01\x02"), T::kBlob, Bytes("\x01\x02", T::kBlob)},
      // integers
      {"integer to text", Int(T::kInteger, -5), T::kString, Str("-5")},
      {"cardinal to text", Int(T::kCardinal, 4000000000), T::kString, Str("4000000000")},
      {"largeint to wide", Int(T::kLargeint, INT64_MIN), T::kWideString,
       Wide(u"-9223372036854775808")},
      {"largeint 2^32 to integer", Int(T::kLargeint, int64_t{1} << 32), T::kInteger,
       Int(T::kInteger, 0)},
      {"smallint -1 to word", Int(T::kSmallint, -1), T::kWord, Int(T::kWord, 65535)},
      {"cardinal to integer", Int(T::kCardinal, 4000000000), T::kInteger,
       Int(T::kInteger, -294967296)},
      {"shortint to largeint", Int(T::kShortint, -5), T::kLargeint, Int(T::kLargeint, -5)},
      {"integer to float", Int(T::kInteger, 7), T::kFloat, Flt(T::kFloat, 7)},
      {"cardinal to extended", Int(T::kCardinal, 4000000000), T::kExtended,
       Flt(T::kExtended, 4000000000)},
      {"word to currency", Int(T::kWord, 10), T::kCurrency, Flt(T::kCurrency, 10)},
      {"integer to date", Int(T::kInteger, kJan5), T::kDate, Date(kJan5)},
      {"integer to time", Int(T::kInteger, 1000), T::kTime, Time(1000)},
      {"integer to date-time", Int(T::kInteger, kJan5), T::kDateTime, DT(kJan5, 0)},
      {"0 to logical", Int(T::kByte, 0), T::kLogical, Bool(false)},
      {"-3 to logical", Int(T::kInteger, -3), T::kLogical, Bool(true)},
      // floats and currency
      {"float to text", Flt(T::kFloat, 12.5), T::kString, Str("12.5")},
      {"single to text", Flt(T::kSingle, 0.1), T::kString, Str("0.1")},
      {"extended to text", Flt(T::kExtended, 2.5), T::kString, Str("2.5")},
      {"currency to text", Flt(T::kCurrency, 10), T::kString, Str("10")},
      {"currency rounds to 4 places", Flt(T::kCurrency, 1.23456), T::kString, Str("1.2346")},
      {"12.9 to integer", Flt(T::kFloat, 12.9), T::kInteger, Int(T::kInteger, 12)},
      {"-12.9 to integer", Flt(T::kFloat, -12.9), T::kInteger, Int(T::kInteger, -12)},
      {"currency to byte", Flt(T::kCurrency, 3.99), T::kByte, Int(T::kByte, 3)},
      {"300.7 to byte is cut", Flt(T::kExtended, 300.7), T::kByte, Int(T::kByte, 44)},
      {"float to single rounds", Flt(T::kFloat, 0.1), T::kSingle, Flt(T::kSingle, 0.1)},
      {"single to float", Flt(T::kSingle, 0.5), T::kFloat, Flt(T::kFloat, 0.5)},
      {"float to extended", Flt(T::kFloat, 0.1), T::kExtended, Flt(T::kExtended, 0.1)},
      {"currency to float", Flt(T::kCurrency, 2.25), T::kFloat, Flt(T::kFloat, 2.25)},
      {"float to currency", Flt(T::kFloat, 2.25), T::kCurrency, Flt(T::kCurrency, 2.25)},
      {"float to date", Flt(T::kFloat, kJan5 + 0.9), T::kDate, Date(kJan5)},
      {"float to time, modulo a day", Flt(T::kFloat, 86400001.5), T::kTime, Time(1)},
      {"negative float to time", Flt(T::kFloat, -1000.5), T::kTime, Time(86399000)},
      {"float to date-time", Flt(T::kFloat, kJan5 + 0.75), T::kDateTime,
       DT(kJan5, 18 * 3600 * 1000)},
      {"0.0 to logical", Flt(T::kFloat, 0), T::kLogical, Bool(false)},
      {"currency to logical", Flt(T::kCurrency, 0.5), T::kLogical, Bool(true)},
      // DATE
      {"date to text", Date(kJan5), T::kString, Str("1/5/2009")},
      {"empty date to text", Date(kRzvEmptyDate), T::kString, Null(T::kString)},
      {"date to integer", Date(kJan5), T::kInteger, Int(T::kInteger, kJan5)},
      {"date to float", Date(kJan5), T::kFloat, Flt(T::kFloat, kJan5)},
      {"date to currency", Date(kJan5), T::kCurrency, Flt(T::kCurrency, kJan5)},
      {"date to date-time", Date(kJan5), T::kDateTime, DT(kJan5, 0)},
      {"date to logical", Date(kJan5), T::kLogical, Bool(true)},
      {"empty date to logical", Date(kRzvEmptyDate), T::kLogical, Bool(false)},
      // TIME
      {"time to text", Time(kMs130509), T::kString, Str("1:05:09 PM")},
      {"midnight to text", Time(0), T::kWideString, Null(T::kWideString)},
      {"time to integer", Time(kMs130509), T::kInteger, Int(T::kInteger, kMs130509)},
      {"time to float", Time(1500), T::kFloat, Flt(T::kFloat, 1500)},
      {"time to date-time", Time(kMs130509), T::kDateTime, DT(kRzvEmptyDate, kMs130509)},
      {"midnight to logical", Time(0), T::kLogical, Bool(false)},
      // DATETIME
      {"date-time to text", DT(kJan5, kMs130509), T::kString, Str("1/5/2009 1:05:09 PM")},
      {"empty date-time to text", DT(kRzvEmptyDate, 0), T::kString, Null(T::kString)},
      {"date-time to integer", DT(kJan5, kMs130509), T::kInteger, Int(T::kInteger, kJan5)},
      {"date-time to float", DT(kJan5, 18 * 3600 * 1000), T::kFloat, Flt(T::kFloat, kJan5 + 0.75)},
      {"time-only date-time to float", DT(kRzvEmptyDate, 6 * 3600 * 1000), T::kFloat,
       Flt(T::kFloat, 0.25)},
      {"date-time to date", DT(kJan5, kMs130509), T::kDate, Date(kJan5)},
      {"date-time to time", DT(kJan5, kMs130509), T::kTime, Time(kMs130509)},
      {"empty date-time to logical", DT(kRzvEmptyDate, 0), T::kLogical, Bool(false)},
      {"time-only date-time to logical", DT(kRzvEmptyDate, 1), T::kLogical, Bool(true)},
      // LOGICAL
      {"true to text", Bool(true), T::kString, Str("True")},
      {"false to wide text", Bool(false), T::kWideString, Wide(u"False")},
      {"true to integer", Bool(true), T::kInteger, Int(T::kInteger, 1)},
      {"false to byte", Bool(false), T::kByte, Int(T::kByte, 0)},
      {"true to float", Bool(true), T::kFloat, Flt(T::kFloat, 1)},
  };
  for (const CastCase& c : cases) {
    RzvVariant v = c.source;
    try {
      v.CastTo(c.target);
    } catch (const RzvException& e) {
      ADD_FAILURE() << c.what << ": " << e.what();
      continue;
    }
    EXPECT_EQ(v, c.expected) << c.what << ": got " << Describe(v) << ", expected "
                             << Describe(c.expected);
  }
}

TEST_F(VariantTest, DateTimeSurvivesFloatRoundTripToTheMillisecond) {
  for (int32_t ms : {1, 999, 43'200'001, 86'399'999}) {
    RzvVariant v = DT(kJan5, ms);
    v.CastTo(T::kFloat);
    v.CastTo(T::kDateTime);
    EXPECT_EQ(v, DT(kJan5, ms)) << ms;
  }
}

TEST_F(VariantTest, PairsWithoutConversionFail) {
  const std::pair<RzvVariant, T> cases[] = {
      {Bool(true), T::kCurrency},
      {Bool(true), T::kDate},
      {Bool(false), T::kTime},
      {Flt(T::kCurrency, 1), T::kDate},
      {Flt(T::kCurrency, 1), T::kDateTime},
      {Time(5), T::kDate},
      {Date(kJan5), T::kTime},
      {Bytes("a", T::kBlob), T::kInteger},
      {Int(T::kInteger, 1), T::kBytes},
      {Date(kJan5), T::kBlob},
  };
  for (const auto& [source, target] : cases) {
    RzvVariant v = source;
    std::string message;
    EXPECT_EQ(CodeOf([&] { v.CastTo(target); }, &message), 30051) << Describe(source);
    EXPECT_EQ(message, "Cannot cast from '" + std::string(StorageTypeName(source.Type())) +
                           "' to '" + std::string(StorageTypeName(target)) + "'");
    EXPECT_EQ(v, source) << "a failed cast keeps the value";
  }
  std::string message;
  EXPECT_EQ(CodeOf([] { Bool(true).AsCurrency(); }, &message), 30052);
  EXPECT_EQ(message, "Cannot cast from 'LOGICAL' to 'CURRENCY'");
}

TEST_F(VariantTest, UnknownTypeCodes) {
  for (int code : {0, 25, 255}) {
    std::string message;
    RzvVariant v = Int(T::kInteger, 1);
    EXPECT_EQ(CodeOf([&] { v.CastTo(static_cast<T>(code)); }, &message), 30047) << code;
    EXPECT_EQ(message, "Unknown DataType: 'Unknown'");
    EXPECT_EQ(CodeOf([&] { RzvVariant w(static_cast<T>(code)); }), 30047);
  }
}

TEST_F(VariantTest, UnreadableTextKeepsThePreviousValue) {
  struct Case {
    const char* text;
    RzvVariant previous;  // a value of the target type
  };
  const Case cases[] = {
      {"abc", Int(T::kInteger, 77)}, {"99999999999999999999", Int(T::kLargeint, 77)},
      {"12,5", Flt(T::kFloat, 7.5)}, {"2009-13-45", Date(kJan5)},
      {"25:00:00", Time(1000)},      {"tomorrow", DT(kJan5, 1000)},
      {"1.5", Flt(T::kCurrency, 1)},  // currency reads the system separator, here ","
  };
  RzvFormatSettings comma;
  comma.decimal_separator = ',';
  RzvSystemFormats::Set(comma);
  for (const Case& c : cases) {
    RzvVariant v = Str(c.text);
    EXPECT_EQ(CodeOf([&] { v.CastTo(c.previous.Type()); }), kRzvConvertError) << c.text;
    EXPECT_EQ(v, Str(c.text));
    RzvVariant target = c.previous;
    EXPECT_EQ(CodeOf([&] { target.Assign(Str(c.text), true); }), kRzvConvertError) << c.text;
    EXPECT_EQ(target, c.previous) << c.text;
  }
  // Floats that no integer or date holds.
  for (double d : {std::nan(""), 1e30, -1e30, std::numeric_limits<double>::infinity()}) {
    RzvVariant v = Flt(T::kFloat, d);
    EXPECT_EQ(CodeOf([&] { v.CastTo(T::kLargeint); }), kRzvConvertError) << d;
    EXPECT_EQ(CodeOf([&] { v.CastTo(T::kDate); }), kRzvConvertError) << d;
  }
}

TEST_F(VariantTest, DecimalSeparatorOnlyAffectsWrittenText) {
  RzvFormatSettings comma;
  comma.decimal_separator = ',';
  RzvSystemFormats::Set(comma);
  EXPECT_DOUBLE_EQ(Str("12.5").AsFloat(), 12.5);
  EXPECT_EQ(Flt(T::kFloat, 12.5).AsString(), "12,5");
  EXPECT_EQ(Flt(T::kCurrency, 12.5).AsString(), "12,5");
  // Currency text is read by the system's decimal separator.
  EXPECT_DOUBLE_EQ(Str("12,5").AsCurrency(), 12.5);
}

TEST_F(VariantTest, NullConvertsToNullOfEveryType) {
  for (int from = 1; from <= 24; ++from) {
    for (int to = 1; to <= 24; ++to) {
      RzvVariant v(static_cast<T>(from));
      v.CastTo(static_cast<T>(to));
      EXPECT_TRUE(v.IsNull());
      EXPECT_EQ(v.Type(), static_cast<T>(to));
    }
  }
}

// ---- Values, reads and writes ---------------------------------------------------------

TEST_F(VariantTest, NewValuesAreNullAndTypedReadsOfNullFail) {
  RzvVariant v(T::kInteger);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.Type(), T::kInteger);
  std::string message;
  EXPECT_EQ(CodeOf([&] { v.AsInteger(); }, &message), kRzvValueIsNull);
  EXPECT_EQ(message, "Value is Null");
  EXPECT_EQ(CodeOf([&] { v.AsString(); }), kRzvValueIsNull);
  v.SetAsInteger(5);
  EXPECT_FALSE(v.IsNull());
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.Type(), T::kInteger);
  v.SetNull(T::kDate);
  EXPECT_EQ(v.Type(), T::kDate);
}

TEST_F(VariantTest, EmptyTextIsNull) {
  EXPECT_TRUE(Str("").IsNull());
  EXPECT_TRUE(Wide(u"").IsNull());
  EXPECT_TRUE(Str(std::string_view("\0abc", 4)).IsNull());
  EXPECT_EQ(Str("").Type(), T::kString);
  // A value whose text is empty reads as empty text.
  EXPECT_EQ(Time(0).AsString(), "");
}

TEST_F(VariantTest, ReadsConvert) {
  EXPECT_EQ(Str("42").AsInteger(), 42);
  EXPECT_EQ(Int(T::kCardinal, 4000000000).AsLargeint(), 4000000000);
  EXPECT_EQ(Int(T::kLargeint, int64_t{1} << 32).AsInteger(), 0);
  EXPECT_EQ(Flt(T::kFloat, -12.9).AsSmallint(), -12);
  EXPECT_EQ(Int(T::kSmallint, -1).AsWord(), 65535);
  EXPECT_EQ(Int(T::kShortint, -1).AsByte(), 255);
  EXPECT_EQ(Int(T::kInteger, -1).AsCardinal(), 4294967295u);
  EXPECT_EQ(Int(T::kInteger, 300).AsShortint(), 44);
  EXPECT_FLOAT_EQ(Str("0.1").AsSingle(), 0.1f);
  EXPECT_DOUBLE_EQ(Int(T::kInteger, 3).AsExtended(), 3.0);
  EXPECT_EQ(Str("2009-01-05").AsDate(), kJan5);
  EXPECT_EQ(Str("13:05:09").AsTime(), kMs130509);
  EXPECT_EQ(Date(kJan5).AsDateTime(), (RzvDateTime{kJan5, 0}));
  EXPECT_TRUE(Str("TRUE").AsBoolean());
  EXPECT_EQ(Str("\xE9").AsWideString(), u"\u00E9");
  EXPECT_EQ(Bytes("\x01\x00\x02").AsBytes(), std::string("\x01", 1));  // builder stops at NUL
  EXPECT_EQ(Str("ab").AsBytes(), "ab");
}

TEST_F(VariantTest, EverySingleByteCharacterSurvivesWideText) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  RzvVariant v = Str(all);
  v.CastTo(T::kWideString);
  EXPECT_EQ(v.AsWideString()[0x80 - 1], u'\u20AC');
  EXPECT_EQ(v.AsWideString()[0x81 - 1], u'\u0081');  // unassigned: the C1 control
  v.CastTo(T::kString);
  EXPECT_EQ(v, Str(all));
}

TEST_F(VariantTest, ExtendedKeepsItsBits) {
  // 1 + 2^-63: more precision than a double has.
  const uint8_t bytes[10] = {1, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  RzvVariant v;
  v.SetAsExtendedBytes(bytes);
  EXPECT_EQ(v.DataSize(), 10);
  EXPECT_EQ(std::memcmp(v.Data(), bytes, 10), 0);
  EXPECT_DOUBLE_EQ(v.AsFloat(), 1.0);
  RzvVariant copy;
  copy.Assign(v);
  EXPECT_EQ(std::memcmp(copy.Data(), bytes, 10), 0);
}

TEST_F(VariantTest, AssignKeepsOrConverts) {
  RzvVariant v = Int(T::kInteger, 1);
  v.Assign(Str("42"));
  EXPECT_EQ(v, Str("42"));
  v = Int(T::kInteger, 1);
  v.Assign(Str("42"), true);
  EXPECT_EQ(v, Int(T::kInteger, 42));
  v.Assign(Null(T::kString), true);
  EXPECT_EQ(v, Null(T::kInteger));
  // An untyped value takes the other's type.
  RzvVariant untyped;
  untyped.Assign(Date(kJan5), true);
  EXPECT_EQ(untyped, Date(kJan5));
}

TEST_F(VariantTest, SetAsStringOfANonTextTypeConverts) {
  RzvVariant v;
  v.SetAsString("2009-01-05", T::kDate);
  EXPECT_EQ(v, Date(kJan5));
  v.SetAsWideString(u"7", T::kByte);
  EXPECT_EQ(v, Int(T::kByte, 7));
}

// ---- Record data and copy-out ------------------------------------------------------------

TEST_F(VariantTest, CopyToBuffer) {
  uint8_t buf[8];
  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_TRUE(Str("abc").CopyTo(buf, sizeof buf));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("abc\0\0\0\0\0", 8));

  std::string message;
  EXPECT_EQ(CodeOf([&] { Str("abcdefgh").CopyTo(buf, sizeof buf); }, &message), 20056);
  EXPECT_EQ(message, "Buffer size exceeded");
  EXPECT_EQ(CodeOf([&] { Wide(u"abcd").CopyTo(buf, sizeof buf); }), 20056);  // 10 bytes
  EXPECT_EQ(CodeOf([&] { Flt(T::kExtended, 1).CopyTo(buf, sizeof buf); }), 20056);
  EXPECT_TRUE(Wide(u"abc").CopyTo(buf, sizeof buf));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("a\0b\0c\0\0\0", 8));

  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_FALSE(Null(T::kInteger).CopyTo(buf, sizeof buf));
  EXPECT_EQ(buf[0], 0xAA);
}

TEST_F(VariantTest, SetDataFromRecordBytes) {
  const char field[6] = {'h', 'i', 0, 'x', 'x', 0};
  RzvVariant v;
  v.SetData(T::kString, field, sizeof field);
  EXPECT_EQ(v, Str("hi"));
  const uint8_t wide[6] = {'h', 0, 'i', 0, 0, 0};
  v.SetData(T::kWideChar, wide, sizeof wide);
  EXPECT_EQ(v, Wide(u"hi", T::kWideChar));
  const uint8_t date[4] = {0x64, 0x30, 0x0B, 0x00};  // 733284
  v.SetData(T::kDate, date, sizeof date);
  EXPECT_EQ(v, Date(0x000B3064));
  EXPECT_EQ(CodeOf([&] { v.SetData(T::kLargeint, date, sizeof date); }), 20056);
  EXPECT_EQ(v, Date(0x000B3064));
}

// ---- Arithmetic ---------------------------------------------------------------------------

enum class Op { kAdd, kMultiply, kDivide };

struct ArithmeticCase {
  const char* what;
  RzvVariant a;
  Op op;
  RzvVariant b;
  std::optional<RzvVariant> expected;  // empty: fails
  int32_t code = 0;                    // when it fails
  const char* message = "";
};

void Apply(RzvVariant& a, Op op, const RzvVariant& b) {
  if (op == Op::kAdd) a.Add(b);
  if (op == Op::kMultiply) a.Multiply(b);
  if (op == Op::kDivide) a.Divide(b);
}

TEST_F(VariantTest, Arithmetic) {
  const int32_t hour = 3600 * 1000;
  const ArithmeticCase cases[] = {
      {"7 / 2", Int(T::kInteger, 7), Op::kDivide, Int(T::kInteger, 2), Int(T::kInteger, 3)},
      {"-7 / 2 truncates", Int(T::kInteger, -7), Op::kDivide, Int(T::kInteger, 2),
       Int(T::kInteger, -3)},
      {"7.0 / 2", Flt(T::kFloat, 7), Op::kDivide, Int(T::kInteger, 2), Flt(T::kFloat, 3.5)},
      {"min / -1 wraps", Int(T::kLargeint, INT64_MIN), Op::kDivide, Int(T::kLargeint, -1),
       Int(T::kLargeint, INT64_MIN)},
      {"7 / 0", Int(T::kInteger, 7), Op::kDivide, Int(T::kInteger, 0), std::nullopt, 30128,
       "Division error: Division by zero"},
      {"7.5 / 0", Flt(T::kFloat, 7.5), Op::kDivide, Int(T::kInteger, 0), std::nullopt, 30128,
       "Division error: Floating point division by zero"},
      {"0.0 / 0", Flt(T::kCurrency, 0), Op::kDivide, Flt(T::kCurrency, 0), std::nullopt, 30128,
       "Division error: Invalid floating point operation"},
      {"x / null", Int(T::kInteger, 7), Op::kDivide, Null(T::kInteger), Null(T::kInteger)},
      {"text / 2", Str("8"), Op::kDivide, Int(T::kInteger, 2), std::nullopt, 30127,
       "Not numeric argument in numeric operator '/'"},
      {"integer + float", Int(T::kInteger, 7), Op::kAdd, Flt(T::kFloat, 0.5), Flt(T::kFloat, 7.5)},
      {"smallint + word meet in integer", Int(T::kSmallint, -1), Op::kAdd, Int(T::kWord, 65535),
       Int(T::kInteger, 65534)},
      {"shortint wraps in its width", Int(T::kShortint, 127), Op::kAdd, Int(T::kShortint, 1),
       Int(T::kShortint, -128)},
      {"integer + currency", Int(T::kInteger, 2), Op::kAdd, Flt(T::kCurrency, 0.25),
       Flt(T::kCurrency, 2.25)},
      {"texts concatenate", Str("ab"), Op::kAdd, Str("cd"), Str("abcd")},
      {"text + number", Str("ab"), Op::kAdd, Int(T::kInteger, 5), Str("ab5")},
      {"wide + text", Wide(u"\u20AC"), Op::kAdd, Str("1"), Wide(u"\u20AC1")},
      {"text + null text", Str("a"), Op::kAdd, Null(T::kString), Str("a")},
      {"number + null", Int(T::kInteger, 5), Op::kAdd, Null(T::kInteger), Null(T::kInteger)},
      {"text wins over date", Str("on "), Op::kAdd, Date(kJan5), Str("on 1/5/2009")},
      {"date + days", Date(kJan5), Op::kAdd, Int(T::kInteger, 3), Date(kJan5 + 3)},
      {"date + time", Date(kJan5), Op::kAdd, Time(2 * hour), DT(kJan5, 2 * hour)},
      {"date-time carries whole days", DT(kJan5, 23 * hour), Op::kAdd, Time(2 * hour),
       DT(kJan5 + 1, hour)},
      {"times wrap at midnight", Time(23 * hour), Op::kAdd, Time(2 * hour), Time(hour)},
      {"times wrap back past midnight", Time(hour), Op::kAdd, Int(T::kInteger, -2 * hour),
       Time(23 * hour)},
      {"booleans or", Bool(false), Op::kAdd, Bool(true), Bool(true)},
      {"boolean + number", Bool(true), Op::kAdd, Int(T::kInteger, 2), Int(T::kInteger, 3)},
      {"bytes + number", Bytes("a"), Op::kAdd, Int(T::kInteger, 1), std::nullopt, 30124,
       "Not numeric argument in numeric operator '+'"},
      {"boolean + currency", Bool(true), Op::kAdd, Flt(T::kCurrency, 1), std::nullopt, 30044,
       "Cannot compare Incompatible DataTypes: 'LOGICAL' and 'CURRENCY'"},
      {"integers multiply in their width", Int(T::kInteger, 65536), Op::kMultiply,
       Int(T::kInteger, 65536), Int(T::kInteger, 0)},
      {"float * integer", Flt(T::kFloat, 1.5), Op::kMultiply, Int(T::kInteger, 3),
       Flt(T::kFloat, 4.5)},
      {"currency * integer", Flt(T::kCurrency, 1.25), Op::kMultiply, Int(T::kInteger, 2),
       Flt(T::kCurrency, 2.5)},
      {"booleans and", Bool(true), Op::kMultiply, Bool(false), Bool(false)},
      {"date * 2", Date(kJan5), Op::kMultiply, Int(T::kInteger, 2), std::nullopt, 30126,
       "Not numeric argument in numeric operator '*'"},
      {"null stays null", Null(T::kInteger), Op::kAdd, Int(T::kInteger, 1), Null(T::kInteger)},
      {"null / 0 stays null", Null(T::kInteger), Op::kDivide, Int(T::kInteger, 0),
       Null(T::kInteger)},
  };
  for (const ArithmeticCase& c : cases) {
    RzvVariant v = c.a;
    std::string message;
    const int32_t code = CodeOf([&] { Apply(v, c.op, c.b); }, &message);
    if (c.expected) {
      EXPECT_EQ(code, 0) << c.what << ": " << message;
      EXPECT_EQ(v, *c.expected) << c.what << ": got " << Describe(v) << ", expected "
                                << Describe(*c.expected);
    } else {
      EXPECT_EQ(code, c.code) << c.what;
      EXPECT_EQ(message, c.message) << c.what;
      EXPECT_EQ(v, c.a) << c.what << ": a failed operation keeps the value";
    }
  }
}

TEST_F(VariantTest, Negate) {
  const std::pair<RzvVariant, RzvVariant> cases[] = {
      {Int(T::kInteger, 5), Int(T::kInteger, -5)},
      {Int(T::kByte, 5), Int(T::kSmallint, -5)},
      {Int(T::kCardinal, 4000000000), Int(T::kLargeint, -4000000000)},
      {Flt(T::kFloat, 2.5), Flt(T::kFloat, -2.5)},
      {Flt(T::kExtended, 2.5), Flt(T::kExtended, -2.5)},
      {Flt(T::kCurrency, -1), Flt(T::kCurrency, 1)},
      {Bool(true), Bool(false)},
      {Null(T::kString), Null(T::kString)},
  };
  for (const auto& [value, expected] : cases) {
    RzvVariant v = value;
    v.Negate();
    EXPECT_EQ(v, expected) << Describe(value);
  }
  for (const RzvVariant& bad : {Str("5"), Date(kJan5), Bytes("a")}) {
    RzvVariant v = bad;
    std::string message;
    EXPECT_EQ(CodeOf([&] { v.Negate(); }, &message), 30123);
    EXPECT_EQ(message, "Cannot invert value with not numeric type '" +
                           std::string(StorageTypeName(bad.Type())) + "'");
    EXPECT_EQ(v, bad);
  }
}

// ---- Common type and comparison ---------------------------------------------------------------

TEST_F(VariantTest, CommonType) {
  struct Case {
    T a, b;
    T comparison, arithmetic;
  };
  const T U = T::kUnknown;
  const Case cases[] = {
      {T::kChar, T::kString, T::kString, T::kString},
      {T::kString, T::kWideChar, T::kWideString, T::kWideString},
      {T::kMemo, T::kString, T::kString, T::kString},
      {T::kWideMemo, T::kInteger, T::kWideString, T::kWideString},
      {T::kString, T::kCurrency, T::kString, T::kString},
      {T::kString, T::kLogical, T::kString, T::kString},
      {T::kString, T::kDate, T::kDate, T::kString},
      {T::kWideString, T::kDateTime, T::kDateTime, T::kWideString},
      {T::kShortint, T::kLargeint, T::kLargeint, T::kLargeint},
      {T::kByte, T::kCardinal, T::kCardinal, T::kCardinal},
      {T::kShortint, T::kByte, T::kSmallint, T::kSmallint},
      {T::kSmallint, T::kWord, T::kInteger, T::kInteger},
      {T::kInteger, T::kCardinal, T::kLargeint, T::kLargeint},
      {T::kLargeint, T::kCardinal, T::kLargeint, T::kLargeint},
      {T::kShortint, T::kWord, T::kInteger, T::kInteger},
      {T::kLargeint, T::kSingle, T::kSingle, T::kSingle},
      {T::kSingle, T::kExtended, T::kExtended, T::kExtended},
      {T::kInteger, T::kCurrency, T::kCurrency, T::kCurrency},
      {T::kSingle, T::kCurrency, T::kSingle, T::kSingle},
      {T::kInteger, T::kDate, T::kDate, T::kDate},
      {T::kFloat, T::kTime, T::kTime, T::kTime},
      {T::kDate, T::kTime, T::kDateTime, T::kDateTime},
      {T::kDate, T::kDateTime, T::kDateTime, T::kDateTime},
      {T::kLogical, T::kWord, T::kWord, T::kWord},
      {T::kLogical, T::kLogical, T::kLogical, T::kLogical},
      {T::kLogical, T::kCurrency, U, U},
      {T::kCurrency, T::kDate, U, U},
      {T::kLogical, T::kTime, U, U},
      {T::kBlob, T::kBlob, U, U},
      {T::kBytes, T::kString, U, U},
      {T::kVarBytes, T::kInteger, U, U},
  };
  for (const Case& c : cases) {
    for (bool swap : {false, true}) {
      const T a = swap ? c.b : c.a, b = swap ? c.a : c.b;
      EXPECT_EQ(RzvCommonType(a, b, true), c.comparison)
          << StorageTypeName(a) << " " << StorageTypeName(b);
      EXPECT_EQ(RzvCommonType(a, b, false), c.arithmetic)
          << StorageTypeName(a) << " " << StorageTypeName(b);
    }
  }
}

TEST_F(VariantTest, Compare) {
  using O = RzvCompareOutcome;
  struct Case {
    const char* what;
    RzvVariant a, b;
    bool case_insensitive, partial;
    O expected;
  };
  const Case cases[] = {
      {"both null", Null(T::kInteger), Null(T::kString), false, false, O::kBothNull},
      {"left null", Null(T::kInteger), Int(T::kInteger, 0), false, false, O::kLeftNull},
      {"right null", Int(T::kInteger, 0), Null(T::kInteger), false, false, O::kRightNull},
      {"integer and float", Int(T::kInteger, 5), Flt(T::kFloat, 5), false, false, O::kEqual},
      {"cardinal is unsigned", Int(T::kCardinal, 4000000000), Int(T::kInteger, -1), false, false,
       O::kGreater},
      {"case ignored", Str("abc"), Str("ABC"), true, false, O::kEqual},
      {"case kept", Str("abc"), Str("abd"), false, false, O::kLess},
      {"locale order, not byte order", Str("b"), Str("A"), false, false, O::kGreater},
      {"accents are not case", Str("\xE9"), Str("E"), true, false, O::kGreater},
      {"partial Work ~ Wo", Str("Work"), Str("Wo"), false, true, O::kEqual},
      {"partial Wa < Wo", Str("Wade"), Str("Wo"), false, true, O::kLess},
      {"whole Work > Wo", Str("Work"), Str("Wo"), false, false, O::kGreater},
      {"number meets text as text", Int(T::kInteger, 10), Str("9"), false, false, O::kLess},
      {"wide and single-byte", Wide(u"\u20AC"), Str("\x80"), false, false, O::kEqual},
      {"text meets date as date", Str("2009-01-05"), Date(kJan5), false, false, O::kEqual},
      {"short date text", Date(kJan5), Str("1/6/2009"), false, false, O::kLess},
      {"date and date-time", Date(kJan5), DT(kJan5, 1), false, false, O::kLess},
      {"date-times: date first", DT(kJan5 + 1, 0), DT(kJan5, 5), false, false, O::kGreater},
      {"false before true", Bool(false), Bool(true), false, false, O::kLess},
      {"boolean and number", Bool(true), Int(T::kInteger, 1), false, false, O::kEqual},
      {"currency and integer", Flt(T::kCurrency, 2.5), Int(T::kInteger, 2), false, false,
       O::kGreater},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a.Compare(c.b, c.case_insensitive, c.partial), c.expected) << c.what;
  }
  std::string message;
  EXPECT_EQ(CodeOf([] { Bytes("a", T::kBlob).Compare(Str("a")); }, &message), 30044);
  EXPECT_EQ(message, "Cannot compare Incompatible DataTypes: 'BLOB' and 'STRING'");
  EXPECT_EQ(CodeOf([] { Flt(T::kCurrency, 1).Compare(Date(kJan5)); }), 30044);
  EXPECT_EQ(CodeOf([] { Str("x").Compare(Date(kJan5)); }), kRzvConvertError);
}

TEST_F(VariantTest, SortOrderPutsNullFirst) {
  std::vector<RzvVariant> values = {Int(T::kInteger, 3), Null(T::kInteger), Int(T::kInteger, -2),
                                    Null(T::kInteger), Int(T::kInteger, 0)};
  std::sort(values.begin(), values.end(),
            [](const RzvVariant& a, const RzvVariant& b) { return a.CompareOrder(b) < 0; });
  EXPECT_TRUE(values[0].IsNull());
  EXPECT_TRUE(values[1].IsNull());
  EXPECT_EQ(values[2].AsInteger(), -2);
  EXPECT_EQ(values[3].AsInteger(), 0);
  EXPECT_EQ(values[4].AsInteger(), 3);
}

// ---- Stream format ------------------------------------------------------------------------------

std::vector<uint8_t> Image(const RzvVariant& v) {
  std::vector<uint8_t> out;
  v.WriteToStream(out);
  return out;
}

TEST_F(VariantTest, StreamImagesAreExact) {
  struct Case {
    RzvVariant value;
    std::vector<uint8_t> image;
  };
  const Case cases[] = {
      {Int(T::kInteger, 5), {7, 0, 4, 0, 0, 0, 5, 0, 0, 0}},
      {Int(T::kShortint, -2), {5, 0, 1, 0, 0, 0, 0xFE}},
      {Str("ab"), {3, 0, 3, 0, 0, 0, 'a', 'b', 0}},
      {Str("a", T::kChar), {1, 0, 2, 0, 0, 0, 'a', 0}},
      {Wide(u"a\u20AC"), {4, 0, 6, 0, 0, 0, 'a', 0, 0xAC, 0x20, 0, 0}},
      {Bool(true), {21, 0, 2, 0, 0, 0, 1, 0}},
      {Flt(T::kFloat, 1.0), {13, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {Flt(T::kExtended, 1.0), {14, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {Date(1), {15, 0, 4, 0, 0, 0, 1, 0, 0, 0}},
      {DT(kRzvEmptyDate, 1000), {17, 0, 8, 0, 0, 0, 0, 0, 0, 0x80, 0xE8, 0x03, 0, 0}},
      {Bytes("\x01\x02", T::kVarBytes), {24, 0, 2, 0, 0, 0, 1, 2}},
      {Null(T::kDate), {15, 255}},
      {RzvVariant(), {0, 255}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Image(c.value), c.image) << Describe(c.value);
    RzvVariant back = Int(T::kWord, 9);
    size_t pos = 0;
    back.ReadFromStream(c.image, pos);
    EXPECT_EQ(pos, c.image.size());
    EXPECT_EQ(back, c.value) << Describe(c.value);
  }
}

TEST_F(VariantTest, EveryStorageTypeRoundTripsByteForByte) {
  const RzvVariant values[] = {
      Str("fixed", T::kChar),
      Wide(u"w\u00E9", T::kWideChar),
      Str("string"),
      Wide(u"wide"),
      Int(T::kShortint, -128),
      Int(T::kSmallint, -30000),
      Int(T::kInteger, INT32_MIN),
      Int(T::kLargeint, INT64_MAX),
      Int(T::kByte, 255),
      Int(T::kWord, 65535),
      Int(T::kCardinal, 4000000000),
      Flt(T::kSingle, 0.1),
      Flt(T::kFloat, -0.0),
      Flt(T::kExtended, 1e300),
      Date(kJan5),
      Time(kMs130509),
      DT(kJan5, kMs130509),
      Bytes("blob\x01", T::kBlob),
      Str("memo", T::kMemo),
      Wide(u"wide memo", T::kWideMemo),
      Bool(true),
      Flt(T::kCurrency, 12.3456),
      Bytes("\x01\x02\x03"),
      Bytes("\xFF", T::kVarBytes),
  };
  std::vector<uint8_t> stream;
  for (int code = 1; code <= 24; ++code) {
    ASSERT_EQ(values[code - 1].Type(), static_cast<T>(code));
    values[code - 1].WriteToStream(stream);
    RzvVariant(static_cast<T>(code)).WriteToStream(stream);
  }
  size_t pos = 0;
  std::vector<uint8_t> again;
  for (int code = 1; code <= 24; ++code) {
    RzvVariant v, n;
    v.ReadFromStream(stream, pos);
    n.ReadFromStream(stream, pos);
    EXPECT_EQ(v, values[code - 1]) << code;
    EXPECT_TRUE(n.IsNull());
    EXPECT_EQ(n.Type(), static_cast<T>(code));
    v.WriteToStream(again);
    n.WriteToStream(again);
  }
  EXPECT_EQ(pos, stream.size());
  EXPECT_EQ(again, stream);
}

TEST_F(VariantTest, DamagedStreamsAreRefused) {
  struct Case {
    std::vector<uint8_t> image;
    int32_t code;
  };
  const Case cases[] = {
      {{}, 10146},
      {{7}, 10146},
      {{7, 0, 4, 0}, 10146},
      {{7, 0, 4, 0, 0, 0, 5, 0, 0}, 10146},
      {{3, 0, 100, 0, 0, 0, 'a', 0}, 10146},
      {{18, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}, 10146},  // a 2 GB BLOB in 9 bytes
      {{25, 0, 4, 0, 0, 0, 5, 0, 0, 0}, 30047},
      {{30, 255}, 30047},
      {{7, 0, 3, 0, 0, 0, 5, 0, 0}, 30048},
      {{3, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 30048},
      {{4, 0, 3, 0, 0, 0, 'a', 0, 0}, 30048},
      {{0, 0, 0, 0, 0, 0}, 30047},
  };
  for (const Case& c : cases) {
    RzvVariant v = Str("kept");
    size_t pos = 0;
    std::string message;
    EXPECT_EQ(CodeOf([&] { v.ReadFromStream(c.image, pos); }, &message), c.code) << c.image.size();
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(v, Str("kept"));
  }
  std::string message;
  RzvVariant v;
  size_t pos = 0;
  const std::vector<uint8_t> short_image = {7, 0, 4, 0, 0, 0, 5, 0};
  CodeOf([&] { v.ReadFromStream(short_image, pos); }, &message);
  EXPECT_EQ(
      message,
      "Cannot read from stream. Position = 6, Stream size = 8, Block size = 4, Bytes Read = 2");
}

}  // namespace
}  // namespace rzv
