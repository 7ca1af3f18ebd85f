#include "engine/storage/internal_db_transacted_access_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/memory_page_manager.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

constexpr RzvPageType kType = RzvPageType::kTableMetaData;
constexpr int32_t kDataSize = 256 - kPageHeaderSize;  // 216

std::vector<uint8_t> Content(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 13) & 0xFF);
  return v;
}

// Page numbers of a chain as committed on "disk".
std::vector<int32_t> DiskChain(MemoryPageManager& pm, int32_t start) {
  std::vector<int32_t> chain;
  for (int32_t no = start; no >= 0 && chain.size() < 100;) {
    chain.push_back(no);
    no = RzvPageHeader(pm.disk.at(no).data()).NextPageNo();
  }
  return chain;
}

TEST(RzvInternalDBTransactedAccessFileTest, ContentRoundTripsWithAndWithoutCompression) {
  struct Case {
    size_t size;
    uint8_t alg, mode;
  } cases[] = {
      {0, 0, 0}, {1, 0, 0},   {kDataSize - 10, 0, 0}, {kDataSize - 9, 0, 0}, {700, 0, 0},
      {0, 1, 6}, {700, 1, 6}, {3000, 2, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "size " << c.size << " alg " << int{c.alg});
    MemoryPageManager pm;
    RzvInternalDBTransactedAccessFile file(pm, kType);
    int32_t start = file.Create(1);
    std::vector<uint8_t> content = Content(c.size);
    file.WriteFile(1, content, c.alg, c.mode);
    pm.ApplyChanges(1);

    RzvInternalDBTransactedAccessFile reopened(pm, kType);
    reopened.Open(start);
    EXPECT_EQ(reopened.ReadFile(2), content);
    EXPECT_EQ(reopened.FileSize(2), static_cast<int32_t>(c.size));
    const uint8_t* header = pm.disk.at(start).data() + kPageHeaderSize;
    EXPECT_EQ(header[0], 10);
    EXPECT_EQ(LoadLE<int32_t>(header + 5), static_cast<int32_t>(c.size));
    int32_t stored = LoadLE<int32_t>(header + 1);
    EXPECT_EQ(header[9], c.size == 0 ? 0 : c.alg) << "empty content is stored plain";
    if (c.alg == 0 || c.size == 0) {
      EXPECT_EQ(stored, static_cast<int32_t>(c.size));
    }
    if (c.alg == 0 && c.size > 0) {
      EXPECT_EQ(0,
                std::memcmp(header + 10, content.data(), std::min<size_t>(c.size, kDataSize - 10)));
    }
    EXPECT_EQ(DiskChain(pm, start).size(),
              static_cast<size_t>((stored + 10 + kDataSize - 1) / kDataSize));
  }
}

TEST(RzvInternalDBTransactedAccessFileTest, ChainGrowsAndReleasesPagesCutOffTheEnd) {
  MemoryPageManager pm;
  RzvInternalDBTransactedAccessFile file(pm, kType);
  int32_t start = file.Create(0);
  file.WriteFile(0, Content(100));
  pm.ApplyChanges(0);
  file.WriteFile(0, Content(1000));  // 5 pages
  pm.ApplyChanges(0);
  std::vector<int32_t> long_chain = DiskChain(pm, start);
  ASSERT_EQ(long_chain.size(), 5u);

  file.WriteFile(0, Content(300));  // 2 pages
  pm.ApplyChanges(0);
  EXPECT_EQ(DiskChain(pm, start), (std::vector<int32_t>{long_chain[0], long_chain[1]}));
  EXPECT_EQ(pm.freed, (std::vector<int32_t>{long_chain[2], long_chain[3], long_chain[4]}));
  EXPECT_EQ(file.ReadFile(0), Content(300));
  // The unused end of the last page holds no old content.
  const uint8_t* last = pm.disk.at(long_chain[1]).data() + kPageHeaderSize;
  for (int32_t i = 300 + 10 - kDataSize; i < kDataSize; ++i) ASSERT_EQ(last[i], 0) << i;
}

