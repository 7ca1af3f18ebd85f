#include "engine/table/variant.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/ansi_text.h"
#include "engine/table/collation.h"
#include "engine/table/extended_float.h"
#include "engine/table/integer_encoding.h"
#include "engine/table/number_text.h"
#include "engine/table/system_formats.h"

namespace rzv {

namespace {

using T = RzvStorageType;

enum class Kind {
  kNone,
  kText,
  kWideText,
  kInt,
  kFloat,
  kCurrency,
  kDate,
  kTime,
  kDateTime,
  kLogical,
  kBinary
};

Kind KindOf(T t) {
  switch (t) {
    case T::kChar:
    case T::kString:
    case T::kMemo:
      return Kind::kText;
    case T::kWideChar:
    case T::kWideString:
    case T::kWideMemo:
      return Kind::kWideText;
    case T::kShortint:
    case T::kSmallint:
    case T::kInteger:
    case T::kLargeint:
    case T::kByte:
    case T::kWord:
    case T::kCardinal:
      return Kind::kInt;
    case T::kSingle:
    case T::kFloat:
    case T::kExtended:
      return Kind::kFloat;
    case T::kCurrency:
      return Kind::kCurrency;
    case T::kDate:
      return Kind::kDate;
    case T::kTime:
      return Kind::kTime;
    case T::kDateTime:
      return Kind::kDateTime;
    case T::kLogical:
      return Kind::kLogical;
    case T::kBlob:
    case T::kBytes:
    case T::kVarBytes:
      return Kind::kBinary;
    case T::kUnknown:
      break;
  }
  return Kind::kNone;
}

bool IsTextKind(Kind k) {
  return k == Kind::kText || k == Kind::kWideText;
}
bool IsNumberKind(Kind k) {
  return k == Kind::kInt || k == Kind::kFloat;
}
bool IsDateKind(Kind k) {
  return k == Kind::kDate || k == Kind::kTime || k == Kind::kDateTime;
}

// Data size of the fixed-size types; 0 for texts and byte data.
size_t FixedSize(T t) {
  switch (t) {
    case T::kShortint:
    case T::kByte:
      return 1;
    case T::kSmallint:
    case T::kWord:
    case T::kLogical:
      return 2;
    case T::kInteger:
    case T::kCardinal:
    case T::kSingle:
    case T::kDate:
    case T::kTime:
      return 4;
    case T::kLargeint:
    case T::kFloat:
    case T::kCurrency:
    case T::kDateTime:
      return 8;
    case T::kExtended:
      return kRzvExtendedSize;
    default:
      return 0;
  }
}

[[noreturn]] void ThrowUnknownType(T t) {
  throw RzvException::Format(30047, "Unknown DataType: '%s'", StorageTypeName(t));
}

void CheckType(T t) {
  if (KindOf(t) == Kind::kNone) ThrowUnknownType(t);
}

[[noreturn]] void ThrowCannotCast(int32_t code, T from, T to) {
  throw RzvException::Format(code, "Cannot cast from '%s' to '%s'", StorageTypeName(from),
                             StorageTypeName(to));
}

[[noreturn]] void ThrowValueIsNull() {
  throw RzvException(kRzvValueIsNull, "Value is Null");
}

[[noreturn]] void ThrowInvalidOp() {
  throw RzvException(kRzvConvertError, "Invalid floating point operation");
}

// ---- Record encodings -----------------------------------------------------------

template <typename V>
std::string Encode(V v) {
  std::string s(sizeof(V), '\0');
  StoreLE<V>(s.data(), v);
  return s;
}

struct IntType {
  size_t width;
  bool is_signed;
};

IntType IntTypeOf(T t) {
  switch (t) {
    case T::kShortint:
      return {1, true};
    case T::kSmallint:
      return {2, true};
    case T::kInteger:
      return {4, true};
    case T::kByte:
      return {1, false};
    case T::kWord:
      return {2, false};
    case T::kCardinal:
      return {4, false};
    default:
      return {8, true};
  }
}

T IntTypeFor(size_t width, bool is_signed) {
  switch (width) {
    case 1:
      return is_signed ? T::kShortint : T::kByte;
    case 2:
      return is_signed ? T::kSmallint : T::kWord;
    case 4:
      return is_signed ? T::kInteger : T::kCardinal;
    default:
      return T::kLargeint;
  }
}

// The low bits of v in the width of t.
std::string EncodeInt(T t, int64_t v) {
  switch (t) {
    case T::kShortint:
    case T::kByte:
      return std::string(1, static_cast<char>(static_cast<uint8_t>(v)));
    case T::kSmallint:
    case T::kWord:
      return Encode(static_cast<uint16_t>(v));
    case T::kInteger:
    case T::kCardinal:
      return Encode(static_cast<uint32_t>(v));
    default:
      return Encode(v);
  }
}

double FloatOf(T t, const uint8_t* d) {
  switch (t) {
    case T::kSingle:
      return LoadLE<float>(d);
    case T::kExtended:
      return RzvExtendedToDouble(d);
    default:
      return LoadLE<double>(d);
  }
}

// Narrowing beyond the float range gives an infinity rather than relying on
// an out-of-range conversion.
float ToSingle(double v) {
  if (std::isfinite(v) && std::fabs(v) >= 0x1p128) return v < 0 ? -HUGE_VALF : HUGE_VALF;
  return static_cast<float>(v);
}

std::string EncodeFloat(T t, double v) {
  switch (t) {
    case T::kSingle:
      return Encode(ToSingle(v));
    case T::kExtended: {
      std::string s(kRzvExtendedSize, '\0');
      RzvDoubleToExtended(v, reinterpret_cast<uint8_t*>(s.data()));
      return s;
    }
    default:
      return Encode(v);
  }
}

std::string EncodeDateTime(RzvDateTime v) {
  std::string s(8, '\0');
  StoreLE<int32_t>(s.data(), v.date);
  StoreLE<int32_t>(s.data() + 4, v.time);
  return s;
}

RzvDateTime DateTimeOf(const uint8_t* d) {
  return {LoadLE<int32_t>(d), LoadLE<int32_t>(d + 4)};
}

std::string EncodeWide(std::u16string_view text) {
  std::string s((text.size() + 1) * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) StoreLE<uint16_t>(s.data() + 2 * i, text[i]);
  return s;
}

std::u16string WideOf(const uint8_t* d, size_t size) {
  std::u16string out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = LoadLE<uint16_t>(d + i);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

std::string_view AnsiOf(const uint8_t* d, size_t size) {
  std::string_view s(reinterpret_cast<const char*>(d), size);
  return s.substr(0, s.find('\0'));
}

// ---- Conversions ------------------------------------------------------------------

// Digit groups of exactly the given widths, separated by single non-digit
// characters, and nothing more.
template <size_t N>
bool MatchDigits(std::string_view s, const int (&widths)[N], unsigned (&out)[N]) {
  size_t pos = 0;
  for (size_t g = 0; g < N; ++g) {
    if (g > 0) {
      if (pos >= s.size() || (s[pos] >= '0' && s[pos] <= '9')) return false;
      ++pos;
    }
    out[g] = 0;
    for (int i = 0; i < widths[g]; ++i, ++pos) {
      if (pos >= s.size() || s[pos] < '0' || s[pos] > '9') return false;
      out[g] = out[g] * 10 + static_cast<unsigned>(s[pos] - '0');
    }
  }
  return pos == s.size();
}

// "yyyy-mm-dd hh:nn:ss" with any single separators, then "yyyy-mm-dd".
bool DigitPatternDateTime(std::string_view s, RzvDateTime& v, bool& has_time) {
  unsigned p[6];
  if (MatchDigits(s, {4, 2, 2, 2, 2, 2}, p)) {
    if (RzvTryEncodeDate(static_cast<int>(p[0]), p[1], p[2], v.date) &&
        RzvTryEncodeTime(p[3], p[4], p[5], 0, v.time)) {
      has_time = true;
      return true;
    }
    return false;
  }
  unsigned q[3];
  if (MatchDigits(s, {4, 2, 2}, q) &&
      RzvTryEncodeDate(static_cast<int>(q[0]), q[1], q[2], v.date)) {
    v.time = 0;
    has_time = false;
    return true;
  }
  return false;
}

int32_t TextToDate(std::string_view s) {
  RzvDateTime v;
  bool has_time = false;
  if (DigitPatternDateTime(s, v, has_time)) return v.date;
  return RzvTextToDate(s, *RzvSystemFormats::Current());
}

int32_t TextToTime(std::string_view s) {
  unsigned p[3];
  int32_t time = 0;
  if (MatchDigits(s, {2, 2, 2}, p) && RzvTryEncodeTime(p[0], p[1], p[2], 0, time)) return time;
  return RzvTextToTime(s, *RzvSystemFormats::Current());
}

RzvDateTime TextToDateTime(std::string_view s) {
  RzvDateTime v;
  bool has_time = false;
  if (DigitPatternDateTime(s, v, has_time)) return v;
  return RzvTextToDateTime(s, *RzvSystemFormats::Current());
}

bool TextToBoolean(std::string_view s) {
  if (s == "1") return true;
  if (s.size() != 4) return false;
  const char* kTrue = "TRUE";
  for (size_t i = 0; i < 4; ++i) {
    if ((s[i] & ~0x20) != kTrue[i]) return false;
  }
  return true;
}

int64_t TruncToInt64(double v) {
  const double t = std::trunc(v);
  if (!(t >= -0x1p63 && t < 0x1p63)) ThrowInvalidOp();
  return static_cast<int64_t>(t);
}

int32_t TruncToInt32(double v) {
  const double t = std::trunc(v);
  if (!(t >= -0x1p31 && t < 0x1p31)) ThrowInvalidOp();
  return static_cast<int32_t>(t);
}

// A value's source as the conversions see it.
struct Source {
  T type;
  Kind kind;
  const uint8_t* data;
  size_t size;

  std::string Ansi() const {
    if (kind == Kind::kWideText) return RzvWideToAnsi(WideOf(data, size));
    if (kind == Kind::kBinary) return std::string(reinterpret_cast<const char*>(data), size);
    return std::string(AnsiOf(data, size));
  }
};

std::string ToText(const Source& s) {
  switch (s.kind) {
    case Kind::kText:
    case Kind::kWideText:
    case Kind::kBinary:
      return s.Ansi();
    case Kind::kInt:
      return std::to_string(RzvLoadInteger(s.type, s.data));
    case Kind::kFloat:
      if (s.type == T::kSingle) {
        return RzvSingleToText(LoadLE<float>(s.data), *RzvSystemFormats::Current());
      }
      return RzvFloatToText(FloatOf(s.type, s.data), *RzvSystemFormats::Current());
    case Kind::kCurrency:
      return RzvCurrencyToText(FloatOf(s.type, s.data), *RzvSystemFormats::Current());
    case Kind::kDate:
      return RzvDateToText(LoadLE<int32_t>(s.data), *RzvSystemFormats::Current());
    case Kind::kTime:
      return RzvTimeToText(LoadLE<int32_t>(s.data), *RzvSystemFormats::Current());
    case Kind::kDateTime:
      return RzvDateTimeToText(DateTimeOf(s.data), *RzvSystemFormats::Current());
    case Kind::kLogical:
      return LoadLE<uint16_t>(s.data) != 0 ? "True" : "False";
    case Kind::kNone:
      break;
  }
  return "";
}

// The converted record encoding of s in target, or false for a pair without
// a conversion. Text results may be empty (the caller makes them null).
bool ConvertData(const Source& s, T target, std::string& out) {
  const Kind tk = KindOf(target);
  switch (tk) {
    case Kind::kText:
      out = ToText(s);
      out.push_back('\0');
      return true;
    case Kind::kWideText:
      out =
          EncodeWide(s.kind == Kind::kWideText ? WideOf(s.data, s.size) : RzvAnsiToWide(ToText(s)));
      return true;
    case Kind::kBinary:
      if (!IsTextKind(s.kind) && s.kind != Kind::kBinary) return false;
      out = s.Ansi();
      return true;
    case Kind::kInt: {
      int64_t v = 0;
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = RzvTextToInt64(s.Ansi());
          break;
        case Kind::kInt:
          v = RzvLoadInteger(s.type, s.data);
          break;
        case Kind::kFloat:
        case Kind::kCurrency:
          v = TruncToInt64(FloatOf(s.type, s.data));
          break;
        case Kind::kDate:
        case Kind::kTime:
          v = LoadLE<int32_t>(s.data);
          break;
        case Kind::kDateTime:
          v = DateTimeOf(s.data).date;
          break;
        case Kind::kLogical:
          v = LoadLE<uint16_t>(s.data) != 0 ? 1 : 0;
          break;
        default:
          return false;
      }
      out = EncodeInt(target, v);
      return true;
    }
    case Kind::kFloat:
    case Kind::kCurrency: {
      double v = 0;
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = tk == Kind::kCurrency ? RzvTextToCurrency(s.Ansi(), *RzvSystemFormats::Current())
                                    : RzvTextToFloat(s.Ansi());
          break;
        case Kind::kInt:
          v = static_cast<double>(RzvLoadInteger(s.type, s.data));
          break;
        case Kind::kFloat:
        case Kind::kCurrency:
          if (s.type == target) {
            out.assign(reinterpret_cast<const char*>(s.data), s.size);
            return true;
          }
          v = FloatOf(s.type, s.data);
          break;
        case Kind::kDate:
        case Kind::kTime:
          v = LoadLE<int32_t>(s.data);
          break;
        case Kind::kDateTime: {
          const RzvDateTime dt = DateTimeOf(s.data);
          v = (dt.date == kRzvEmptyDate ? 0.0 : dt.date) +
              static_cast<double>(dt.time) / kRzvMsPerDay;
          break;
        }
        case Kind::kLogical:
          if (tk == Kind::kCurrency) return false;
          v = LoadLE<uint16_t>(s.data) != 0 ? 1 : 0;
          break;
        default:
          return false;
      }
      out = EncodeFloat(target, v);
      return true;
    }
    case Kind::kDate: {
      int32_t v = 0;
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = TextToDate(s.Ansi());
          break;
        case Kind::kInt:
          v = static_cast<int32_t>(RzvLoadInteger(s.type, s.data));
          break;
        case Kind::kFloat:
          v = TruncToInt32(FloatOf(s.type, s.data));
          break;
        case Kind::kDate:
          v = LoadLE<int32_t>(s.data);
          break;
        case Kind::kDateTime:
          v = DateTimeOf(s.data).date;
          break;
        default:
          return false;
      }
      out = Encode(v);
      return true;
    }
    case Kind::kTime: {
      int32_t v = 0;
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = TextToTime(s.Ansi());
          break;
        case Kind::kInt:
          v = static_cast<int32_t>(RzvLoadInteger(s.type, s.data));
          break;
        case Kind::kFloat: {
          const double f = FloatOf(s.type, s.data);
          if (!std::isfinite(f)) ThrowInvalidOp();
          // Taken modulo a day into 0 .. 86399999, also for negative values.
          double ms = std::fmod(std::trunc(f), kRzvMsPerDay);
          if (ms < 0) ms += kRzvMsPerDay;
          v = static_cast<int32_t>(ms);
          break;
        }
        case Kind::kTime:
          v = LoadLE<int32_t>(s.data);
          break;
        case Kind::kDateTime:
          v = DateTimeOf(s.data).time;
          break;
        default:
          return false;
      }
      out = Encode(v);
      return true;
    }
    case Kind::kDateTime: {
      RzvDateTime v{kRzvEmptyDate, 0};
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = TextToDateTime(s.Ansi());
          break;
        case Kind::kInt:
          v.date = static_cast<int32_t>(RzvLoadInteger(s.type, s.data));
          break;
        case Kind::kFloat: {
          // The fraction is rounded, not truncated, to the nearest
          // millisecond: day + ms / 86400000 rarely holds ms exactly, and
          // truncating would lose a millisecond on the way back.
          const double f = FloatOf(s.type, s.data);
          v.date = TruncToInt32(f);
          int64_t ms = std::llround(std::fabs(f - std::trunc(f)) * kRzvMsPerDay);
          if (ms >= kRzvMsPerDay) {
            ms -= kRzvMsPerDay;
            if (v.date == INT32_MAX) ThrowInvalidOp();
            ++v.date;
          }
          v.time = static_cast<int32_t>(ms);
          break;
        }
        case Kind::kDate:
          v.date = LoadLE<int32_t>(s.data);
          break;
        case Kind::kTime:
          v.time = LoadLE<int32_t>(s.data);
          break;
        case Kind::kDateTime:
          v = DateTimeOf(s.data);
          break;
        default:
          return false;
      }
      out = EncodeDateTime(v);
      return true;
    }
    case Kind::kLogical: {
      bool v = false;
      switch (s.kind) {
        case Kind::kText:
        case Kind::kWideText:
          v = TextToBoolean(s.Ansi());
          break;
        case Kind::kInt:
          v = RzvLoadInteger(s.type, s.data) != 0;
          break;
        case Kind::kFloat:
        case Kind::kCurrency:
          v = FloatOf(s.type, s.data) != 0;
          break;
        case Kind::kDate:
          v = LoadLE<int32_t>(s.data) != kRzvEmptyDate;
          break;
        case Kind::kTime:
          v = LoadLE<int32_t>(s.data) != 0;
          break;
        case Kind::kDateTime: {
          const RzvDateTime dt = DateTimeOf(s.data);
          v = !(dt.date == kRzvEmptyDate && dt.time == 0);
          break;
        }
        case Kind::kLogical:
          v = LoadLE<uint16_t>(s.data) != 0;
          break;
        default:
          return false;
      }
      out = Encode(static_cast<uint16_t>(v ? 1 : 0));
      return true;
    }
    case Kind::kNone:
      break;
  }
  return false;
}

