#include "engine/table/compare_field_values.h"

#include <cmath>
#include <string>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/collation.h"
#include "engine/table/extended_float.h"
#include "engine/table/integer_encoding.h"
#include "engine/table/variant.h"
#include "engine/table/windows1252.h"

namespace rzv {

namespace {

using S = RzvStorageType;

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Total order on doubles: NaN after every number, -0 equal to +0.
int CompareDoubles(double a, double b) {
  bool na = std::isnan(a);
  bool nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return Sign(a, b);
}

// EXTENDED values compared exactly, without narrowing to double: for equal
// signs the biased exponent and then the significand order the magnitudes.
int CompareExtended(const uint8_t* a, const uint8_t* b) {
  uint64_t ma = LoadLE<uint64_t>(a);
  uint64_t mb = LoadLE<uint64_t>(b);
  uint16_t ea = LoadLE<uint16_t>(a + 8);
  uint16_t eb = LoadLE<uint16_t>(b + 8);
  auto is_nan = [](uint16_t e, uint64_t m) { return (e & 0x7FFF) == 0x7FFF && (m << 1) != 0; };
  bool na = is_nan(ea, ma);
  bool nb = is_nan(eb, mb);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  bool za = (ea & 0x7FFF) == 0 && ma == 0;
  bool zb = (eb & 0x7FFF) == 0 && mb == 0;
  if (za && zb) return 0;
  bool sa = !za && (ea & 0x8000) != 0;
  bool sb = !zb && (eb & 0x8000) != 0;
  if (sa != sb) return sa ? -1 : 1;
  int magnitude = Sign(ea & 0x7FFF, eb & 0x7FFF);
  if (magnitude == 0) magnitude = Sign(ma, mb);
  return sa ? -magnitude : magnitude;
}

bool IsIntegerType(S t) {
  return t >= S::kShortint && t <= S::kCardinal;
}
bool IsFloatType(S t) {
  return t == S::kSingle || t == S::kFloat || t == S::kExtended;
}
bool IsAnsiText(S t) {
  return t == S::kChar || t == S::kString || t == S::kMemo;
}
bool IsWideText(S t) {
  return t == S::kWideChar || t == S::kWideString || t == S::kWideMemo;
}
bool IsText(S t) {
  return IsAnsiText(t) || IsWideText(t);
}

// Integers by their own signedness; a LOGICAL value as 0 or 1.
int64_t LoadInteger(S type, const uint8_t* v) {
  if (type == S::kLogical) return LoadLE<int16_t>(v) != 0 ? 1 : 0;
  return RzvLoadInteger(type, v);
}

double LoadDouble(S type, const uint8_t* v) {
  switch (type) {
    case S::kSingle:
      return LoadLE<float>(v);
    case S::kFloat:
    case S::kCurrency:
      return LoadLE<double>(v);
    case S::kExtended:
      return RzvExtendedToDouble(v);
    default:
      return static_cast<double>(LoadInteger(type, v));
  }
}

int CompareSameType(S type, const uint8_t* a, const uint8_t* b, bool ci, int32_t length) {
  switch (type) {
    case S::kChar:
    case S::kString:
    case S::kBytes:
    case S::kMemo:
      return RzvCollator::Default().CompareAnsi(a, b, length, ci);
    case S::kWideChar:
    case S::kWideString:
    case S::kWideMemo:
      return RzvCollator::Default().CompareWide(a, b, length, ci);
    case S::kShortint:
    case S::kSmallint:
    case S::kInteger:
    case S::kLargeint:
    case S::kByte:
    case S::kWord:
    case S::kCardinal:
    case S::kLogical:
      return Sign(LoadInteger(type, a), LoadInteger(type, b));
    case S::kSingle:
    case S::kFloat:
    case S::kCurrency:
      return CompareDoubles(LoadDouble(type, a), LoadDouble(type, b));
    case S::kExtended:
      return CompareExtended(a, b);
    case S::kDate:
    case S::kTime:
      return Sign(LoadLE<int32_t>(a), LoadLE<int32_t>(b));
    case S::kDateTime: {
      int c = Sign(LoadLE<int32_t>(a), LoadLE<int32_t>(b));
      return c != 0 ? c : Sign(LoadLE<int32_t>(a + 4), LoadLE<int32_t>(b + 4));
    }
    default:
      throw RzvException::Format(30047, "Unknown DataType: '%s'", StorageTypeName(type));
  }
}

std::u16string WideText(S type, const uint8_t* v, int32_t length) {
  std::u16string text;
  if (IsWideText(type)) {
    for (int32_t i = 0; (length < 0 || i < length) && (v[2 * i] | v[2 * i + 1]) != 0; ++i) {
      text.push_back(static_cast<char16_t>(LoadLE<uint16_t>(v + 2 * i)));
    }
  } else {
    for (int32_t i = 0; (length < 0 || i < length) && v[i] != 0; ++i) {
      text.push_back(Windows1252ToUtf16(v[i]));
    }
  }
  return text;
}

// Bytes of a value's record encoding: a text up to and including its
// terminator (within length characters), otherwise the data size.
size_t EncodedSize(S type, const uint8_t* v, int32_t length) {
  if (IsWideText(type)) return (WideText(type, v, length).size() + 1) * 2;
  if (IsAnsiText(type)) {
    size_t n = 0;
    while ((length < 0 || n < static_cast<size_t>(length)) && v[n] != 0) ++n;
    return n + 1;
  }
  return static_cast<size_t>(StorageDataSize(type, 0));
}

[[noreturn]] void Incompatible(S t1, S t2) {
  throw RzvException::Format(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                             StorageTypeName(t1), StorageTypeName(t2));
}

// Text meeting a number, Boolean or date kind, and a number or date kind
// meeting another date kind: both become typed values and are converted to
// their common type (the text read as a date or the other value written as
// text, a number taken as a day number or milliseconds) by the typed-value
// conversions, so that keys order as expressions compare. A float that no
// day number holds raises the conversion error.
int CompareInCommonType(S t1, const uint8_t* a, S t2, const uint8_t* b, bool ci, int32_t length) {
  S common = RzvCommonType(t1, t2, true);
  if (common == S::kUnknown) Incompatible(t1, t2);
  auto load = [&](S type, const uint8_t* v) {
    S as = type == S::kMemo ? S::kString : (type == S::kWideMemo ? S::kWideString : type);
    RzvVariant value(as);
    value.SetData(as, v, EncodedSize(type, v, IsText(type) ? length : -1));
    value.CastTo(common);
    return value;
  };
  RzvVariant x = load(t1, a);
  RzvVariant y = load(t2, b);
  // A value that converts to empty text (e.g. midnight) is a null text.
  if (x.IsNull() || y.IsNull()) return x.IsNull() == y.IsNull() ? 0 : (x.IsNull() ? -1 : 1);
  return CompareSameType(common, x.Data(), y.Data(), ci, -1);
}

int CompareMixed(S t1, const uint8_t* a, S t2, const uint8_t* b, bool ci, int32_t length) {
  bool num1 = IsIntegerType(t1) || IsFloatType(t1) || t1 == S::kCurrency;
  bool num2 = IsIntegerType(t2) || IsFloatType(t2) || t2 == S::kCurrency;
  bool date1 = IsDateTimeStorageType(t1);
  bool date2 = IsDateTimeStorageType(t2);

  if (IsText(t1) && IsText(t2)) {
    if (IsWideText(t1) || IsWideText(t2)) {
      return RzvCollator::Default().CompareUtf16(WideText(t1, a, length), WideText(t2, b, length),
                                                 ci);
    }
    return RzvCollator::Default().CompareAnsi(a, b, length, ci);
  }
  if (IsText(t1) || IsText(t2)) {
    return CompareInCommonType(t1, a, t2, b, ci, length);
  }
  if ((num1 || t1 == S::kLogical) && (num2 || t2 == S::kLogical)) {
    if ((t1 == S::kLogical && t2 == S::kCurrency) || (t2 == S::kLogical && t1 == S::kCurrency)) {
      Incompatible(t1, t2);
    }
    bool as_float = IsFloatType(t1) || IsFloatType(t2) || t1 == S::kCurrency || t2 == S::kCurrency;
    if (!as_float) return Sign(LoadInteger(t1, a), LoadInteger(t2, b));
    return CompareDoubles(LoadDouble(t1, a), LoadDouble(t2, b));
  }
  if ((date1 && (date2 || num2)) || (date2 && num1)) {
    return CompareInCommonType(t1, a, t2, b, ci, length);
  }
  Incompatible(t1, t2);
}

}  // namespace

int CompareFieldValues(const void* value1, const void* value2, RzvStorageType type1,
                       RzvStorageType type2, bool case_insensitive, int32_t length, bool null1,
                       bool null2) {
  if (null1 || null2) return null1 == null2 ? 0 : (null1 ? -1 : 1);
  if (value1 == nullptr || value2 == nullptr) throw RzvException(30016, "Value is Null");
  const auto* a = static_cast<const uint8_t*>(value1);
  const auto* b = static_cast<const uint8_t*>(value2);
  if (type1 == type2 && type1 != S::kMemo && type1 != S::kWideMemo) {
    return CompareSameType(type1, a, b, case_insensitive, length);
  }
  return CompareMixed(type1, a, type2, b, case_insensitive, length);
}

}  // namespace rzv
