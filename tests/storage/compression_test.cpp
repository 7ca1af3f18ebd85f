#include "engine/storage/compression.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/byte_order.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::ReadAll;
using Bytes = std::vector<uint8_t>;

const std::filesystem::path kVectorDir = std::filesystem::path(RZV_TEST_DATA_DIR) / "ppmd/vectors";

// Day-log text with a binary tail: compressible, yet every byte value occurs.
Bytes Sample() {
  Bytes out;
  for (int i = 0; out.size() < 40000; ++i) {
    const std::string line = "2007-03-" + std::to_string(10 + i % 20) +
                             " 09:05am-11:" + std::to_string(10 + i % 50) + "am Group " +
                             std::to_string(i % 7) + " meeting notes\r\n";
    out.insert(out.end(), line.begin(), line.end());
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 3000; ++i) out.push_back(static_cast<uint8_t>(rng()));
  return out;
}

struct Method {
  uint8_t alg;
  uint8_t mode;
};

const Method kMethods[] = {{kRzvCompressionZlib, 1}, {kRzvCompressionZlib, 6},
                           {kRzvCompressionZlib, 9}, {kRzvCompressionBzip, 1},
                           {kRzvCompressionBzip, 9}, {kRzvCompressionPpm, 1},
                           {kRzvCompressionPpm, 5},  {kRzvCompressionPpm, 9}};

TEST(RzvCompressionTest, RoundTripsEveryAlgorithmAtSeveralModes) {
  const Bytes in = Sample();
  const Bytes one_byte = {0x42};
  for (const Method& m : kMethods) {
    SCOPED_TRACE(::testing::Message() << RzvCompressionName(m.alg) << " mode " << int{m.mode});
    for (const Bytes* data : {&in, &one_byte}) {
      Bytes packed;
      ASSERT_TRUE(CompressBuffer(m.alg, m.mode, data->data(), data->size(), &packed));
      if (data == &in) {
        EXPECT_LT(packed.size(), in.size() / 3);
      }
      size_t out_size = data->size();
      Bytes unpacked;
      ASSERT_TRUE(DecompressBuffer(m.alg, packed.data(), packed.size(), &out_size, &unpacked));
      EXPECT_EQ(out_size, data->size());
      EXPECT_TRUE(unpacked == *data);
    }
  }
}

TEST(RzvCompressionTest, ZlibAndBzipDecodeToTheirStreamEndWhateverTheExpectedSize) {
  const Bytes in = Sample();
  for (uint8_t alg : {kRzvCompressionZlib, kRzvCompressionBzip}) {
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(alg, 6, in.data(), in.size(), &packed));
    // Too small, unknown and too large expectations all grow or trim the
    // buffer to the real size.
    for (size_t expected : {size_t{1}, size_t{0}, in.size() + 5000}) {
      size_t out_size = expected;
      Bytes unpacked;
      ASSERT_TRUE(DecompressBuffer(alg, packed.data(), packed.size(), &out_size, &unpacked))
          << int{alg} << " " << expected;
      EXPECT_EQ(out_size, in.size());
      EXPECT_TRUE(unpacked == in);
    }
  }
}

TEST(RzvCompressionTest, PpmStopsAtTheExpectedSizeOrAtTheEndMarker) {
  const Bytes in = Sample();
  Bytes packed;
  ASSERT_TRUE(CompressBuffer(kRzvCompressionPpm, 3, in.data(), in.size(), &packed));
  size_t out_size = 1000;
  Bytes unpacked;
  ASSERT_TRUE(
      DecompressBuffer(kRzvCompressionPpm, packed.data(), packed.size(), &out_size, &unpacked));
  EXPECT_EQ(out_size, 1000u);
  EXPECT_TRUE(std::equal(unpacked.begin(), unpacked.end(), in.begin()));
  out_size = in.size() + 1000;
  ASSERT_TRUE(
      DecompressBuffer(kRzvCompressionPpm, packed.data(), packed.size(), &out_size, &unpacked));
  EXPECT_EQ(out_size, in.size());
  EXPECT_TRUE(unpacked == in);
}