// ---- Arithmetic helpers ----------------------------------------------------------------

[[noreturn]] void ThrowNotNumeric(int32_t code, const char* op) {
  throw RzvException::Format(code, "Not numeric argument in numeric operator '%s'", op);
}

[[noreturn]] void ThrowIncompatible(T a, T b) {
  throw RzvException::Format(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                             StorageTypeName(a), StorageTypeName(b));
}

T ArithmeticType(T a, T b, const char* op, int32_t not_numeric_code) {
  if (KindOf(a) == Kind::kBinary || KindOf(b) == Kind::kBinary) {
    ThrowNotNumeric(not_numeric_code, op);
  }
  const T c = RzvCommonType(a, b, false);
  if (c == T::kUnknown) ThrowIncompatible(a, b);
  return c;
}

[[noreturn]] void ThrowDivisionError(const char* system_message) {
  throw RzvException::Format(30128, "Division error: %s", system_message);
}

int64_t WrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

int64_t WrapMul(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

int64_t WrapNeg(int64_t a) {
  return static_cast<int64_t>(0 - static_cast<uint64_t>(a));
}

// Day numbers add with the empty-date marker counting as no days; two empty
// dates stay empty.
int32_t AddDays(int32_t a, int32_t b, int64_t carry) {
  if (a == kRzvEmptyDate && b == kRzvEmptyDate && carry == 0) return kRzvEmptyDate;
  const int64_t sum = int64_t{a == kRzvEmptyDate ? 0 : a} + (b == kRzvEmptyDate ? 0 : b) + carry;
  return static_cast<int32_t>(sum);
}

}  // namespace

