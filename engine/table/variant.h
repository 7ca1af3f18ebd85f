// RzvVariant: the engine's one typed value. A storage type, a null flag and
// the data in that type's record encoding. Field defaults, expressions, SQL
// constants and parameters all carry their values in it, and it converts
// between every pair of storage types that has a conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/table/date_time.h"
#include "engine/table/field_types.h"

namespace rzv {

// Native code of "Value is Null" for a typed read of a null value. Callers
// that report the condition under their own code catch and rethrow it.
inline constexpr int32_t kRzvValueIsNull = 30016;

// Outcome of comparing two values (left is the value Compare is called on).
enum class RzvCompareOutcome { kLess, kEqual, kGreater, kBothNull, kLeftNull, kRightNull };

// The common type of two storage types, or kUnknown when they have none.
// In comparisons text meeting a date kind takes the date kind; elsewhere
// (arithmetic, concatenation) the text wins. MEMO and WIDEMEMO act as STRING
// and WIDESTRING.
RzvStorageType RzvCommonType(RzvStorageType a, RzvStorageType b, bool for_comparison);

class RzvVariant {
 public:
  // An untyped null.
  RzvVariant() = default;
  // A null of type; raises "Unknown DataType: '%s'" for a code outside 1..24.
  explicit RzvVariant(RzvStorageType type);

  RzvStorageType Type() const { return type_; }
  bool IsNull() const { return null_; }
  void SetNull() { SetNull(type_); }
  void SetNull(RzvStorageType type);

  // Record encoding of the value: fixed-size types their data size; texts
  // their characters and a zero terminator (one byte, or one UTF-16 unit for
  // the wide types); BLOB and byte arrays their bytes. Empty when null.
  const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(data_.data()); }
  int32_t DataSize() const { return static_cast<int32_t>(data_.size()); }

  // Reads, converting from the own type as CastTo would. A null value raises
  // "Value is Null" (kRzvValueIsNull); a pair without a conversion raises
  // "Cannot cast from '%s' to '%s'" (30052).
  std::string AsString() const;  // windows-1252
  std::u16string AsWideString() const;
  int8_t AsShortint() const;
  int16_t AsSmallint() const;
  int32_t AsInteger() const;
  int64_t AsLargeint() const;
  uint8_t AsByte() const;
  uint16_t AsWord() const;
  uint32_t AsCardinal() const;
  float AsSingle() const;
  double AsFloat() const;
  double AsExtended() const;  // the EXTENDED value rounded to double
  double AsCurrency() const;
  int32_t AsDate() const;  // day number
  int32_t AsTime() const;  // milliseconds
  RzvDateTime AsDateTime() const;
  bool AsBoolean() const;
  std::string AsBytes() const;  // BLOB, BYTES, VARBYTES and single-byte text

  // Writes: the value takes the type (the default unless given) and is no
  // longer null. Text types: an empty text is the null value of the engine,
  // so writing "" gives a null of that type. Text may not hold zero
  // characters; the first one ends it.
  void SetAsString(std::string_view text, RzvStorageType type = RzvStorageType::kString);
  void SetAsWideString(std::u16string_view text, RzvStorageType type = RzvStorageType::kWideString);
  void SetAsShortint(int8_t v);
  void SetAsSmallint(int16_t v);
  void SetAsInteger(int32_t v);
  void SetAsLargeint(int64_t v);
  void SetAsByte(uint8_t v);
  void SetAsWord(uint16_t v);
  void SetAsCardinal(uint32_t v);
  void SetAsSingle(float v);
  void SetAsFloat(double v);
  void SetAsExtended(double v);
  // The 10 bytes of an x87 extended value, kept bit for bit.
  void SetAsExtendedBytes(const uint8_t* bytes);
  void SetAsCurrency(double v);
  void SetAsDate(int32_t day_number);
  void SetAsTime(int32_t ms);
  void SetAsDateTime(RzvDateTime v);
  void SetAsBoolean(bool v);
  // BLOB, BYTES or VARBYTES.
  void SetAsBytes(std::string_view bytes, RzvStorageType type = RzvStorageType::kBytes);

