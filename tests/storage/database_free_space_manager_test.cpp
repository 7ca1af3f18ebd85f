#include "engine/storage/database_free_space_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using ::rzv::testing::ExpectError;

// The database file as the free-space manager sees it: header counters,
// pages in memory, a header lock that can be made to fail.
class FakeHost : public RzvFreeSpaceHost {
 public:
  explicit FakeHost(int32_t size) : page_size(size) {}

  void LockHeader(int32_t error_code) override {
    if (locked_by_other) throw RzvException(error_code, "Database is locked");
    ++lock_depth;
  }
  void UnlockHeader() override { --lock_depth; }
  void ReloadHeader(int32_t* last_used, int32_t* total) override {
    *last_used = last_used_page_no;
    *total = total_page_count;
  }
  void StoreHeader(int32_t last_used, int32_t total) override {
    last_used_page_no = last_used;
    total_page_count = total;
    ++header_writes;
  }
  void ResizeFile(int32_t total) override {
    pages.resize(static_cast<size_t>(total), std::vector<uint8_t>(page_size));
  }
  void ReadRawPage(int32_t page_no, uint8_t* page) override {
    ASSERT_LT(static_cast<size_t>(page_no), pages.size()) << "read beyond the end of the file";
    std::copy(pages[page_no].begin(), pages[page_no].end(), page);
  }
  void WriteRawPage(int32_t page_no, const uint8_t* page) override {
    ASSERT_LT(static_cast<size_t>(page_no), pages.size()) << "write beyond the end of the file";
    pages[page_no].assign(page, page + page_size);
  }

  uint16_t TypeOf(int32_t page_no) const {
    return RzvPageHeader(const_cast<uint8_t*>(pages.at(page_no).data())).PageType();
  }
  uint8_t DataByte(int32_t page_no, int i) const { return pages.at(page_no)[kPageHeaderSize + i]; }

  int32_t page_size;
  std::vector<std::vector<uint8_t>> pages;
  int32_t last_used_page_no = -1;
  int32_t total_page_count = 0;
  int lock_depth = 0;
  int header_writes = 0;
  bool locked_by_other = false;
};

// Writes maps for a file of `total` pages (only PFS page 0 and EAM page 0,
// so total must stay below P) in which exactly `used` and the two map pages
// are in use, entry by entry as the layout describes.
void BuildSmallFile(FakeHost& host, int32_t extent, int32_t total, const std::set<int32_t>& used) {
  host.ResizeFile(total);
  std::set<int32_t> all = used;
  all.insert({0, 1});
  for (int32_t no : {0, 1}) {
    RzvInitPageBuffer(host.pages[no].data(), host.page_size);
    RzvPageHeader(host.pages[no].data())
        .SetPageType(no == 0 ? RzvPageType::kPfs : RzvPageType::kEam);
  }
  for (int32_t p : all)
    host.pages[0][kPageHeaderSize + p / 8] |= static_cast<uint8_t>(1 << (p % 8));
  for (int32_t x = 0; x * extent < total; ++x) {
    bool any_free = false;
    for (int32_t p = x * extent; p < (x + 1) * extent; ++p) any_free |= p >= total || !all.count(p);
    host.pages[1][kPageHeaderSize + x / 4] |=
        static_cast<uint8_t>((any_free ? 1 : 3) << (2 * (x % 4)));
  }
  host.total_page_count = total;
  host.last_used_page_no = used.empty() ? -1 : *used.rbegin();
}

