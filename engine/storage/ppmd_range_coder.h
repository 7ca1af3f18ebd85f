// Carry-less range coder of the PPMd var.G streams (Subbotin's scheme with
// TOP = 2^24 and BOT = 2^15). All state is 32-bit and wraps modulo 2^32, so
// the output is identical on 32- and 64-bit hosts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rzv {

inline constexpr uint32_t kPpmdRangeTop = 1u << 24;
inline constexpr uint32_t kPpmdRangeBot = 1u << 15;

// Appends the coded bytes to a caller-owned vector; no preamble is written.
class RzvPpmdRangeEncoder {
 public:
  explicit RzvPpmdRangeEncoder(std::vector<uint8_t>* out) : out_(out) {}

  // Codes the interval [lo, lo + size) out of total.
  void Encode(uint32_t lo, uint32_t size, uint32_t total) {
    range_ /= total;
    low_ += lo * range_;
    range_ *= size;
  }
  // Same with a fixed total of 2^14 (binary contexts).
  void EncodeBinary(uint32_t lo, uint32_t size) {
    range_ >>= 14;
    low_ += lo * range_;
    range_ *= size;
  }
  // Emits settled top bytes. When the range has become smaller than BOT it is
  // cut at the next 2^15 boundary of low, so no carry can ever reach a byte
  // that was already written.
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kPpmdRangeTop) {
        if (range_ >= kPpmdRangeBot) return;
        range_ = (0u - low_) & (kPpmdRangeBot - 1);
      }
      out_->push_back(static_cast<uint8_t>(low_ >> 24));
      range_ <<= 8;
      low_ <<= 8;
    }
  }
  // The four bytes of low, most significant first.
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      out_->push_back(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }

 private:
  std::vector<uint8_t>* out_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

// Reads a coded byte range and never reads beyond it: a request for a byte
// past the end sets Overrun() and yields 0xFF, so callers stop on the flag.
class RzvPpmdRangeDecoder {
 public:
  RzvPpmdRangeDecoder(const uint8_t* data, size_t size) : next_(data), end_(data + size) {
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | NextByte();
  }

  // Count within [0, total) that selects the next interval; total must be
  // non-zero. A value >= total can only come from a corrupt stream.
  uint32_t GetFreq(uint32_t total) {
    range_ /= total;
    return range_ == 0 ? total : (code_ - low_) / range_;
  }
  uint32_t GetBinaryFreq() {
    range_ >>= 14;
    return (code_ - low_) / range_;
  }
  // Consumes the interval chosen after GetFreq / GetBinaryFreq.
  void Decode(uint32_t lo, uint32_t size) {
    low_ += lo * range_;
    range_ *= size;
  }
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kPpmdRangeTop) {
        if (range_ >= kPpmdRangeBot) return;
        range_ = (0u - low_) & (kPpmdRangeBot - 1);
      }
      code_ = (code_ << 8) | NextByte();
      range_ <<= 8;
      low_ <<= 8;
    }
  }

  bool Overrun() const { return overrun_; }
  size_t Remaining() const { return static_cast<size_t>(end_ - next_); }

 private:
  uint32_t NextByte() {
    if (next_ == end_) {
      overrun_ = true;
      return 0xFF;
    }
    return *next_++;
  }

  const uint8_t* next_;
  const uint8_t* end_;
  bool overrun_ = false;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
};

}  // namespace rzv
