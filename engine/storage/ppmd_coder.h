// PPMd var.G compression of a whole buffer: the raw coder stream, without
// any header or parameter word, always closed by the end-of-data marker so
// that it decodes with Shkarin's tools as well. Each call owns its model, so
// calls may run concurrently; the model heap is kept per thread between
// calls of the same memory size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rzv {

// Appends the coded form of input to *out. order 2..16, mem_mb 1..256; false
// for parameters out of range or when the model heap cannot be allocated.
bool RzvPpmdEncode(const uint8_t* input, size_t size, int order, int mem_mb,
                   std::vector<uint8_t>* out);

// Decodes at most max_out bytes, stopping early at the end marker, and
// appends them to *out. False when the stream is corrupt or truncated (it
// never reads outside [input, input + size)), for bad parameters, or when the
// heap cannot be allocated; *out then holds whatever was decoded before.
bool RzvPpmdDecode(const uint8_t* input, size_t size, int order, int mem_mb, size_t max_out,
                   std::vector<uint8_t>* out);

}  // namespace rzv