TEST(RzvInternalDBTransactedAccessFileTest, ChainLoopingBackIsRewrittenWithoutLosingItsOwnPages) {
  // A damaged chain whose last page links back to its first: a rewrite that
  // shrinks it must not release pages it keeps, one that grows it must not
  // write over pages it already filled.
  for (size_t new_size : {size_t{300}, size_t{1000}}) {
    SCOPED_TRACE(new_size);
    MemoryPageManager pm;
    RzvInternalDBTransactedAccessFile file(pm, kType);
    const int32_t start = file.Create(0);
    file.WriteFile(0, Content(new_size == 300 ? 1000 : 300));
    pm.ApplyChanges(0);
    const std::vector<int32_t> old_chain = DiskChain(pm, start);
    RzvPage* last = pm.GetPage(0, old_chain.back(), false, kAnyPageType);
    last->Header().SetNextPageNo(start);
    last->SetDirty(true);
    pm.PutPage(last);
    pm.ApplyChanges(0);

    file.WriteFile(0, Content(new_size));
    pm.ApplyChanges(0);
    EXPECT_EQ(file.ReadFile(1), Content(new_size));
    const std::vector<int32_t> chain = DiskChain(pm, start);
    EXPECT_EQ(chain.size(), static_cast<size_t>((new_size + 10 + kDataSize - 1) / kDataSize));
    for (int32_t no : chain) {
      EXPECT_EQ(std::count(pm.freed.begin(), pm.freed.end(), no), 0) << no;
    }
  }
}

TEST(RzvInternalDBTransactedAccessFileTest, UncommittedWritesAreCancelled) {
  MemoryPageManager pm;
  RzvInternalDBTransactedAccessFile file(pm, kType);
  file.Create(0);
  file.WriteFile(0, Content(50));
  pm.ApplyChanges(0);
  file.WriteFile(0, Content(900));
  EXPECT_EQ(file.ReadFile(0), Content(900)) << "the session sees its own change";
  EXPECT_EQ(file.ReadFile(1), Content(50)) << "other sessions do not";
  pm.CancelChanges(0);
  EXPECT_EQ(file.ReadFile(0), Content(50));
  EXPECT_EQ(pm.freed.size(), 4u) << "pages added for the cancelled write are freed";
}

TEST(RzvInternalDBTransactedAccessFileTest, Errors) {
  MemoryPageManager pm;
  RzvInternalDBTransactedAccessFile file(pm, kType);
  ExpectError([&] { file.ReadFile(0); }, 30389,
              "Cannot perform this operation (ReadFile) on closed internal file");
  EXPECT_EQ(CodeOf([&] { file.WriteFile(0, Content(1)); }), 30389);

  int32_t start = file.Create(0);
  ExpectError(
      [&] { file.Create(0); }, 30383,
      "Cannot create Internal file. File already exists. StartPageNo=" + std::to_string(start));
  file.WriteFile(0, Content(500));
  pm.ApplyChanges(0);
  std::vector<uint8_t> buffer(501);
  file.ReadFile(0, buffer.data(), 500);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 500), Content(500));
  ExpectError([&] { file.ReadFile(0, buffer.data(), 501); }, 30387,
              "Cannot Read internal file. FileSize=500. ReadSize=501");
  EXPECT_EQ(CodeOf([&] { file.WriteFile(0, Content(10), 7, 1); }), 20187);
  EXPECT_EQ(file.ReadFile(0), Content(500)) << "a refused write changes nothing";

  // Damaged files: a chain cut short, compressed bytes that do not decode,
  // a start page of another type.
  struct Damage {
    const char* what;
    void (*apply)(MemoryPageManager&, int32_t start);
    int32_t code;
  } damages[] = {
      {"short chain",
       [](MemoryPageManager& m, int32_t s) {
         RzvPageHeader(m.disk.at(s).data()).SetNextPageNo(-1);
       },
       30388},
      {"bad marker", [](MemoryPageManager& m, int32_t s) { m.disk.at(s)[kPageHeaderSize] = 9; },
       30388},
      {"bad compressed bytes",
       [](MemoryPageManager& m, int32_t s) {
         uint8_t* h = m.disk.at(s).data() + kPageHeaderSize;
         h[9] = 1;                    // ZLIB
         StoreLE<int32_t>(h + 5, 9);  // logical size
       },
       20189},
      {"wrong page type",
       [](MemoryPageManager& m, int32_t s) {
         RzvPageHeader(m.disk.at(s).data()).SetPageType(RzvPageType::kTableBlob);
       },
       20153},
  };
  for (const Damage& d : damages) {
    MemoryPageManager damaged;
    RzvInternalDBTransactedAccessFile f(damaged, kType);
    int32_t s = f.Create(0);
    f.WriteFile(0, Content(500));
    damaged.ApplyChanges(0);
    damaged.Close();  // drop cached copies so the damage is read
    d.apply(damaged, s);
    EXPECT_EQ(CodeOf([&] { f.ReadFile(0); }), d.code) << d.what;
  }
}

}  // namespace
}  // namespace rzv
