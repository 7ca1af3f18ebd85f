#include "engine/storage/file_header.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/storage/byte_order.h"

namespace rzv {

namespace {

// The Version field is an IEEE double stored little-endian.
void StoreDoubleLE(uint8_t* dst, double v) {
  StoreLE<uint64_t>(dst, std::bit_cast<uint64_t>(v));
}
double LoadDoubleLE(const uint8_t* src) {
  return std::bit_cast<double>(LoadLE<uint64_t>(src));
}

}  // namespace

RzvFileHeader RzvFileHeader::New(uint16_t page_size, uint16_t extent_page_count, bool encrypted) {
  RzvFileHeader h;
  std::copy(kRzvFileSignature.begin(), kRzvFileSignature.end(), h.signature.begin());
  h.page_size = page_size;
  h.extent_page_count = extent_page_count;
  h.encrypted = encrypted ? 0xFF : 0;
  return h;
}

void RzvFileHeader::Serialize(uint8_t (&out)[kSize]) const {
  std::memcpy(out, signature.data(), 16);
  StoreLE<uint16_t>(out + 16, header_size);
  StoreDoubleLE(out + 18, version);
  StoreLE<uint16_t>(out + 26, page_size);
  StoreLE<uint16_t>(out + 28, extent_page_count);
  StoreLE<int32_t>(out + 30, total_page_count);
  StoreLE<int32_t>(out + 34, last_used_page_no);
  StoreLE<int32_t>(out + 38, change_counter);
  out[42] = file_state;
  out[43] = encrypted;
  std::memcpy(out + 44, reserved.data(), reserved.size());
}

RzvFileHeader RzvFileHeader::Parse(const uint8_t (&in)[kSize]) {
  RzvFileHeader h;
  std::memcpy(h.signature.data(), in, 16);
  h.header_size = LoadLE<uint16_t>(in + 16);
  h.version = LoadDoubleLE(in + 18);
  h.page_size = LoadLE<uint16_t>(in + 26);
  h.extent_page_count = LoadLE<uint16_t>(in + 28);
  h.total_page_count = LoadLE<int32_t>(in + 30);
  h.last_used_page_no = LoadLE<int32_t>(in + 34);
  h.change_counter = LoadLE<int32_t>(in + 38);
  h.file_state = in[42];
  h.encrypted = in[43];
  std::memcpy(h.reserved.data(), in + 44, h.reserved.size());
  return h;
}

void RzvEncryptionHeader::Serialize(uint8_t (&out)[kSize]) const {
  StoreLE<uint16_t>(out, size);
  out[2] = crypto_algorithm;
  out[3] = reserved1;
  std::memcpy(out + 4, check_block.data(), check_block.size());
  StoreLE<uint32_t>(out + 260, check_crc);
  std::memcpy(out + 264, reserved2.data(), reserved2.size());
}

RzvEncryptionHeader RzvEncryptionHeader::Parse(const uint8_t (&in)[kSize]) {
  RzvEncryptionHeader h;
  h.size = LoadLE<uint16_t>(in);
  h.crypto_algorithm = in[2];
  h.reserved1 = in[3];
  std::memcpy(h.check_block.data(), in + 4, h.check_block.size());
  h.check_crc = LoadLE<uint32_t>(in + 260);
  std::memcpy(h.reserved2.data(), in + 264, h.reserved2.size());
  return h;
}

void RzvReservedHeader::Serialize(uint8_t (&out)[kSize]) const {
  StoreLE<uint16_t>(out, size);
  std::memcpy(out + 2, rest.data(), rest.size());
}

RzvReservedHeader RzvReservedHeader::Parse(const uint8_t (&in)[kSize]) {
  RzvReservedHeader h;
  h.size = LoadLE<uint16_t>(in);
  std::memcpy(h.rest.data(), in + 2, h.rest.size());
  return h;
}

}  // namespace rzv
