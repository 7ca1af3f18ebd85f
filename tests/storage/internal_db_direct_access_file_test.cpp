#include "engine/storage/internal_db_direct_access_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/memory_page_manager.h"

namespace rzv {
namespace {

using ::rzv::testing::ExpectError;

constexpr RzvPageType kType = RzvPageType::kActiveSessionList;
constexpr int32_t kDataSize = 256 - kPageHeaderSize;  // 216

// A committed direct file of `size` bytes, and a second object opened on it.
struct Fixture {
  explicit Fixture(int32_t size) {
    pm.PutPage(pm.AddPage(0, RzvPageType::kTableRecord));  // the file does not start at page 0
    start = created.Create(pm, 0, size);
    pm.ApplyChanges(0);
    opened.Open(start);
  }
  MemoryPageManager pm;
  RzvInternalDBDirectAccessFile created{pm, 256, kType};
  RzvInternalDBDirectAccessFile opened{pm, 256, kType};
  int32_t start = -1;
};

TEST(RzvInternalDBDirectAccessFileTest, CreatedPlainAndReopenedByWalkingTheChain) {
  Fixture f(500);  // ceil(510 / 216) = 3 pages
  EXPECT_EQ(f.opened.FileSize(), 500);
  EXPECT_EQ(f.opened.Pages(), f.created.Pages());
  ASSERT_EQ(f.opened.Pages().size(), 3u);
  EXPECT_EQ(f.pm.plain_writes, std::set<int32_t>(f.opened.Pages().begin(), f.opened.Pages().end()))
      << "direct file pages are never encrypted";
  const uint8_t* header = f.pm.disk.at(f.start).data() + kPageHeaderSize;
  EXPECT_EQ(header[0], 10);
  EXPECT_EQ(LoadLE<int32_t>(header + 1), 500);
  EXPECT_EQ(LoadLE<int32_t>(header + 5), 0) << "logical size stays 0";
  EXPECT_EQ(header[9], 0);

  // Content position p lies in page (p + 10) / D at data offset (p + 10) % D.
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
  f.opened.DirectWriteBuffer(data.data(), 150, 300);
  const std::vector<int32_t>& pages = f.opened.Pages();
  EXPECT_EQ(f.pm.disk.at(pages[0])[kPageHeaderSize + 160], 1);
  EXPECT_EQ(f.pm.disk.at(pages[1])[kPageHeaderSize + 0], 57);
  EXPECT_EQ(f.pm.disk.at(pages[2])[kPageHeaderSize + 449 + 10 - 2 * kDataSize], 44);
  std::vector<uint8_t> back(400);
  EXPECT_EQ(f.created.DirectReadBuffer(back.data(), 150, 400), 350) << "stops at the end";
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 300), data);
  EXPECT_EQ(f.created.DirectReadBuffer(back.data(), 500, 10), 0);
}

TEST(RzvInternalDBDirectAccessFileTest, PositionsOutsideTheFileAndClosedFilesFail) {
  Fixture f(500);
  uint8_t buffer[300] = {};
  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t code;
    const char* message;
  } cases[] = {
      {"read past end", [&] { f.opened.DirectReadBuffer(buffer, 501, 1); }, 20159,
       "Seek position bigger then file size. FileSize=500. Position=501"},
      {"write past end", [&] { f.opened.DirectWriteBuffer(buffer, 400, 101); }, 20158,
       "Cannot write after end of file. FileSize=500. Position=400, Count=101"},
      {"lock past end", [&] { f.opened.LockByte(500); }, 20159,
       "Seek position bigger then file size. FileSize=500. Position=500"},
      {"create twice", [&] { f.opened.Create(f.pm, 0, 10); }, 20157, nullptr},
  };
  for (const Case& c : cases) ExpectError(c.call, c.code, c.message, c.what);

  RzvInternalDBDirectAccessFile closed(f.pm, 256, kType);
  ExpectError([&] { closed.DirectReadBuffer(buffer, 0, 1); }, 20156,
              "Cannot perform this operation (DirectReadBuffer) on closed internal file");
  EXPECT_EQ(CodeOf([&] { closed.LockFile(); }), 20156);
  // Built before the database was open, the file has no page size to be
  // laid out by: refused before any page is added or read.
  for (int32_t page_size : {0, kPageHeaderSize}) {
    RzvInternalDBDirectAccessFile early(f.pm, page_size, kType);
    ExpectError([&] { early.Create(f.pm, 0, 500); }, 20160, "Error - database file is not opened.");
    ExpectError([&] { early.Open(f.start); }, 20160, "Error - database file is not opened.");
    EXPECT_FALSE(early.IsOpen());
  }
  EXPECT_FALSE(f.pm.HasChanges(0));

  RzvInternalDBDirectAccessFile wrong_type(f.pm, 256, RzvPageType::kTableLocks);
  ExpectError([&] { wrong_type.Open(f.start); }, 20155, "Invalid PageType found: 5 but wanted: 7");
  RzvPageHeader(f.pm.disk.at(f.opened.Pages()[1]).data()).SetNextPageNo(-1);
  RzvInternalDBDirectAccessFile short_chain(f.pm, 256, kType);
  EXPECT_EQ(CodeOf([&] { short_chain.Open(f.start); }), 30388);
  EXPECT_FALSE(short_chain.IsOpen());
}

TEST(RzvInternalDBDirectAccessFileTest, LocksSitOnContentBytesAndTheFileMutex) {
  Fixture f(500);
  const std::vector<int32_t>& pages = f.opened.Pages();
  EXPECT_TRUE(f.opened.LockFile());
  EXPECT_TRUE(f.pm.IsFileByteLocked(f.pm.PageOffset(f.start))) << "first byte of the first page";
  EXPECT_FALSE(f.created.LockFile());
  EXPECT_TRUE(f.opened.UnlockFile());

  EXPECT_TRUE(f.opened.LockByte(300));
  EXPECT_TRUE(f.pm.IsFileByteLocked(f.pm.PageOffset(pages[1]) + kPageHeaderSize + 310 - kDataSize));
  EXPECT_TRUE(f.created.IsByteLocked(300));
  EXPECT_FALSE(f.created.IsByteLocked(299));
  EXPECT_FALSE(f.created.LockByte(300));
  // A region spanning three pages sees a lock on any of its pieces.
  EXPECT_TRUE(f.created.IsRegionLocked(400, 100));
  EXPECT_FALSE(f.created.IsRegionLocked(199, 100));
  EXPECT_FALSE(f.created.IsRegionLocked(99, 301));
  EXPECT_TRUE(f.opened.UnlockByte(300));
  EXPECT_FALSE(f.created.IsRegionLocked(500, 0));
  EXPECT_EQ(CodeOf([&] { f.created.IsRegionLocked(401, 100); }), 20159);
}

}  // namespace
}  // namespace rzv
