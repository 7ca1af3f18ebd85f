// Identities inside the table layer: the 6-byte RecordID of a stored record
// (PageNo int32, SlotNo uint16) and the 6-byte BLOB reference that a BLOB
// field's slot starts with (PageNo int32, BlobID int16). Both little-endian.
#pragma once

#include <compare>
#include <cstdint>

#include "engine/storage/byte_order.h"

namespace rzv {

struct RzvRecordID {
  static constexpr int kSize = 6;

  int32_t PageNo = -1;
  uint16_t SlotNo = 0;

  // Order: PageNo, then SlotNo.
  friend auto operator<=>(const RzvRecordID&, const RzvRecordID&) = default;

  static RzvRecordID Load(const uint8_t* p) {
    return {LoadLE<int32_t>(p), LoadLE<uint16_t>(p + 4)};
  }
  void Store(uint8_t* p) const {
    StoreLE<int32_t>(p, PageNo);
    StoreLE<uint16_t>(p + 4, SlotNo);
  }
};

// -1, 0 or 1.
inline int CompareRecordIDs(const RzvRecordID& a, const RzvRecordID& b) {
  auto c = a <=> b;
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

struct RzvBlobReference {
  static constexpr int kSize = 6;

  int32_t PageNo = 0;
  int16_t BlobID = 0;

  friend bool operator==(const RzvBlobReference&, const RzvBlobReference&) = default;

  static RzvBlobReference Load(const uint8_t* p) {
    return {LoadLE<int32_t>(p), LoadLE<int16_t>(p + 4)};
  }
  void Store(uint8_t* p) const {
    StoreLE<int32_t>(p, PageNo);
    StoreLE<int16_t>(p + 4, BlobID);
  }
};

}  // namespace rzv
