// The integer record encodings: SHORTINT, SMALLINT and INTEGER are signed,
// BYTE, WORD and CARDINAL unsigned, of 1, 2 and 4 bytes; LARGEINT (and every
// other type read through here) is a signed 8-byte value. Little-endian.
#pragma once

#include <cstdint>

#include "engine/storage/byte_order.h"
#include "engine/table/field_types.h"

namespace rzv {

// The value at data, sign- or zero-extended by the type's own signedness.
inline int64_t RzvLoadInteger(RzvStorageType type, const uint8_t* data) {
  switch (type) {
    case RzvStorageType::kShortint:
      return LoadLE<int8_t>(data);
    case RzvStorageType::kSmallint:
      return LoadLE<int16_t>(data);
    case RzvStorageType::kInteger:
      return LoadLE<int32_t>(data);
    case RzvStorageType::kByte:
      return LoadLE<uint8_t>(data);
    case RzvStorageType::kWord:
      return LoadLE<uint16_t>(data);
    case RzvStorageType::kCardinal:
      return LoadLE<uint32_t>(data);
    default:
      return LoadLE<int64_t>(data);
  }
}

}  // namespace rzv
