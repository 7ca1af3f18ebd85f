// The x87 80-bit EXTENDED encoding, converted to and from double on any host
// without relying on long double. Bytes 0..7: the 64-bit significand with an
// explicit integer bit (bit 63); bytes 8..9: sign (bit 15) and a 15-bit
// exponent biased by 16383. Little-endian, 10 bytes.
#pragma once

#include <cstdint>

namespace rzv {

inline constexpr int kRzvExtendedSize = 10;

// Exact: every double has an EXTENDED of the same value (NaN payloads keep
// their top 52 bits and the quiet bit).
void RzvDoubleToExtended(double value, uint8_t* out);

// Rounds to nearest, ties to even. Values beyond the double range become
// infinities, tiny values denormals or zero. Encodings the x87 itself rejects
// (unnormals, pseudo-infinities, pseudo-NaNs) become a quiet NaN;
// pseudo-denormals are read by their value.
double RzvExtendedToDouble(const uint8_t* in);

}  // namespace rzv