TEST(RzvFreeSpaceManagerTest, MapGeometryAndSystemPages) {
  FakeHost host(4096);
  RzvDatabaseFreeSpaceManager fsm(host, 4096, 8, -1, 0);
  EXPECT_EQ(fsm.DataSize(), 4056);
  EXPECT_EQ(fsm.PfsSpan(), 32448);
  EXPECT_EQ(fsm.EamEntryCount(), 16224);
  EXPECT_EQ(fsm.EamSpan(), 129792);
  EXPECT_EQ(fsm.EamPagePosition(0), 1);
  EXPECT_EQ(fsm.EamPagePosition(1), 129793);
  RzvDatabaseFreeSpaceManager odd(host, 4096, 3, -1, 0);  // M = 48672, not a multiple of P
  EXPECT_EQ(odd.EamPagePosition(1), 48672);
  EXPECT_EQ(odd.EamPagePosition(2), 97345);

  struct Case {
    const RzvDatabaseFreeSpaceManager& m;
    int64_t page;
    bool system;
  } cases[] = {
      {fsm, 0, true},       {fsm, 1, true},      {fsm, 2, false},     {fsm, 32447, false},
      {fsm, 32448, true},   {fsm, 32449, false}, {fsm, 129792, true}, {fsm, 129793, true},
      {fsm, 129794, false}, {fsm, -1, false},    {odd, 48672, true},  {odd, 48673, false},
      {odd, 97344, true},   {odd, 97345, true},  {odd, 97346, false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.m.IsSystemPage(c.page), c.system) << c.page;

  EXPECT_EQ(CodeOf([&] { RzvDatabaseFreeSpaceManager(host, 40, 8, -1, 0); }), 20237);
  EXPECT_EQ(CodeOf([&] { RzvDatabaseFreeSpaceManager(host, 4096, 0, -1, 0); }), 20237);
}

TEST(RzvFreeSpaceManagerTest, FirstAllocationCreatesSixPagesAndBothMaps) {
  FakeHost host(4096);
  RzvDatabaseFreeSpaceManager fsm(host, 4096, 8, -1, 0);
  EXPECT_EQ(fsm.AllocatePageNo(), 2);
  EXPECT_EQ(host.total_page_count, 6);
  EXPECT_EQ(host.last_used_page_no, 2);
  EXPECT_EQ(host.pages.size(), 6u);
  EXPECT_EQ(host.TypeOf(0), static_cast<uint16_t>(RzvPageType::kPfs));
  EXPECT_EQ(host.TypeOf(1), static_cast<uint16_t>(RzvPageType::kEam));
  EXPECT_EQ(host.DataByte(0, 0), 0b111) << "PFS bits 0, 1 and 2";
  EXPECT_EQ(host.DataByte(0, 1), 0);
  EXPECT_EQ(host.DataByte(1, 0), 1) << "first extent not full";
  EXPECT_EQ(host.lock_depth, 0);

  EXPECT_EQ(fsm.AllocatePageNo(), 3);
  EXPECT_EQ(fsm.AllocatePageNo(), 4);
  EXPECT_EQ(fsm.AllocatePageNo(), 5);
  fsm.FreePageNo(3);
  EXPECT_FALSE(fsm.IsPageUsed(3));
  EXPECT_EQ(host.last_used_page_no, 5);
  EXPECT_EQ(fsm.AllocatePageNo(), 3) << "lowest free page first";
  EXPECT_EQ(host.total_page_count, 6);
  // The seventh page grows the file by one extent; extent 0 is now full.
  EXPECT_EQ(fsm.AllocatePageNo(), 6);
  EXPECT_EQ(host.total_page_count, 14);
  EXPECT_EQ(fsm.AllocatePageNo(), 7);
  EXPECT_EQ(fsm.EamEntry(0), 3);
  EXPECT_EQ(fsm.EamEntry(1), 0) << "no page of extent 1 has changed yet";
}

TEST(RzvFreeSpaceManagerTest, ReleaseShrinksByWholeGrowthSteps) {
  std::set<int32_t> used;
  for (int32_t p = 2; p < 10; ++p) used.insert(p);
  used.insert(99);
  FakeHost host(512);
  BuildSmallFile(host, 8, 100, used);
  RzvDatabaseFreeSpaceManager fsm(host, 512, 8, 99, 100);
  fsm.FreePageNo(99);
  EXPECT_EQ(host.last_used_page_no, 9);
  EXPECT_EQ(host.total_page_count, 10) << "90 trailing free pages = 9 steps of 10";
  EXPECT_EQ(host.pages.size(), 10u);

  // Fewer trailing free pages than one step keep the file's size.
  fsm.FreePageNo(9);
  EXPECT_EQ(host.last_used_page_no, 8);
  EXPECT_EQ(host.total_page_count, 10);
  fsm.DropTrailingFreePages();
  EXPECT_EQ(host.total_page_count, 9);
  EXPECT_EQ(host.pages.size(), 9u);
}

TEST(RzvFreeSpaceManagerTest, BitAndTypeErrorsLeaveTheLockReleased) {
  FakeHost host(512);
  BuildSmallFile(host, 8, 10, {2, 3});
  RzvDatabaseFreeSpaceManager fsm(host, 512, 8, 3, 10);
  struct Case {
    int32_t page;
    int32_t code;
    const char* message;
  } cases[] = {
      {5, 30427, "Page: 5 already free"},
      {10, 30431, "Page: 10 cannot be addressed. TotalPageCount=10"},
      {-4, 30431, "Page: -4 cannot be addressed. TotalPageCount=10"},
      {1, 30434, "Cannot delete PFS or EAM page. PageNo=1"},
  };
  for (const Case& c : cases) {
    ExpectError([&] { fsm.FreePageNo(c.page); }, c.code, c.message, std::to_string(c.page));
    // The check before a batch of releases refuses it too, behind a used page.
    ExpectError(
        [&] {
          fsm.CheckReleasable({2, c.page});
        },
        c.code, c.message, "batch " + std::to_string(c.page));
    EXPECT_EQ(host.lock_depth, 0);
  }
  const auto maps = host.pages;
  fsm.CheckReleasable({3, 2});
  EXPECT_EQ(host.pages, maps);

  RzvPageHeader(host.pages[0].data()).SetPageType(RzvPageType::kTableRecord);
  EXPECT_EQ(CodeOf([&] { fsm.FreePageNo(2); }), 30424);
  EXPECT_EQ(CodeOf([&] { fsm.AllocatePageNo(); }), 30432);
  EXPECT_EQ(host.lock_depth, 0);
  RzvPageHeader(host.pages[0].data()).SetPageType(RzvPageType::kPfs);

  // A header that claims a lower last used page than the map shows.
  FakeHost full(512);
  BuildSmallFile(full, 8, 6, {2, 3, 4, 5});
  full.last_used_page_no = 2;
  RzvDatabaseFreeSpaceManager stale(full, 512, 8, 2, 6);
  EXPECT_EQ(CodeOf([&] { stale.AllocatePageNo(); }), 30425);

  host.locked_by_other = true;
  EXPECT_EQ(CodeOf([&] { fsm.AllocatePageNo(); }), 20231);
  EXPECT_EQ(CodeOf([&] { fsm.FreePageNo(2); }), 20232);
  EXPECT_EQ(CodeOf([&] { fsm.CheckReleasable({2}); }), 20232);
  EXPECT_TRUE(fsm.IsPageUsed(2));
}

// Fills a file page by page past several PFS and EAM boundaries with small
// pages, checks the placement of every map page, then frees everything.
class FreeSpaceGrowthTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(FreeSpaceGrowthTest, MapPagesSitWhereTheLayoutPutsThem) {
  const int32_t extent = GetParam();
  FakeHost host(512);
  RzvDatabaseFreeSpaceManager fsm(host, 512, extent, -1, 0);
  ASSERT_EQ(fsm.PfsSpan(), 3776);
  // The map covering the end of the file is searched first, so pages are not
  // handed out strictly in order across an EAM boundary; every page is still
  // handed out once and no map page ever is.
  std::vector<int32_t> allocated;
  std::set<int32_t> used;
  for (int i = 0; i < 16000; ++i) {
    int32_t got = fsm.AllocatePageNo();
    ASSERT_FALSE(fsm.IsSystemPage(got)) << got;
    ASSERT_LT(got, host.total_page_count);
    ASSERT_TRUE(used.insert(got).second) << got;
    allocated.push_back(got);
  }
  EXPECT_EQ(host.last_used_page_no, *used.rbegin());
  EXPECT_FALSE(fsm.IsSystemPage(host.total_page_count - 1));
  int pfs_pages = 0;
  int eam_pages = 0;
  for (int32_t p = 0; p < host.total_page_count; ++p) {
    bool pfs = p % fsm.PfsSpan() == 0;
    bool eam = false;
    for (int64_t k = 0; fsm.EamPagePosition(k) <= p; ++k) eam |= fsm.EamPagePosition(k) == p;
    ASSERT_EQ(fsm.IsSystemPage(p), pfs || eam) << p;
    if (pfs) {
      ++pfs_pages;
      ASSERT_EQ(host.TypeOf(p), static_cast<uint16_t>(RzvPageType::kPfs)) << p;
    }
    if (eam) {
      ++eam_pages;
      ASSERT_EQ(host.TypeOf(p), static_cast<uint16_t>(RzvPageType::kEam)) << p;
    }
    ASSERT_EQ(fsm.IsPageUsed(p), pfs || eam || used.count(p) > 0) << p;
  }
  EXPECT_EQ(pfs_pages, 5);
  EXPECT_EQ(eam_pages, extent == 8 ? 2 : 3);
  for (int64_t x = 0; (x + 1) * extent <= host.total_page_count; ++x) {
    bool full = true;
    for (int64_t p = x * extent; p < (x + 1) * extent; ++p) {
      full &= fsm.IsSystemPage(p) || used.count(static_cast<int32_t>(p)) > 0;
    }
    int entry = fsm.EamEntry(x);
    if (full) {
      ASSERT_EQ(entry, 3) << "extent " << x;
    } else {
      ASSERT_NE(entry, 3) << "extent " << x;
    }
  }

  std::mt19937 random(extent);
  std::shuffle(allocated.begin(), allocated.end(), random);
  for (int32_t page : allocated) fsm.FreePageNo(page);
  EXPECT_EQ(host.last_used_page_no, -1);
  EXPECT_LT(host.total_page_count, 16);
  EXPECT_EQ(fsm.AllocatePageNo(), 2);
}

INSTANTIATE_TEST_SUITE_P(ExtentSizes, FreeSpaceGrowthTest, ::testing::Values(8, 3));

TEST(RzvFreeSpaceManagerTest, ShrinkNeverEndsTheFileWithAMapPage) {
  // P = 3776, M = 15104: PFS page 4 at 15104 and EAM page 1 at 15105. With
  // 16783 pages and 15103 the last used page below 16782, one growth step
  // (1678) would leave PFS page 4 as the last page without its EAM page.
  FakeHost host(512);
  RzvDatabaseFreeSpaceManager fsm(host, 512, 8, -1, 0);
  std::vector<int32_t> tail;
  while (host.last_used_page_no < 16782) {
    int32_t page = fsm.AllocatePageNo();
    if (page > 15103) tail.push_back(page);
  }
  int32_t non_system = 0;
  for (int32_t p = 15104; p <= 16782; ++p) non_system += fsm.IsSystemPage(p) ? 0 : 1;
  ASSERT_EQ(static_cast<int32_t>(tail.size()), non_system);
  ASSERT_EQ(*std::min_element(tail.begin(), tail.end()), 15106) << "pages up to 15103 in use";
  // Pages after the last used one are free: cut the file to 16783 pages.
  host.ResizeFile(16783);
  host.total_page_count = 16783;
  for (int32_t p : tail) fsm.FreePageNo(p);

  EXPECT_EQ(host.last_used_page_no, 15103);
  EXPECT_EQ(host.total_page_count, 15104);
  EXPECT_EQ(fsm.AllocatePageNo(), 15106);
  EXPECT_EQ(host.TypeOf(15104), static_cast<uint16_t>(RzvPageType::kPfs));
  EXPECT_EQ(host.TypeOf(15105), static_cast<uint16_t>(RzvPageType::kEam));
  EXPECT_EQ(host.DataByte(15104, 0), 0b111);
  EXPECT_EQ(fsm.EamEntry(15104 / 8), 1);
}

}  // namespace
}  // namespace rzv
