// The 10-byte header at the start of an internal file's first data area, and
// the mapping of content positions to chain pages. An internal file is a
// chain of pages of one type linked through NextPageNo (-1 ends it),
// identified by its first page (StartPageNo).
//
// Header (data-area offsets of the first page):
//   0 uint8  marker, always 10 (the header length)
//   1 int32  stored size: content bytes kept in the chain
//   5 int32  logical size: content bytes before compression
//   9 uint8  compression algorithm id of the stored bytes, 0 = none
// Content position p lies in chain page (p + 10) / DataSize at data-area
// offset (p + 10) % DataSize.
#pragma once

#include <cstdint>

#include "engine/storage/byte_order.h"

namespace rzv {

struct RzvInternalFileHeader {
  static constexpr int32_t kSize = 10;
  static constexpr uint8_t kMarker = 10;

  uint8_t marker = kMarker;
  int32_t stored_size = 0;
  int32_t logical_size = 0;
  uint8_t compression = 0;

  static RzvInternalFileHeader Load(const uint8_t* data) {
    return {data[0], LoadLE<int32_t>(data + 1), LoadLE<int32_t>(data + 5), data[9]};
  }
  void Store(uint8_t* data) const {
    data[0] = marker;
    StoreLE<int32_t>(data + 1, stored_size);
    StoreLE<int32_t>(data + 5, logical_size);
    data[9] = compression;
  }
};

// Pages a chain needs for stored_size content bytes (at least one).
inline int32_t RzvInternalFilePageCount(int64_t stored_size, int32_t data_size) {
  return static_cast<int32_t>((stored_size + RzvInternalFileHeader::kSize + data_size - 1) /
                              data_size);
}

}  // namespace rzv