// ---- Common type -----------------------------------------------------------------------

RzvStorageType RzvCommonType(RzvStorageType a, RzvStorageType b, bool for_comparison) {
  if (a == T::kMemo) a = T::kString;
  if (b == T::kMemo) b = T::kString;
  if (a == T::kWideMemo) a = T::kWideString;
  if (b == T::kWideMemo) b = T::kWideString;
  const Kind ka = KindOf(a), kb = KindOf(b);
  if (ka == Kind::kNone || kb == Kind::kNone || ka == Kind::kBinary || kb == Kind::kBinary) {
    return T::kUnknown;
  }
  if (a == b) return a;
  if (IsTextKind(ka) || IsTextKind(kb)) {
    const bool wide = ka == Kind::kWideText || kb == Kind::kWideText;
    const T text = wide ? T::kWideString : T::kString;
    if (IsTextKind(ka) && IsTextKind(kb)) return text;
    const T other = IsTextKind(ka) ? b : a;
    if (IsDateKind(KindOf(other)) && for_comparison) return other;
    return text;
  }
  if (ka == Kind::kInt && kb == Kind::kInt) {
    const IntType ia = IntTypeOf(a), ib = IntTypeOf(b);
    if (ia.is_signed == ib.is_signed) return IntTypeFor(std::max(ia.width, ib.width), ia.is_signed);
    const IntType s = ia.is_signed ? ia : ib, u = ia.is_signed ? ib : ia;
    return IntTypeFor(std::min<size_t>(8, std::max(s.width, u.width * 2)), true);
  }
  if (IsNumberKind(ka) && IsNumberKind(kb)) {
    // Any float wins over integers; EXTENDED over FLOAT over SINGLE.
    auto rank = [](T t) {
      return t == T::kExtended ? 3 : t == T::kFloat ? 2 : t == T::kSingle ? 1 : 0;
    };
    return rank(a) >= rank(b) ? a : b;
  }
  if (ka == Kind::kCurrency || kb == Kind::kCurrency) {
    const T other = ka == Kind::kCurrency ? b : a;
    const Kind ko = KindOf(other);
    if (ko == Kind::kInt) return T::kCurrency;
    if (ko == Kind::kFloat) return other;
    return T::kUnknown;  // Boolean or a date kind
  }
  if (IsDateKind(ka) && IsDateKind(kb)) return T::kDateTime;
  if (IsDateKind(ka) || IsDateKind(kb)) {
    const Kind other = IsDateKind(ka) ? kb : ka;
    return IsNumberKind(other) ? (IsDateKind(ka) ? a : b) : T::kUnknown;
  }
  if (ka == Kind::kLogical || kb == Kind::kLogical) {
    const T other = ka == Kind::kLogical ? b : a;
    return IsNumberKind(KindOf(other)) ? other : T::kUnknown;
  }
  return T::kUnknown;
}

