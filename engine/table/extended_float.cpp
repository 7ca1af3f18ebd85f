#include "engine/table/extended_float.h"

#include <bit>

#include "engine/storage/byte_order.h"

namespace rzv {

namespace {

constexpr uint64_t kIntegerBit = uint64_t{1} << 63;
constexpr uint64_t kDoubleFraction = (uint64_t{1} << 52) - 1;
constexpr uint64_t kDoubleQuietBit = uint64_t{1} << 51;
constexpr uint64_t kDoubleQuietNaN = uint64_t{0x7FF8'0000'0000'0000};
constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;

void Store(uint8_t* out, bool negative, int exponent, uint64_t significand) {
  StoreLE<uint64_t>(out, significand);
  StoreLE<uint16_t>(out + 8, static_cast<uint16_t>((negative ? 0x8000 : 0) | exponent));
}

// Shifts m right by shift bits (1..64), rounding to nearest, ties to even.
uint64_t ShiftRound(uint64_t m, int shift) {
  if (shift > 64) return 0;
  const uint64_t kept = shift == 64 ? 0 : m >> shift;
  const uint64_t rest = shift == 64 ? m : m & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (kept & 1))) return kept + 1;
  return kept;
}

}  // namespace

void RzvDoubleToExtended(double value, uint8_t* out) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & kDoubleFraction;
  if (exponent == 0x7FF) {
    // Infinity keeps a bare integer bit; a NaN keeps its payload.
    Store(out, negative, 0x7FFF, kIntegerBit | (fraction << 11));
    return;
  }
  if (exponent == 0) {
    if (fraction == 0) {
      Store(out, negative, 0, 0);
      return;
    }
    // Denormal double: value = fraction * 2^-1074; normalise so that the top
    // set bit lands on the integer bit.
    const int lz = std::countl_zero(fraction);
    Store(out, negative, 63 - 1074 - lz + kExtendedBias, fraction << lz);
    return;
  }
  Store(out, negative, exponent - kDoubleBias + kExtendedBias, kIntegerBit | (fraction << 11));
}

double RzvExtendedToDouble(const uint8_t* in) {
  uint64_t m = LoadLE<uint64_t>(in);
  const uint16_t se = LoadLE<uint16_t>(in + 8);
  const uint64_t sign = static_cast<uint64_t>(se >> 15) << 63;
  const int exponent = se & 0x7FFF;

  if (exponent == 0x7FFF) {
    if (!(m & kIntegerBit)) return std::bit_cast<double>(sign | kDoubleQuietNaN);
    if ((m << 1) == 0) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52) | kDoubleQuietBit |
                                 ((m >> 11) & kDoubleFraction));
  }
  if (m == 0) {
    // Zero, or an unnormal zero (integer bit clear with a non-zero exponent).
    return std::bit_cast<double>(exponent == 0 ? sign : sign | kDoubleQuietNaN);
  }
  if (exponent != 0 && !(m & kIntegerBit)) return std::bit_cast<double>(sign | kDoubleQuietNaN);

  // value = m * 2^(e - 16383 - 63), with e = 1 for denormals.
  int e = exponent == 0 ? 1 : exponent;
  const int lz = std::countl_zero(m);
  m <<= lz;
  e -= lz;
  int unbiased = e - kExtendedBias;  // value = (m / 2^63) * 2^unbiased

  if (unbiased > kDoubleBias) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
  if (unbiased >= 1 - kDoubleBias) {
    uint64_t significand = ShiftRound(m, 11);
    if (significand >> 53) {
      significand >>= 1;
      ++unbiased;
      if (unbiased > kDoubleBias) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    }
    return std::bit_cast<double>(sign | (static_cast<uint64_t>(unbiased + kDoubleBias) << 52) |
                                 (significand & kDoubleFraction));
  }
  // Denormal result: the significand is m shifted so that 2^-1074 is its unit.
  // A carry into bit 52 yields the smallest normal number, which the plain
  // bit pattern already encodes.
  const int shift = 11 + (1 - kDoubleBias - unbiased);
  return std::bit_cast<double>(sign | ShiftRound(m, shift));
}

}  // namespace rzv
