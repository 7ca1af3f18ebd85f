#include "engine/storage/crc32.h"

#include <gtest/gtest.h>

#include <vector>

namespace rzv {
namespace {

uint32_t BytewiseCrc(const unsigned char* p, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = (crc ^ p[i]) & 0xFF;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    crc = c ^ (crc >> 8);
  }
  return crc;
}

TEST(RzvCrc32Test, StartsAtZeroWithoutFinalInversion) {
  EXPECT_EQ(RzvCrc32("abc", 3), 0xCA6598D0u);
  EXPECT_EQ(RzvCrc32("", 0), 0u);
}

TEST(RzvCrc32Test, SlicedLoopMatchesTheBytewiseDefinitionAtEveryLength) {
  std::vector<unsigned char> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 131 + 7);
  for (size_t n = 0; n <= data.size(); ++n) {
    ASSERT_EQ(RzvCrc32(data.data(), n), BytewiseCrc(data.data(), n)) << n;
  }
  // Running over two pieces gives the CRC of the whole.
  EXPECT_EQ(RzvCrc32(data.data() + 100, 200, RzvCrc32(data.data(), 100)),
            RzvCrc32(data.data(), 300));
}

}  // namespace
}  // namespace rzv