// ---- RzvVariant --------------------------------------------------------------------------

namespace {

Source SourceOf(const RzvVariant& v) {
  return {v.Type(), KindOf(v.Type()), v.Data(), static_cast<size_t>(v.DataSize())};
}

// v converted to target; a null converts to a null of target.
RzvVariant Converted(const RzvVariant& v, T target, int32_t cast_code) {
  CheckType(target);
  RzvVariant out(target);
  if (v.IsNull()) return out;
  if (v.Type() == target) return v;
  std::string data;
  if (!ConvertData(SourceOf(v), target, data)) ThrowCannotCast(cast_code, v.Type(), target);
  out.SetData(target, data.data(), data.size());
  return out;
}

// For typed reads: the value in target, never null.
RzvVariant ReadAs(const RzvVariant& v, T target) {
  if (v.IsNull()) ThrowValueIsNull();
  return Converted(v, target, 30052);
}

// Text of a text-typed value; a null text is empty.
std::string AnsiText(const RzvVariant& v) {
  return v.IsNull() ? std::string() : std::string(AnsiOf(v.Data(), v.DataSize()));
}

std::u16string WideText(const RzvVariant& v) {
  return v.IsNull() ? std::u16string() : WideOf(v.Data(), v.DataSize());
}

}  // namespace

