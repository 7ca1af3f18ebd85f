// Sequential little-endian readers and writers for the byte images of table
// metadata (field definitions, typed values, counters). The reader works on
// an image already loaded into memory; the writer appends to a growable
// buffer or fills a fixed-size region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/byte_order.h"

namespace rzv {

class RzvMetadataReader {
 public:
  explicit RzvMetadataReader(std::span<const uint8_t> data) : data_(data) {}

  // Copies n bytes; raises "Cannot read from stream. ..." when fewer remain,
  // leaving the position unchanged.
  void Read(void* dest, size_t n);
  template <typename T>
  T ReadLE() {
    uint8_t buf[sizeof(T)];
    Read(buf, sizeof buf);
    return LoadLE<T>(buf);
  }

  size_t Position() const { return position_; }
  size_t Size() const { return data_.size(); }
  size_t Remaining() const { return data_.size() - position_; }

 private:
  std::span<const uint8_t> data_;
  size_t position_ = 0;
};

class RzvMetadataWriter {
 public:
  // Appends to *out, which grows as needed.
  explicit RzvMetadataWriter(std::vector<uint8_t>* out) : out_(out) {}
  // Fills region from its start; writing past its end raises
  // "Cannot write to stream. ..." and writes nothing of that block.
  explicit RzvMetadataWriter(std::span<uint8_t> region) : region_(region) {}

  void Write(const void* src, size_t n);
  template <typename T>
  void WriteLE(T v) {
    uint8_t buf[sizeof(T)];
    StoreLE<T>(buf, v);
    Write(buf, sizeof buf);
  }

  // Bytes written so far.
  size_t Position() const { return position_; }

 private:
  std::vector<uint8_t>* out_ = nullptr;
  std::span<uint8_t> region_;
  size_t position_ = 0;
};

}  // namespace rzv
