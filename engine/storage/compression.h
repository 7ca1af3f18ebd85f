// Compression of BLOB blocks and internal files: the algorithm ids and their
// names, the modes, and CompressBuffer / DecompressBuffer over zlib, bzip2
// and PPMd var.G.
//
// A PPM block is a little-endian uint32 parameter word, then the raw PPMd
// var.G stream: bits 0..3 hold order - 1, bits 4..11 memory in MB - 1 and
// bits 12..31 the variant, 6 (G counted from A = 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rzv {

inline constexpr uint8_t kRzvCompressionNone = 0;
inline constexpr uint8_t kRzvCompressionZlib = 1;
inline constexpr uint8_t kRzvCompressionBzip = 2;
inline constexpr uint8_t kRzvCompressionPpm = 3;

inline constexpr uint8_t kRzvMinCompressionMode = 1;
inline constexpr uint8_t kRzvMaxCompressionMode = 9;

// "NONE", "ZLIB", "BZIP", "PPM"; "" for an id above 3.
std::string_view RzvCompressionName(uint8_t comp_alg);
// Case-insensitive; a name not in the table gives 0 (NONE).
uint8_t RzvCompressionByName(std::string_view name);

// PPM model order and memory (MB) of a mode 1..9; 0 for other modes.
int RzvPpmOrder(uint8_t comp_mode);
int RzvPpmMemoryMB(uint8_t comp_mode);
// 0x6000 + (memory - 1) * 16 + (order - 1).
uint32_t RzvPpmParameterWord(int order, int memory_mb);

// Compresses in_size bytes at input into *output (replaced; its size is the
// OutSize). comp_mode is the zlib level, the bzip2 block size in 100 000
// bytes or the PPM mode, 1..9.
//
// Never throws. Returns false, with *output empty, for: comp_alg 0 or above
// 3, in_size 0, in_size above INT32_MAX, a mode outside 1..9, any library
// error (including running out of memory) and an empty result.
bool CompressBuffer(uint8_t comp_alg, uint8_t comp_mode, const void* input, size_t in_size,
                    std::vector<uint8_t>* output);

// Decompresses in_size bytes at input into *output (replaced). *out_size on
// entry is the expected size: ZLIB and BZIP use it only to size the first
// buffer and decode to the end of their stream; PPM decodes at most that many
// bytes, stopping early at the end marker. On success *out_size is the
// decoded count, which the caller compares with what it expects.
//
// Never throws and never reads outside [input, input + in_size). Returns
// false, with *output empty and *out_size unchanged, for: comp_alg 0 or
// above 3, in_size 0 or above INT32_MAX, corrupt or truncated data, a PPM
// parameter word whose variant is not 6 or whose order is 1, any library
// error (including running out of memory) and 0 decoded bytes.
bool DecompressBuffer(uint8_t comp_alg, const void* input, size_t in_size, size_t* out_size,
                      std::vector<uint8_t>* output);

}  // namespace rzv
