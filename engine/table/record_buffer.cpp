#include "engine/table/record_buffer.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "engine/table/extended_float.h"

namespace rzv {

namespace {

using D = RzvDeclaredType;
using S = RzvStorageType;

void CheckFieldNo(const RzvFieldDefs& defs, int field_no) {
  if (field_no < 0 || field_no >= defs.Count()) {
    throw RzvException::Format(30501, "Invalid field number - FieldNo = %d, FieldCount = %d",
                               field_no, defs.Count());
  }
}

// Characters before the terminator within capacity units; capacity when
// there is none. Reads no further than the terminator (memchr, too, stops at
// the first match), so it also measures a caller's buffer of unknown size.
int32_t StringLength(const uint8_t* data, int32_t capacity, bool wide) {
  if (!wide) {
    const void* end = std::memchr(data, 0, static_cast<size_t>(capacity));
    return end ? static_cast<int32_t>(static_cast<const uint8_t*>(end) - data) : capacity;
  }
  for (int32_t i = 0; i < capacity; ++i) {
    if (data[2 * i] == 0 && data[2 * i + 1] == 0) return i;
  }
  return capacity;
}

float NarrowToSingle(double v) {
  // Out of range conversion to float is undefined; IEEE rounding would give
  // an infinity there.
  if (v > FLT_MAX) return INFINITY;
  if (v < -FLT_MAX) return -INFINITY;
  return static_cast<float>(v);
}

}  // namespace

int32_t DatasetDataSize(const RzvFieldDef& def) {
  switch (def.DataType()) {
    case D::kShortint:
    case D::kByte:
      return 2;
    case D::kCardinal:
    case D::kSingle:
    case D::kExtended:
      return 8;
    case D::kAutoincShortint:
    case D::kAutoincSmallint:
    case D::kAutoincByte:
    case D::kAutoincWord:
      return 4;
    default:
      return def.MemoryDataSize();
  }
}

bool ReadFieldValue(const RzvFieldDefs& defs, int field_no, const uint8_t* record, void* dest,
                    int32_t dest_size) {
  CheckFieldNo(defs, field_no);
  if (record == nullptr) throw RzvException(10523, "Nil pointer occured");
  if (IsNullBitSet(record, field_no)) return false;
  const RzvFieldDef& def = defs[field_no];
  if (dest == nullptr || IsBlobStorageType(def.StorageType())) return true;

  const uint8_t* src = record + def.MemoryOffset();
  auto* out = static_cast<uint8_t*>(dest);
  int32_t needed = DatasetDataSize(def);
  bool is_string = IsStringStorageType(def.StorageType());
  bool wide = IsWideStorageType(def.StorageType());
  int32_t unit = wide ? 2 : 1;
  int32_t length = 0;
  if (is_string) {
    length = StringLength(src, def.MemoryDataSize() / unit - 1, wide);
    needed = (length + 1) * unit;
  }
  if (dest_size >= 0 && dest_size < needed) {
    throw RzvException::Format(
        30503, "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
        field_no, def.MemoryOffset(), def.MemoryDataSize());
  }

  if (is_string) {
    std::memcpy(out, src, static_cast<size_t>(length * unit));
    std::memset(out + length * unit, 0, static_cast<size_t>(unit));
    return true;
  }
  switch (def.DataType()) {
    case D::kShortint:
      StoreLE<int16_t>(out, LoadLE<int8_t>(src));
      break;
    case D::kByte:
      StoreLE<uint16_t>(out, LoadLE<uint8_t>(src));
      break;
    case D::kCardinal:
      StoreLE<int64_t>(out, LoadLE<uint32_t>(src));
      break;
    case D::kSingle:
      StoreLE<double>(out, LoadLE<float>(src));
      break;
    case D::kExtended:
      StoreLE<double>(out, RzvExtendedToDouble(src));
      break;
    case D::kAutoincShortint:
      StoreLE<int32_t>(out, LoadLE<int8_t>(src));
      break;
    case D::kAutoincSmallint:
      StoreLE<int32_t>(out, LoadLE<int16_t>(src));
      break;
    case D::kAutoincByte:
      StoreLE<int32_t>(out, LoadLE<uint8_t>(src));
      break;
    case D::kAutoincWord:
      StoreLE<int32_t>(out, LoadLE<uint16_t>(src));
      break;
    default:
      std::memcpy(out, src, static_cast<size_t>(def.MemoryDataSize()));
      break;
  }
  return true;
}

void WriteFieldValue(const RzvFieldDefs& defs, int field_no, const void* source, uint8_t* record) {
  CheckFieldNo(defs, field_no);
  if (record == nullptr) throw RzvException(10524, "Nil pointer occured");
  const RzvFieldDef& def = defs[field_no];
  const auto* src = static_cast<const uint8_t*>(source);
  bool string_like = IsStringLikeType(def.DataType());
  bool wide = IsWideStorageType(def.StorageType());
  if (src == nullptr || (string_like && src[0] == 0 && (!wide || src[1] == 0))) {
    SetNullBit(record, field_no, true);
    return;
  }

  uint8_t* dst = record + def.MemoryOffset();
  if (IsStringStorageType(def.StorageType())) {
    int32_t unit = wide ? 2 : 1;
    int32_t capacity = def.MemoryDataSize() / unit - 1;
    // One unit past the capacity tells a string that fits from one that
    // does not.
    int32_t length = StringLength(src, capacity + 1, wide);
    if (length > capacity) throw RzvException(20056, "Buffer size exceeded");
    std::memcpy(dst, src, static_cast<size_t>(length * unit));
    std::memset(dst + length * unit, 0, static_cast<size_t>(def.MemoryDataSize() - length * unit));
  } else {
    switch (def.DataType()) {
      case D::kShortint:
        StoreLE<int8_t>(dst, static_cast<int8_t>(LoadLE<int16_t>(src)));
        break;
      case D::kByte:
        StoreLE<uint8_t>(dst, static_cast<uint8_t>(LoadLE<uint16_t>(src)));
        break;
      case D::kCardinal:
        StoreLE<uint32_t>(dst, static_cast<uint32_t>(LoadLE<int64_t>(src)));
        break;
      case D::kSingle:
        StoreLE<float>(dst, NarrowToSingle(LoadLE<double>(src)));
        break;
      case D::kExtended:
        RzvDoubleToExtended(LoadLE<double>(src), dst);
        break;
      case D::kAutoincShortint:
      case D::kAutoincByte:
        dst[0] = src[0];
        break;
      case D::kAutoincSmallint:
      case D::kAutoincWord:
        std::memcpy(dst, src, 2);
        break;
      default:
        std::memcpy(dst, src, static_cast<size_t>(def.MemoryDataSize()));
        break;
    }
  }
  SetNullBit(record, field_no, false);
}

void InitWorkingRecord(const RzvFieldDefs& defs, uint8_t* record, bool apply_defaults) {
  if (record == nullptr) throw RzvException(10525, "Nil pointer occured");
  std::memset(record, 0, static_cast<size_t>(defs.WorkingRecordSize()));
  for (int i = 0; i < defs.Count(); ++i) SetNullBit(record, i, true);
  if (!apply_defaults) return;
  for (int i = 0; i < defs.Count(); ++i) {
    const RzvFieldDef& def = defs[i];
    if (def.DefaultValue().IsNull() || IsBlobStorageType(def.StorageType())) continue;
    RzvVariant value = def.NewRecordDefault();
    if (value.CopyTo(record + def.MemoryOffset(), static_cast<size_t>(def.MemoryDataSize()))) {
      SetNullBit(record, i, false);
    }
  }
}

void StoredToWorkingRecord(const RzvFieldDefs& defs, const uint8_t* stored, uint8_t* working) {
  if (stored == nullptr || working == nullptr) throw RzvException(10526, "Nil pointer occured");
  std::memset(working, 0, static_cast<size_t>(defs.WorkingRecordSize()));
  std::memcpy(working, stored, static_cast<size_t>(defs.NullBitmapSize()));
  for (int i = 0; i < defs.Count(); ++i) {
    const RzvFieldDef& def = defs[i];
    std::memcpy(working + def.MemoryOffset(), stored + def.DiskOffset(),
                static_cast<size_t>(def.DiskDataSize()));
  }
}

void WorkingToStoredRecord(const RzvFieldDefs& defs, const uint8_t* working, uint8_t* stored) {
  if (stored == nullptr || working == nullptr) throw RzvException(10527, "Nil pointer occured");
  std::memset(stored, 0, static_cast<size_t>(defs.StoredRecordSize()));
  std::memcpy(stored, working, static_cast<size_t>(defs.NullBitmapSize()));
  for (int i = 0; i < defs.Count(); ++i) {
    const RzvFieldDef& def = defs[i];
    std::memcpy(stored + def.DiskOffset(), working + def.MemoryOffset(),
                static_cast<size_t>(def.DiskDataSize()));
  }
}

void NormalizeRecord(const RzvFieldDefs& defs, uint8_t* record) {
  if (record == nullptr) throw RzvException(10528, "Nil pointer occured");
  for (int i = 0; i < defs.Count(); ++i) {
    const RzvFieldDef& def = defs[i];
    if (!IsStringStorageType(def.StorageType())) continue;
    uint8_t* data = record + def.MemoryOffset();
    int32_t size = def.MemoryDataSize();
    if (IsNullBitSet(record, i)) {
      std::memset(data, 0, static_cast<size_t>(size));
      continue;
    }
    bool wide = IsWideStorageType(def.StorageType());
    int32_t unit = wide ? 2 : 1;
    int32_t length = StringLength(data, size / unit, wide);
    if (length < size / unit) {
      std::memset(data + length * unit, 0, static_cast<size_t>(size - length * unit));
    }
  }
}

}  // namespace rzv