RzvVariant::RzvVariant(RzvStorageType type) : type_(type) {
  CheckType(type);
}

void RzvVariant::SetNull(RzvStorageType type) {
  if (type != T::kUnknown) CheckType(type);
  type_ = type;
  null_ = true;
  data_.clear();
}

void RzvVariant::Store(RzvStorageType type, std::string data) {
  const Kind k = KindOf(type);
  // An empty text is the engine's null.
  if ((k == Kind::kText && data.size() <= 1) || (k == Kind::kWideText && data.size() <= 2)) {
    SetNull(type);
    return;
  }
  type_ = type;
  null_ = false;
  data_ = std::move(data);
}

std::string RzvVariant::AsString() const {
  return AnsiText(ReadAs(*this, T::kString));
}
std::u16string RzvVariant::AsWideString() const {
  return WideText(ReadAs(*this, T::kWideString));
}
int8_t RzvVariant::AsShortint() const {
  return static_cast<int8_t>(RzvLoadInteger(T::kShortint, ReadAs(*this, T::kShortint).Data()));
}
int16_t RzvVariant::AsSmallint() const {
  return static_cast<int16_t>(RzvLoadInteger(T::kSmallint, ReadAs(*this, T::kSmallint).Data()));
}
int32_t RzvVariant::AsInteger() const {
  return static_cast<int32_t>(RzvLoadInteger(T::kInteger, ReadAs(*this, T::kInteger).Data()));
}
int64_t RzvVariant::AsLargeint() const {
  return RzvLoadInteger(T::kLargeint, ReadAs(*this, T::kLargeint).Data());
}
uint8_t RzvVariant::AsByte() const {
  return static_cast<uint8_t>(RzvLoadInteger(T::kByte, ReadAs(*this, T::kByte).Data()));
}
uint16_t RzvVariant::AsWord() const {
  return static_cast<uint16_t>(RzvLoadInteger(T::kWord, ReadAs(*this, T::kWord).Data()));
}
uint32_t RzvVariant::AsCardinal() const {
  return static_cast<uint32_t>(RzvLoadInteger(T::kCardinal, ReadAs(*this, T::kCardinal).Data()));
}
float RzvVariant::AsSingle() const {
  return LoadLE<float>(ReadAs(*this, T::kSingle).Data());
}
double RzvVariant::AsFloat() const {
  return LoadLE<double>(ReadAs(*this, T::kFloat).Data());
}
double RzvVariant::AsExtended() const {
  return RzvExtendedToDouble(ReadAs(*this, T::kExtended).Data());
}
double RzvVariant::AsCurrency() const {
  return LoadLE<double>(ReadAs(*this, T::kCurrency).Data());
}
int32_t RzvVariant::AsDate() const {
  return LoadLE<int32_t>(ReadAs(*this, T::kDate).Data());
}
int32_t RzvVariant::AsTime() const {
  return LoadLE<int32_t>(ReadAs(*this, T::kTime).Data());
}
RzvDateTime RzvVariant::AsDateTime() const {
  return DateTimeOf(ReadAs(*this, T::kDateTime).Data());
}
bool RzvVariant::AsBoolean() const {
  return LoadLE<uint16_t>(ReadAs(*this, T::kLogical).Data()) != 0;
}
std::string RzvVariant::AsBytes() const {
  const RzvVariant v = ReadAs(*this, KindOf(type_) == Kind::kBinary ? type_ : T::kVarBytes);
  return std::string(reinterpret_cast<const char*>(v.Data()), v.DataSize());
}