TEST(RzvCompressionTest, PpmBlockIsTheParameterWordAndTheRawCoderStream) {
  struct Mode {
    uint8_t mode;
    int order;
    int memory;
  };
  const Mode modes[] = {{1, 2, 2},  {2, 3, 3},   {3, 4, 7},    {4, 5, 16},  {5, 7, 22},
                        {6, 8, 25}, {7, 10, 40}, {8, 13, 100}, {9, 16, 100}};
  const Bytes in = {'a', 'b', 'c'};
  for (const Mode& m : modes) {
    EXPECT_EQ(RzvPpmOrder(m.mode), m.order);
    EXPECT_EQ(RzvPpmMemoryMB(m.mode), m.memory);
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(kRzvCompressionPpm, m.mode, in.data(), in.size(), &packed));
    EXPECT_EQ(LoadLE<uint32_t>(packed.data()),
              0x6000u + static_cast<uint32_t>(m.memory - 1) * 16 + (m.order - 1))
        << int{m.mode};
  }
  EXPECT_EQ(RzvPpmParameterWord(16, 100), 0x663Fu);
  EXPECT_EQ(RzvPpmParameterWord(2, 2), 0x6011u);

  // Modes 1 and 9 are orders 2 and 16 with 2 and 100 MB: the reference
  // streams follow the word byte for byte.
  const Bytes text = ReadAll(kVectorDir / "english100k.in");
  if (text.empty()) GTEST_SKIP() << "no reference vectors in " << kVectorDir;
  for (const auto& [mode, file] : {std::pair{uint8_t{1}, "english100k.o2m2.ppmdg"},
                                   std::pair{uint8_t{9}, "english100k.o16m100.ppmdg"}}) {
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(kRzvCompressionPpm, mode, text.data(), text.size(), &packed));
    EXPECT_TRUE(Bytes(packed.begin() + 4, packed.end()) == ReadAll(kVectorDir / file)) << file;
  }
}

TEST(RzvCompressionTest, NamesAndCaseInsensitiveLookup) {
  EXPECT_EQ(RzvCompressionName(0), "NONE");
  EXPECT_EQ(RzvCompressionName(1), "ZLIB");
  EXPECT_EQ(RzvCompressionName(2), "BZIP");
  EXPECT_EQ(RzvCompressionName(3), "PPM");
  EXPECT_EQ(RzvCompressionName(4), "");
  const std::pair<const char*, uint8_t> lookups[] = {
      {"NONE", 0}, {"zlib", 1}, {"ZLib", 1}, {"bzip", 2}, {"BZIP", 2}, {"ppm", 3},
      {"PPM", 3},  {"PPMD", 0}, {"ZIP", 0},  {"", 0},     {" PPM", 0}, {"bzip2", 0}};
  for (const auto& [name, id] : lookups) EXPECT_EQ(RzvCompressionByName(name), id) << name;
}

TEST(RzvCompressionTest, RefusesPpmWordsOfOtherVariantsOrOrderOne) {
  const Bytes in = Sample();
  Bytes packed;
  ASSERT_TRUE(CompressBuffer(kRzvCompressionPpm, 2, in.data(), in.size(), &packed));
  const uint32_t good = LoadLE<uint32_t>(packed.data());
  const uint32_t bad_words[] = {good - 0x1000, good + 0x1000, good | 0x10000000u,
                                good | 0x80000000u, good & ~0xFu};  // last: order 1
  for (uint32_t word : bad_words) {
    Bytes bad = packed;
    StoreLE<uint32_t>(bad.data(), word);
    size_t out_size = in.size();
    Bytes out = {1, 2, 3};
    EXPECT_FALSE(DecompressBuffer(kRzvCompressionPpm, bad.data(), bad.size(), &out_size, &out))
        << std::hex << word;
    EXPECT_EQ(out_size, in.size());
    EXPECT_TRUE(out.empty());
  }
}

