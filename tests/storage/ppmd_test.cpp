#include "engine/storage/ppmd_coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/ppmd_model.h"
#include "engine/storage/ppmd_range_coder.h"
#include "engine/storage/ppmd_sub_allocator.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::ReadAll;
using Bytes = std::vector<uint8_t>;

const std::filesystem::path kVectorDir = std::filesystem::path(RZV_TEST_DATA_DIR) / "ppmd/vectors";

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

struct Vector {
  int order;
  int mem_mb;
  std::string input;
  int restarts;
  std::string out_file;
};

std::vector<Vector> ReadManifest() {
  std::vector<Vector> vectors;
  std::ifstream f(kVectorDir / "MANIFEST.txt");
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Vector v;
    size_t in_size, out_size;
    std::string sha_in, sha_out;
    fields >> v.order >> v.mem_mb >> v.input >> in_size >> out_size >> v.restarts >> sha_in >>
        sha_out >> v.out_file;
    if (fields) vectors.push_back(v);
  }
  return vectors;
}

Bytes Encode(const Bytes& in, int order, int mem_mb) {
  Bytes out;
  EXPECT_TRUE(RzvPpmdEncode(in.data(), in.size(), order, mem_mb, &out));
  return out;
}

// Decodes to the end marker, and reports the bytes the decoder left unread.
struct FullDecode {
  bool ok = false;
  Bytes data;
  size_t unread = 0;
  int restarts = 0;
};

FullDecode DecodeWithModel(const Bytes& coded, int order, int mem_mb, size_t limit) {
  FullDecode r;
  RzvPpmdSubAllocator heap;
  heap.Resize(static_cast<uint32_t>(mem_mb));
  RzvPpmdModel model(&heap, order);
  RzvPpmdRangeDecoder rc(coded.data(), coded.size());
  while (r.data.size() < limit) {
    const int symbol = model.DecodeSymbol(&rc);
    if (symbol == RzvPpmdModel::kEndOfData) break;
    if (symbol < 0) return r;
    r.data.push_back(static_cast<uint8_t>(symbol));
  }
  r.ok = !rc.Overrun();
  r.unread = rc.Remaining();
  r.restarts = model.Restarts();
  return r;
}

// Text-like bytes from a small vocabulary with runs of noise, so that high
// orders keep finding new contexts and small heaps fill up.
Bytes SampleData(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the ",   "day ",  "log ",    "hours ",   "entry ",
                                       "group ", "note ", "week ",   "09:05am ", "category ",
                                       "\r\n",   "and ",  "report ", "Orvanel "};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    if (rng() % 16 == 0) {
      for (uint32_t n = rng() % 24; n > 0 && out.size() < size; --n) {
        out.push_back(static_cast<uint8_t>(rng()));
      }
    } else {
      for (const char* w = kWords[rng() % std::size(kWords)]; *w && out.size() < size; ++w) {
        out.push_back(static_cast<uint8_t>(*w));
      }
    }
  }
  return out;
}

class RzvPpmdVectorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kVectorDir / "MANIFEST.txt")) {
      GTEST_SKIP() << "no reference vectors in " << kVectorDir;
    }
  }
};

TEST_F(RzvPpmdVectorsTest, EveryVectorIsReproducedAndDecodedToTheEndMarker) {
  const std::vector<Vector> vectors = ReadManifest();
  ASSERT_GE(vectors.size(), 17u);
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.out_file);
    const Bytes in = ReadAll(kVectorDir / (v.input + ".in"));
    const Bytes expected = ReadAll(kVectorDir / v.out_file);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Encode(in, v.order, v.mem_mb), expected);

    // Read to the end marker the decoder consumes the stream exactly.
    const FullDecode full = DecodeWithModel(expected, v.order, v.mem_mb, SIZE_MAX);
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(full.data, in);
    EXPECT_EQ(full.unread, 0u);
    EXPECT_EQ(full.restarts, v.restarts);

    Bytes sized;
    EXPECT_TRUE(
        RzvPpmdDecode(expected.data(), expected.size(), v.order, v.mem_mb, in.size(), &sized));
    EXPECT_EQ(sized, in);
  }
}

TEST_F(RzvPpmdVectorsTest, EmptyInputGivesTheFiveByteStreams) {
  std::ifstream f(kVectorDir / "SMALL_HEX.txt");
  std::string line;
  int seen = 0;
  while (std::getline(f, line)) {
    int order, mem_mb;
    size_t size;
    char hex[64];
    if (std::sscanf(line.c_str(), "empty o=%d m=%d %zu %63s", &order, &mem_mb, &size, hex) != 4) {
      continue;
    }
    SCOPED_TRACE(line);
    const Bytes expected = FromHex(hex);
    ASSERT_EQ(expected.size(), size);
    EXPECT_EQ(Encode({}, order, mem_mb), expected);
    Bytes decoded;
    EXPECT_TRUE(RzvPpmdDecode(expected.data(), expected.size(), order, mem_mb, 100, &decoded));
    EXPECT_TRUE(decoded.empty());
    ++seen;
  }
  EXPECT_EQ(seen, 4);
}