void RzvVariant::SetAsString(std::string_view text, RzvStorageType type) {
  text = text.substr(0, text.find('\0'));
  const Kind k = KindOf(type);
  if (k == Kind::kText) {
    std::string data(text);
    data.push_back('\0');
    Store(type, std::move(data));
  } else if (k == Kind::kWideText) {
    Store(type, EncodeWide(RzvAnsiToWide(text)));
  } else {
    RzvVariant v;
    v.SetAsString(text);
    *this = Converted(v, type, 30051);
  }
}

void RzvVariant::SetAsWideString(std::u16string_view text, RzvStorageType type) {
  text = text.substr(0, text.find(u'\0'));
  const Kind k = KindOf(type);
  if (k == Kind::kWideText) {
    Store(type, EncodeWide(text));
  } else if (k == Kind::kText) {
    std::string data = RzvWideToAnsi(text);
    data.push_back('\0');
    Store(type, std::move(data));
  } else {
    RzvVariant v;
    v.SetAsWideString(text);
    *this = Converted(v, type, 30051);
  }
}

void RzvVariant::SetAsShortint(int8_t v) {
  Store(T::kShortint, EncodeInt(T::kShortint, v));
}
void RzvVariant::SetAsSmallint(int16_t v) {
  Store(T::kSmallint, EncodeInt(T::kSmallint, v));
}
void RzvVariant::SetAsInteger(int32_t v) {
  Store(T::kInteger, EncodeInt(T::kInteger, v));
}
void RzvVariant::SetAsLargeint(int64_t v) {
  Store(T::kLargeint, EncodeInt(T::kLargeint, v));
}
void RzvVariant::SetAsByte(uint8_t v) {
  Store(T::kByte, EncodeInt(T::kByte, v));
}
void RzvVariant::SetAsWord(uint16_t v) {
  Store(T::kWord, EncodeInt(T::kWord, v));
}
void RzvVariant::SetAsCardinal(uint32_t v) {
  Store(T::kCardinal, EncodeInt(T::kCardinal, v));
}
void RzvVariant::SetAsSingle(float v) {
  Store(T::kSingle, Encode(v));
}
void RzvVariant::SetAsFloat(double v) {
  Store(T::kFloat, Encode(v));
}
void RzvVariant::SetAsExtended(double v) {
  Store(T::kExtended, EncodeFloat(T::kExtended, v));
}
void RzvVariant::SetAsExtendedBytes(const uint8_t* bytes) {
  Store(T::kExtended, std::string(reinterpret_cast<const char*>(bytes), kRzvExtendedSize));
}
void RzvVariant::SetAsCurrency(double v) {
  Store(T::kCurrency, Encode(v));
}
void RzvVariant::SetAsDate(int32_t day_number) {
  Store(T::kDate, Encode(day_number));
}
void RzvVariant::SetAsTime(int32_t ms) {
  Store(T::kTime, Encode(ms));
}
void RzvVariant::SetAsDateTime(RzvDateTime v) {
  Store(T::kDateTime, EncodeDateTime(v));
}
void RzvVariant::SetAsBoolean(bool v) {
  Store(T::kLogical, Encode(static_cast<uint16_t>(v ? 1 : 0)));
}

void RzvVariant::SetAsBytes(std::string_view bytes, RzvStorageType type) {
  if (KindOf(type) != Kind::kBinary) ThrowCannotCast(30051, T::kVarBytes, type);
  Store(type, std::string(bytes));
}

void RzvVariant::SetData(RzvStorageType type, const void* data, size_t size) {
  CheckType(type);
  const auto* d = static_cast<const uint8_t*>(data);
  switch (KindOf(type)) {
    case Kind::kText: {
      std::string text(AnsiOf(d, size));
      text.push_back('\0');
      Store(type, std::move(text));
      return;
    }
    case Kind::kWideText:
      Store(type, EncodeWide(WideOf(d, size)));
      return;
    case Kind::kBinary:
      Store(type, std::string(reinterpret_cast<const char*>(d), size));
      return;
    default: {
      const size_t fixed = FixedSize(type);
      if (size < fixed) throw RzvException(20056, "Buffer size exceeded");
      Store(type, std::string(reinterpret_cast<const char*>(d), fixed));
    }
  }
}

bool RzvVariant::CopyTo(void* buffer, size_t size) const {
  if (null_) return false;
  if (data_.size() > size) throw RzvException(20056, "Buffer size exceeded");
  std::memcpy(buffer, data_.data(), data_.size());
  std::memset(static_cast<uint8_t*>(buffer) + data_.size(), 0, size - data_.size());
  return true;
}

void RzvVariant::Assign(const RzvVariant& other, bool convert_to_own_type) {
  if (!convert_to_own_type || type_ == T::kUnknown) {
    *this = other;
    return;
  }
  *this = Converted(other, type_, 30051);
}

void RzvVariant::CastTo(RzvStorageType target) {
  *this = Converted(*this, target, 30051);
}

// ---- Arithmetic ------------------------------------------------------------------------