TEST(RzvCompressionTest, DamagedDataFailsCleanly) {
  const Bytes in = Sample();
  for (uint8_t alg : {kRzvCompressionZlib, kRzvCompressionBzip, kRzvCompressionPpm}) {
    SCOPED_TRACE(RzvCompressionName(alg));
    Bytes packed;
    ASSERT_TRUE(CompressBuffer(alg, 4, in.data(), in.size(), &packed));
    for (size_t cut : {size_t{1}, size_t{4}, size_t{5}, packed.size() / 2, packed.size() - 1}) {
      // PPM given the size needs no end marker, so only its early cuts fail.
      if (alg == kRzvCompressionPpm && cut == packed.size() - 1) continue;
      size_t out_size = in.size();
      Bytes out;
      EXPECT_FALSE(DecompressBuffer(alg, packed.data(), cut, &out_size, &out)) << cut;
      EXPECT_TRUE(out.empty());
    }
    // zlib and bzip2 check their own checksums; a PPM stream has none, so a
    // flipped byte may decode to other bytes, but never beyond the size.
    std::mt19937 rng(alg);
    for (int trial = 0; trial < 20; ++trial) {
      Bytes bad = packed;
      const size_t at = 4 + rng() % (bad.size() - 4);
      bad[at] ^= static_cast<uint8_t>(1 + rng() % 255);
      size_t out_size = in.size();
      Bytes out;
      const bool ok = DecompressBuffer(alg, bad.data(), bad.size(), &out_size, &out);
      if (alg == kRzvCompressionPpm) {
        EXPECT_LE(out.size(), in.size());
      } else if (ok) {
        EXPECT_TRUE(out == in) << at;  // only a flip in the final padding bits goes unseen
      }
    }
    Bytes garbage(500);
    for (uint8_t& b : garbage) b = static_cast<uint8_t>(rng());
    garbage[0] = packed[0];
    garbage[1] = packed[1];
    size_t out_size = in.size();
    Bytes out;
    if (alg != kRzvCompressionPpm) {
      EXPECT_FALSE(DecompressBuffer(alg, garbage.data(), garbage.size(), &out_size, &out));
    }
  }
}

TEST(RzvCompressionTest, NoAlgorithmEmptyInputAndBadModesFail) {
  const Bytes in = Sample();
  Bytes out = {9};
  size_t out_size = 10;
  for (uint8_t alg : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{3}, uint8_t{4}}) {
    EXPECT_FALSE(CompressBuffer(alg, 5, in.data(), 0, &out)) << int{alg};
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(DecompressBuffer(alg, in.data(), 0, &out_size, &out)) << int{alg};
    EXPECT_EQ(out_size, 10u);
  }
  EXPECT_FALSE(CompressBuffer(kRzvCompressionNone, 5, in.data(), in.size(), &out));
  EXPECT_FALSE(CompressBuffer(4, 5, in.data(), in.size(), &out));
  EXPECT_FALSE(DecompressBuffer(kRzvCompressionNone, in.data(), in.size(), &out_size, &out));
  for (uint8_t alg : {kRzvCompressionZlib, kRzvCompressionBzip, kRzvCompressionPpm}) {
    for (uint8_t mode : {uint8_t{0}, uint8_t{10}, uint8_t{255}}) {
      EXPECT_FALSE(CompressBuffer(alg, mode, in.data(), in.size(), &out))
          << int{alg} << "/" << int{mode};
    }
  }
  // A PPM block decodes into exactly the expected size: none expected, none
  // decoded, and that is a failure.
  Bytes packed;
  ASSERT_TRUE(CompressBuffer(kRzvCompressionPpm, 1, in.data(), in.size(), &packed));
  out_size = 0;
  EXPECT_FALSE(DecompressBuffer(kRzvCompressionPpm, packed.data(), packed.size(), &out_size, &out));
}

}  // namespace
}  // namespace rzv
