// The storage layer's CRC-32: the reflected table of polynomial 0xEDB88320,
// started at 0 and never inverted. It differs from the common zlib CRC-32
// ("abc" gives 0xCA6598D0) and is part of the file format: page DataCrc,
// CheckCrc of the password check block and compressed block checksums.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rzv {

// Continues a running CRC over size bytes; start with crc = 0.
uint32_t RzvCrc32(const void* data, size_t size, uint32_t crc = 0);

}  // namespace rzv