void RzvVariant::Add(const RzvVariant& other) {
  if (null_) return;
  const T c = ArithmeticType(type_, other.type_ == T::kUnknown ? type_ : other.type_, "+", 30124);
  RzvVariant a = Converted(*this, c, 30051);
  const Kind k = KindOf(c);
  if (other.null_) {
    // A null text adds nothing; any other null makes the sum null.
    if (IsTextKind(k)) {
      *this = std::move(a);
    } else {
      SetNull(c);
    }
    return;
  }
  const RzvVariant b = Converted(other, c, 30051);
  RzvVariant r;
  switch (k) {
    case Kind::kText:
      r.SetAsString(AnsiText(a) + AnsiText(b), c);
      break;
    case Kind::kWideText:
      r.SetAsWideString(WideText(a) + WideText(b), c);
      break;
    case Kind::kInt:
      r.Store(c, EncodeInt(c, WrapAdd(RzvLoadInteger(c, a.Data()), RzvLoadInteger(c, b.Data()))));
      break;
    case Kind::kFloat:
    case Kind::kCurrency:
      r.Store(c, EncodeFloat(c, FloatOf(c, a.Data()) + FloatOf(c, b.Data())));
      break;
    case Kind::kDate:
      r.SetAsDate(AddDays(a.AsDate(), b.AsDate(), 0));
      break;
    case Kind::kTime: {
      // Whole days carried out are dropped; a sum before midnight wraps back
      // into the previous day rather than becoming a negative time.
      int64_t ms = (int64_t{a.AsTime()} + b.AsTime()) % kRzvMsPerDay;
      if (ms < 0) ms += kRzvMsPerDay;
      r.SetAsTime(static_cast<int32_t>(ms));
      break;
    }
    case Kind::kDateTime: {
      const RzvDateTime x = a.AsDateTime(), y = b.AsDateTime();
      int64_t ms = int64_t{x.time} + y.time;
      int64_t carry = ms / kRzvMsPerDay;
      ms %= kRzvMsPerDay;
      if (ms < 0) {
        ms += kRzvMsPerDay;
        --carry;
      }
      r.SetAsDateTime({AddDays(x.date, y.date, carry), static_cast<int32_t>(ms)});
      break;
    }
    case Kind::kLogical:
      r.SetAsBoolean(a.AsBoolean() || b.AsBoolean());
      break;
    default:
      ThrowNotNumeric(30124, "+");
  }
  *this = std::move(r);
}

void RzvVariant::Negate() {
  if (null_) return;
  switch (KindOf(type_)) {
    case Kind::kInt: {
      // Unsigned values change sign in the next wider signed type.
      const IntType it = IntTypeOf(type_);
      const T t = it.is_signed ? type_ : IntTypeFor(std::min<size_t>(8, it.width * 2), true);
      Store(t, EncodeInt(t, WrapNeg(RzvLoadInteger(type_, Data()))));
      return;
    }
    case Kind::kFloat:
    case Kind::kCurrency:
      Store(type_, EncodeFloat(type_, -FloatOf(type_, Data())));
      return;
    case Kind::kLogical:
      SetAsBoolean(LoadLE<uint16_t>(Data()) == 0);
      return;
    default:
      throw RzvException::Format(30123, "Cannot invert value with not numeric type '%s'",
                                 StorageTypeName(type_));
  }
}

void RzvVariant::Multiply(const RzvVariant& other) {
  if (null_) return;
  const T c = ArithmeticType(type_, other.type_ == T::kUnknown ? type_ : other.type_, "*", 30126);
  const Kind k = KindOf(c);
  if (k != Kind::kInt && k != Kind::kFloat && k != Kind::kCurrency && k != Kind::kLogical) {
    ThrowNotNumeric(30126, "*");
  }
  if (other.null_) {
    SetNull(c);
    return;
  }
  const RzvVariant a = Converted(*this, c, 30051);
  const RzvVariant b = Converted(other, c, 30051);
  RzvVariant r;
  if (k == Kind::kInt) {
    r.Store(c, EncodeInt(c, WrapMul(RzvLoadInteger(c, a.Data()), RzvLoadInteger(c, b.Data()))));
  } else if (k == Kind::kLogical) {
    r.SetAsBoolean(a.AsBoolean() && b.AsBoolean());
  } else {
    r.Store(c, EncodeFloat(c, FloatOf(c, a.Data()) * FloatOf(c, b.Data())));
  }
  *this = std::move(r);
}

void RzvVariant::Divide(const RzvVariant& other) {
  if (null_) return;
  const T c = ArithmeticType(type_, other.type_ == T::kUnknown ? type_ : other.type_, "/", 30127);
  const Kind k = KindOf(c);
  if (k != Kind::kInt && k != Kind::kFloat && k != Kind::kCurrency) ThrowNotNumeric(30127, "/");
  if (other.null_) {
    SetNull(c);
    return;
  }
  const RzvVariant a = Converted(*this, c, 30051);
  const RzvVariant b = Converted(other, c, 30051);
  RzvVariant r;
  if (k == Kind::kInt) {
    const int64_t x = RzvLoadInteger(c, a.Data()), y = RzvLoadInteger(c, b.Data());
    if (y == 0) ThrowDivisionError("Division by zero");
    // -1 is taken apart: INT64_MIN / -1 does not fit and wraps like the
    // other integer results.
    r.Store(c, EncodeInt(c, y == -1 ? WrapNeg(x) : x / y));
  } else {
    const double x = FloatOf(c, a.Data()), y = FloatOf(c, b.Data());
    if (y == 0) {
      if (x == 0 || std::isnan(x)) ThrowDivisionError("Invalid floating point operation");
      ThrowDivisionError("Floating point division by zero");
    }
    r.Store(c, EncodeFloat(c, x / y));
  }
  *this = std::move(r);
}

// ---- Comparison ------------------------------------------------------------------------