TEST_F(RzvPpmdVectorsTest, DecoderGivenTheSizeLeavesTheEndMarkerUnread) {
  const Bytes in = ReadAll(kVectorDir / "abracadabra50.in");
  const Bytes coded = ReadAll(kVectorDir / "abracadabra50.o4m7.ppmdg");
  ASSERT_EQ(coded.size(), 30u);
  const FullDecode sized = DecodeWithModel(coded, 4, 7, in.size());
  EXPECT_TRUE(sized.ok);
  EXPECT_EQ(sized.data, in);
  EXPECT_EQ(sized.unread, 2u);

  // Without the two bytes of the end marker the size-limited decode still
  // succeeds; read to the marker, every cut stream is refused.
  Bytes out;
  EXPECT_TRUE(RzvPpmdDecode(coded.data(), 28, 4, 7, in.size(), &out));
  EXPECT_EQ(out, in);
  for (size_t cut = 0; cut < coded.size(); ++cut) {
    out.clear();
    EXPECT_FALSE(RzvPpmdDecode(coded.data(), cut, 4, 7, SIZE_MAX, &out)) << cut;
  }
}

TEST(RzvPpmdTest, RoundTripsAcrossSizesOrdersAndRestarts) {
  struct Case {
    size_t size;
    int order;
    int mem_mb;
  };
  // Order 16 in 1 MB restarts the model every few dozen kilobytes; the
  // largest case crosses several restarts at a low order.
  const Case cases[] = {{1, 2, 1},        {2, 16, 100},    {3, 4, 7},
                        {255, 3, 3},      {4096, 8, 25},   {65537, 2, 2},
                        {200000, 10, 40}, {300000, 16, 1}, {2 << 20, 4, 1}};
  uint32_t seed = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.size << " bytes, order " << c.order << ", " << c.mem_mb << " MB");
    const Bytes in = SampleData(c.size, seed++);
    const Bytes coded = Encode(in, c.order, c.mem_mb);
    Bytes sized;
    ASSERT_TRUE(RzvPpmdDecode(coded.data(), coded.size(), c.order, c.mem_mb, in.size(), &sized));
    EXPECT_TRUE(sized == in);
    if (c.order == 16 && c.mem_mb == 1) {
      const FullDecode full = DecodeWithModel(coded, c.order, c.mem_mb, SIZE_MAX);
      EXPECT_TRUE(full.data == in);
      EXPECT_EQ(full.unread, 0u);
      EXPECT_GT(full.restarts, 0);
    }
  }
}

TEST(RzvPpmdTest, ConcurrentCallsMatchSequentialOnes) {
  const Bytes a = SampleData(60000, 1);
  const Bytes b = SampleData(60000, 2);
  const Bytes coded_a = Encode(a, 16, 1);
  const Bytes coded_b = Encode(b, 6, 3);
  Bytes par_a, par_b, dec_a, dec_b;
  bool ok[4] = {};
  std::thread t1([&] {
    ok[0] = RzvPpmdEncode(a.data(), a.size(), 16, 1, &par_a);
    ok[1] = RzvPpmdDecode(coded_b.data(), coded_b.size(), 6, 3, b.size(), &dec_b);
  });
  std::thread t2([&] {
    ok[2] = RzvPpmdEncode(b.data(), b.size(), 6, 3, &par_b);
    ok[3] = RzvPpmdDecode(coded_a.data(), coded_a.size(), 16, 1, a.size(), &dec_a);
  });
  t1.join();
  t2.join();
  EXPECT_TRUE(ok[0] && ok[1] && ok[2] && ok[3]);
  EXPECT_TRUE(par_a == coded_a);
  EXPECT_TRUE(par_b == coded_b);
  EXPECT_TRUE(dec_a == a);
  EXPECT_TRUE(dec_b == b);
}

TEST(RzvPpmdTest, DamagedStreamsFailOrDecodeWithinBounds) {
  const Bytes in = SampleData(12000, 3);
  std::mt19937 rng(11);
  for (const auto& [order, mem_mb] : {std::pair{2, 1}, std::pair{16, 1}, std::pair{5, 2}}) {
    const Bytes coded = Encode(in, order, mem_mb);
    for (int trial = 0; trial < 30; ++trial) {
      Bytes bad = coded;
      if (trial % 3 == 0) {
        bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      } else if (trial % 3 == 1) {
        bad.resize(rng() % (bad.size() / 2));
      } else {
        for (uint8_t& byte : bad) byte = static_cast<uint8_t>(rng());
      }
      Bytes out;
      const bool ok = RzvPpmdDecode(bad.data(), bad.size(), order, mem_mb, in.size(), &out);
      EXPECT_LE(out.size(), in.size());
      // The second half of the data cannot come out of the first half of the
      // stream: the decoder runs out of bytes and says so.
      if (trial % 3 == 1) {
        EXPECT_FALSE(ok) << bad.size();
      }
    }
  }
}

TEST(RzvPpmdTest, RefusesOrdersAndMemorySizesOutsideTheModel) {
  const Bytes in = {1, 2, 3};
  Bytes out;
  for (const auto& [order, mem_mb] :
       {std::pair{1, 2}, std::pair{17, 2}, std::pair{0, 2}, std::pair{4, 0}, std::pair{4, 257}}) {
    EXPECT_FALSE(RzvPpmdEncode(in.data(), in.size(), order, mem_mb, &out))
        << order << "/" << mem_mb;
    EXPECT_FALSE(RzvPpmdDecode(in.data(), in.size(), order, mem_mb, 10, &out));
  }
  EXPECT_TRUE(RzvPpmdEncode(in.data(), in.size(), 16, 256, &out));
}

}  // namespace
}  // namespace rzv
