// Little-endian loads and stores for the file formats. Every multi-byte value
// in a database file is little-endian, whatever the host.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace rzv {

template <typename T>
  requires std::is_arithmetic_v<T>
inline T LoadLE(const void* src) {
  T v;
  std::memcpy(&v, src, sizeof v);
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&v);
    for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  return v;
}

template <typename T>
  requires std::is_arithmetic_v<T>
inline void StoreLE(void* dst, T v) {
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&v);
    for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  std::memcpy(dst, &v, sizeof v);
}

}  // namespace rzv