RzvCompareOutcome RzvVariant::Compare(const RzvVariant& other, bool case_insensitive,
                                      bool partial) const {
  if (null_ && other.null_) return RzvCompareOutcome::kBothNull;
  if (null_) return RzvCompareOutcome::kLeftNull;
  if (other.null_) return RzvCompareOutcome::kRightNull;
  const T c = RzvCommonType(type_, other.type_, true);
  if (c == T::kUnknown) ThrowIncompatible(type_, other.type_);
  // Values already in the common type are compared in place.
  RzvVariant a_converted, b_converted;
  if (type_ != c) a_converted = Converted(*this, c, 30051);
  if (other.type_ != c) b_converted = Converted(other, c, 30051);
  const RzvVariant& a = type_ != c ? a_converted : *this;
  const RzvVariant& b = other.type_ != c ? b_converted : other;
  int r = 0;
  auto cmp = [](auto x, auto y) { return x < y ? -1 : y < x ? 1 : 0; };
  switch (KindOf(c)) {
    case Kind::kText:
    case Kind::kWideText: {
      // The locale order of field comparisons; a null (empty) text is "".
      // Partial comparisons look at as many characters as other has.
      static const uint8_t kEmpty[2] = {0, 0};
      const uint8_t* x = a.IsNull() ? kEmpty : a.Data();
      const uint8_t* y = b.IsNull() ? kEmpty : b.Data();
      const RzvCollator& collator = RzvCollator::Default();
      if (KindOf(c) == Kind::kWideText) {
        const int32_t length = partial ? (b.IsNull() ? 0 : b.DataSize() / 2 - 1) : -1;
        r = collator.CompareWide(x, y, length, case_insensitive);
      } else {
        const int32_t length = partial ? (b.IsNull() ? 0 : b.DataSize() - 1) : -1;
        r = collator.CompareAnsi(x, y, length, case_insensitive);
      }
      break;
    }
    case Kind::kInt:
      r = cmp(RzvLoadInteger(c, a.Data()), RzvLoadInteger(c, b.Data()));
      break;
    case Kind::kFloat:
    case Kind::kCurrency:
      r = cmp(FloatOf(c, a.Data()), FloatOf(c, b.Data()));
      break;
    case Kind::kDate:
    case Kind::kTime:
      r = cmp(LoadLE<int32_t>(a.Data()), LoadLE<int32_t>(b.Data()));
      break;
    case Kind::kDateTime: {
      const RzvDateTime x = DateTimeOf(a.Data()), y = DateTimeOf(b.Data());
      r = x.date != y.date ? cmp(x.date, y.date) : cmp(x.time, y.time);
      break;
    }
    case Kind::kLogical:
      r = cmp(LoadLE<uint16_t>(a.Data()) != 0, LoadLE<uint16_t>(b.Data()) != 0);
      break;
    default:
      break;
  }
  return r < 0   ? RzvCompareOutcome::kLess
         : r > 0 ? RzvCompareOutcome::kGreater
                 : RzvCompareOutcome::kEqual;
}

int RzvVariant::CompareOrder(const RzvVariant& other, bool case_insensitive) const {
  switch (Compare(other, case_insensitive, false)) {
    case RzvCompareOutcome::kLess:
    case RzvCompareOutcome::kLeftNull:
      return -1;
    case RzvCompareOutcome::kGreater:
    case RzvCompareOutcome::kRightNull:
      return 1;
    default:
      return 0;
  }
}

// ---- Stream format -----------------------------------------------------------------------

void RzvVariant::WriteToStream(std::vector<uint8_t>& out) const {
  out.push_back(static_cast<uint8_t>(type_));
  if (null_) {
    out.push_back(255);
    return;
  }
  out.push_back(0);
  uint8_t length[4];
  StoreLE<int32_t>(length, static_cast<int32_t>(data_.size()));
  out.insert(out.end(), length, length + 4);
  out.insert(out.end(), data_.begin(), data_.end());
}

void RzvVariant::CheckStreamLength(uint8_t type, int32_t length) {
  const T t = static_cast<T>(type);
  CheckType(t);
  const Kind k = KindOf(t);
  const size_t fixed = FixedSize(t);
  const bool ok = length >= 0 && (fixed == 0 || static_cast<size_t>(length) == fixed) &&
                  (k != Kind::kText || length >= 1) &&
                  (k != Kind::kWideText || (length >= 2 && length % 2 == 0));
  if (!ok) {
    throw RzvException::Format(30048, "Invalid data size %d for data type '%s'", length,
                               StorageTypeName(t));
  }
}

void RzvVariant::SetFromStream(uint8_t type, uint8_t null_flag, const std::vector<uint8_t>& data) {
  const T t = static_cast<T>(type);
  if (t != T::kUnknown) CheckType(t);
  if (null_flag != 0) {
    SetNull(t);
    return;
  }
  // Untyped values carry no data; CheckStreamLength has refused them.
  SetData(t, data.data(), data.size());
}

void RzvVariant::ReadFromStream(std::span<const uint8_t> data, size_t& position) {
  struct SpanReader {
    std::span<const uint8_t> data;
    size_t position;
    void Read(void* dest, size_t n) {
      const size_t available = position <= data.size() ? data.size() - position : 0;
      if (n > available) {
        throw RzvException::Format(
            10146,
            "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
            static_cast<int64_t>(position), static_cast<int64_t>(data.size()),
            static_cast<int64_t>(n), static_cast<int64_t>(available));
      }
      std::memcpy(dest, data.data() + position, n);
      position += n;
    }
  } reader{data, position};
  Read(reader);
  position = reader.position;
}

}  // namespace rzv
