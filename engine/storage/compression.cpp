#include "engine/storage/compression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <new>

#include "engine/storage/byte_order.h"
#include "engine/storage/ppmd_coder.h"

namespace rzv {

namespace {

constexpr std::array<std::string_view, 4> kNames = {"NONE", "ZLIB", "BZIP", "PPM"};

// Indexed by mode - 1.
constexpr int kPpmOrders[9] = {2, 3, 4, 5, 7, 8, 10, 13, 16};
constexpr int kPpmMemoryMB[9] = {2, 3, 7, 16, 22, 25, 40, 100, 100};

constexpr uint32_t kPpmVariantG = 6;
constexpr size_t kPpmWordSize = 4;
constexpr size_t kMaxInSize = INT32_MAX;
// The expected size of a decompression sizes its first buffer only up to
// here, so a wrong expectation cannot demand a huge block up front; the
// buffer still grows as the data needs.
constexpr size_t kMaxInitialOutput = size_t{16} << 20;

size_t RoundUp256(size_t n) {
  return (n + 255) & ~size_t{255};
}

bool ValidMode(uint8_t comp_mode) {
  return comp_mode >= kRzvMinCompressionMode && comp_mode <= kRzvMaxCompressionMode;
}

// Output buffer for compression: about 10% plus 12 bytes, rounded up to a
// multiple of 256; it grows by 256 bytes whenever it is full.
size_t CompressBufferSize(size_t in_size) {
  return (in_size + in_size / 10 + 267) & ~size_t{255};
}

bool ZlibCompress(int level, const uint8_t* input, size_t in_size, std::vector<uint8_t>* out) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(CompressBufferSize(in_size));
  zs.next_in = const_cast<Bytef*>(input);
  zs.avail_in = static_cast<uInt>(in_size);
  size_t done = 0;
  int ret = Z_OK;
  try {
    for (;;) {
      if (done == out->size()) out->resize(out->size() + 256);
      zs.next_out = out->data() + done;
      zs.avail_out = static_cast<uInt>(out->size() - done);
      ret = deflate(&zs, Z_FINISH);
      done = out->size() - zs.avail_out;
      // Z_OK asks to be called again; Z_BUF_ERROR only means "no room",
      // which the next pass provides.
      if (ret != Z_OK && !(ret == Z_BUF_ERROR && zs.avail_out == 0)) break;
    }
  } catch (const std::bad_alloc&) {
    ret = Z_MEM_ERROR;
  }
  deflateEnd(&zs);
  if (ret != Z_STREAM_END) return false;
  out->resize(done);
  out->shrink_to_fit();
  return true;
}

bool BzipCompress(int block_size_100k, const uint8_t* input, size_t in_size,
                  std::vector<uint8_t>* out) {
  bz_stream bs{};
  if (BZ2_bzCompressInit(&bs, block_size_100k, 0, 0) != BZ_OK) return false;
  out->resize(CompressBufferSize(in_size));
  bs.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
  bs.avail_in = static_cast<unsigned>(in_size);
  size_t done = 0;
  int ret = BZ_OK;
  try {
    for (;;) {
      if (done == out->size()) out->resize(out->size() + 256);
      bs.next_out = reinterpret_cast<char*>(out->data() + done);
      bs.avail_out = static_cast<unsigned>(out->size() - done);
      ret = BZ2_bzCompress(&bs, BZ_FINISH);
      done = out->size() - bs.avail_out;
      if (ret != BZ_FINISH_OK) break;
    }
  } catch (const std::bad_alloc&) {
    ret = BZ_MEM_ERROR;
  }
  BZ2_bzCompressEnd(&bs);
  if (ret != BZ_STREAM_END) return false;
  out->resize(done);
  out->shrink_to_fit();
  return true;
}

bool PpmCompress(uint8_t comp_mode, const uint8_t* input, size_t in_size,
                 std::vector<uint8_t>* out) {
  const int order = RzvPpmOrder(comp_mode);
  const int memory = RzvPpmMemoryMB(comp_mode);
  // The usual worst case; incompressible data may need more and simply
  // grows the vector.
  out->reserve(in_size + in_size / 20 + 50);
  out->resize(kPpmWordSize);
  StoreLE<uint32_t>(out->data(), RzvPpmParameterWord(order, memory));
  return RzvPpmdEncode(input, in_size, order, memory, out);
}

bool ZlibDecompress(const uint8_t* input, size_t in_size, size_t expected,
                    std::vector<uint8_t>* out) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  const size_t step = RoundUp256(in_size);
  out->resize(expected >= 1 && expected <= 10000 ? expected : step);
  zs.next_in = const_cast<Bytef*>(input);
  zs.avail_in = static_cast<uInt>(in_size);
  size_t done = 0;
  int ret = Z_OK;
  try {
    for (;;) {
      if (done == out->size()) out->resize(out->size() + step);
      zs.next_out = out->data() + done;
      zs.avail_out = static_cast<uInt>(std::min<size_t>(out->size() - done, UINT_MAX));
      const uInt before = zs.avail_out;
      ret = inflate(&zs, Z_NO_FLUSH);
      done += before - zs.avail_out;
      if (ret == Z_STREAM_END) break;
      if (ret != Z_OK && ret != Z_BUF_ERROR) break;
      // The output has room left and the input is used up: the stream was
      // cut short.
      if (zs.avail_out != 0 && zs.avail_in == 0) {
        ret = Z_DATA_ERROR;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    ret = Z_MEM_ERROR;
  }
  inflateEnd(&zs);
  if (ret != Z_STREAM_END) return false;
  out->resize(done);
  return true;
}

bool BzipDecompress(const uint8_t* input, size_t in_size, size_t expected,
                    std::vector<uint8_t>* out) {
  bz_stream bs{};
  if (BZ2_bzDecompressInit(&bs, 0, 0) != BZ_OK) return false;
  const size_t step = RoundUp256(in_size);
  out->resize(expected != 0 ? std::min(expected, kMaxInitialOutput) : step);
  bs.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
  bs.avail_in = static_cast<unsigned>(in_size);
  size_t done = 0;
  int ret = BZ_OK;
  try {
    for (;;) {
      if (done == out->size()) out->resize(out->size() + step);
      bs.next_out = reinterpret_cast<char*>(out->data() + done);
      bs.avail_out = static_cast<unsigned>(std::min<size_t>(out->size() - done, UINT_MAX));
      const unsigned before = bs.avail_out;
      ret = BZ2_bzDecompress(&bs);
      done += before - bs.avail_out;
      if (ret != BZ_OK) break;
      if (bs.avail_out != 0 && bs.avail_in == 0) {
        ret = BZ_UNEXPECTED_EOF;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    ret = BZ_MEM_ERROR;
  }
  BZ2_bzDecompressEnd(&bs);
  if (ret != BZ_STREAM_END) return false;
  out->resize(done);
  return true;
}

bool PpmDecompress(const uint8_t* input, size_t in_size, size_t expected,
                   std::vector<uint8_t>* out) {
  if (in_size < kPpmWordSize) return false;
  const uint32_t word = LoadLE<uint32_t>(input);
  if ((word >> 12) != kPpmVariantG) return false;
  const int order = static_cast<int>(word & 0xF) + 1;
  const int memory = static_cast<int>((word >> 4) & 0xFF) + 1;
  out->reserve(std::min(expected, kMaxInitialOutput));
  return RzvPpmdDecode(input + kPpmWordSize, in_size - kPpmWordSize, order, memory, expected, out);
}

}  // namespace

std::string_view RzvCompressionName(uint8_t comp_alg) {
  return comp_alg < kNames.size() ? kNames[comp_alg] : std::string_view();
}

uint8_t RzvCompressionByName(std::string_view name) {
  for (size_t id = 0; id < kNames.size(); ++id) {
    const std::string_view known = kNames[id];
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return a == (b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A') : b);
        })) {
      return static_cast<uint8_t>(id);
    }
  }
  return kRzvCompressionNone;
}

int RzvPpmOrder(uint8_t comp_mode) {
  return ValidMode(comp_mode) ? kPpmOrders[comp_mode - 1] : 0;
}

int RzvPpmMemoryMB(uint8_t comp_mode) {
  return ValidMode(comp_mode) ? kPpmMemoryMB[comp_mode - 1] : 0;
}

uint32_t RzvPpmParameterWord(int order, int memory_mb) {
  return (kPpmVariantG << 12) + static_cast<uint32_t>(memory_mb - 1) * 16 +
         static_cast<uint32_t>(order - 1);
}

bool CompressBuffer(uint8_t comp_alg, uint8_t comp_mode, const void* input, size_t in_size,
                    std::vector<uint8_t>* output) {
  output->clear();
  if (comp_alg == kRzvCompressionNone || comp_alg > kRzvCompressionPpm) return false;
  if (in_size == 0 || in_size > kMaxInSize || input == nullptr || !ValidMode(comp_mode)) {
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(input);
  bool ok = false;
  try {
    switch (comp_alg) {
      case kRzvCompressionZlib:
        ok = ZlibCompress(comp_mode, in, in_size, output);
        break;
      case kRzvCompressionBzip:
        ok = BzipCompress(comp_mode, in, in_size, output);
        break;
      default:
        ok = PpmCompress(comp_mode, in, in_size, output);
        break;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok || output->empty()) {
    output->clear();
    output->shrink_to_fit();
    return false;
  }
  return true;
}

bool DecompressBuffer(uint8_t comp_alg, const void* input, size_t in_size, size_t* out_size,
                      std::vector<uint8_t>* output) {
  output->clear();
  if (comp_alg == kRzvCompressionNone || comp_alg > kRzvCompressionPpm) return false;
  if (in_size == 0 || in_size > kMaxInSize || input == nullptr) return false;
  const auto* in = static_cast<const uint8_t*>(input);
  bool ok = false;
  try {
    switch (comp_alg) {
      case kRzvCompressionZlib:
        ok = ZlibDecompress(in, in_size, *out_size, output);
        break;
      case kRzvCompressionBzip:
        ok = BzipDecompress(in, in_size, *out_size, output);
        break;
      default:
        ok = PpmDecompress(in, in_size, *out_size, output);
        break;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok || output->empty()) {
    output->clear();
    output->shrink_to_fit();
    return false;
  }
  *out_size = output->size();
  return true;
}

}  // namespace rzv