  // Takes size bytes of a record encoding of type (a text ends at its first
  // terminator or at size). Raises "Unknown DataType: '%s'" for an unknown
  // type and "Buffer size exceeded" when size is short of a fixed data size.
  void SetData(RzvStorageType type, const void* data, size_t size);
  // Copies the record encoding to buffer and zeroes the rest of it; false,
  // without touching buffer, for a null value. A value longer than size
  // raises "Buffer size exceeded" (20056).
  bool CopyTo(void* buffer, size_t size) const;

  // Takes other's type and value, or with convert_to_own_type keeps the own
  // type and converts other's value into it. On failure nothing changes.
  void Assign(const RzvVariant& other, bool convert_to_own_type = false);
  // Converts in place; on failure the value keeps its previous content.
  // Pairs without a conversion raise "Cannot cast from '%s' to '%s'" (30051).
  void CastTo(RzvStorageType target);

  // Arithmetic in place, in the common type of both values (text winning
  // over dates). A null own value stays null.
  void Add(const RzvVariant& other);
  void Negate();
  void Multiply(const RzvVariant& other);
  void Divide(const RzvVariant& other);

  // Compares in the common type: strings by the locale's string sort (only
  // as many characters as other has when partial), numbers, dates and times
  // by value, false before true.
  RzvCompareOutcome Compare(const RzvVariant& other, bool case_insensitive = false,
                            bool partial = false) const;
  // Sort order with null lowest: -1, 0 or 1.
  int CompareOrder(const RzvVariant& other, bool case_insensitive = false) const;

  // Typed-value stream format: type (1 byte, 0 = none), null flag (1 byte,
  // 255 = null and nothing follows, 0 = data follows), data length (int32),
  // data (the record encoding above).
  void WriteToStream(std::vector<uint8_t>& out) const;
  // Reads at position and advances it. A short read raises "Cannot read
  // from stream. ..." (10146) and leaves value and position unchanged.
  void ReadFromStream(std::span<const uint8_t> data, size_t& position);
  // The same over any reader with Read(void* dest, size_t n) that raises on
  // a short read, and any writer with Write(const void* src, size_t n).
  template <typename Reader>
  void Read(Reader& reader) {
    uint8_t header[2];
    reader.Read(header, 1);
    reader.Read(header + 1, 1);
    std::vector<uint8_t> payload;
    if (header[1] == 0) {
      uint8_t length[4];
      reader.Read(length, 4);
      const int32_t n = LoadLE<int32_t>(length);
      CheckStreamLength(header[0], n);
      // Read in pieces, so that a damaged length fails on a short read
      // before it makes us allocate more than the stream holds.
      size_t remaining = static_cast<size_t>(n);
      while (remaining > 0) {
        const size_t piece = remaining < kStreamPiece ? remaining : kStreamPiece;
        const size_t at = payload.size();
        payload.resize(at + piece);
        reader.Read(payload.data() + at, piece);
        remaining -= piece;
      }
    }
    SetFromStream(header[0], header[1], payload);
  }
  template <typename Writer>
  void Write(Writer& writer) const {
    std::vector<uint8_t> image;
    WriteToStream(image);
    writer.Write(image.data(), image.size());
  }

  friend bool operator==(const RzvVariant&, const RzvVariant&) = default;

 private:
  static constexpr size_t kStreamPiece = 65536;

  void Store(RzvStorageType type, std::string data);
  // Validates the type code and length of a stream entry before its data is
  // read.
  static void CheckStreamLength(uint8_t type, int32_t length);
  // type and null_flag as read from the stream; data empty for a null.
  void SetFromStream(uint8_t type, uint8_t null_flag, const std::vector<uint8_t>& data);

  RzvStorageType type_ = RzvStorageType::kUnknown;
  bool null_ = true;
  std::string data_;
};

}  // namespace rzv
