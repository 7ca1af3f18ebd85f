#include "engine/storage/disk_page_manager.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using ::rzv::testing::MessageOf;
using ::rzv::testing::ReadAll;
using ::rzv::testing::ScratchDir;
using ::rzv::testing::WriteAll;

constexpr RzvLockRetry kShortRetry{3, std::chrono::milliseconds(1)};

struct OpenResult {
  bool multi_user = false;
  bool needs_repair = false;
  bool read_only = false;
};

OpenResult Open(RzvDiskPageManager& m, const std::string& path, const RzvPassword& pw,
                bool read_only = false, bool multi_user = false, bool exclusive = false) {
  OpenResult r{multi_user, false, read_only};
  m.OpenDatabaseFile(path, pw, r.multi_user, exclusive, r.needs_repair, r.read_only);
  return r;
}

void Create(const std::string& path, const RzvPassword& pw, int32_t page_size = 4096) {
  RzvDiskPageManager m;
  m.CreateDatabaseFile(path, pw, 8, page_size);
}

class RzvDiskPageManagerTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_.File("db.rzv");
};

TEST_F(RzvDiskPageManagerTest, EveryCipherOpensWithItsPasswordOnly) {
  for (uint8_t id = 0; id <= 7; ++id) {
    SCOPED_TRACE(static_cast<int>(id));
    Create(path_, {"s3cret", id});
    const auto bytes = ReadAll(path_);
    ASSERT_EQ(bytes.size(), 380u);
    EXPECT_EQ(bytes[43], 0xFF);
    EXPECT_EQ(LoadLE<uint16_t>(&bytes[76]), 280);
    EXPECT_EQ(bytes[78], id);

    for (const char* wrong : {"S3cret", "s3cret ", "", "s3cre"}) {
      RzvDiskPageManager m;
      EXPECT_EQ(CodeOf([&] { Open(m, path_, {wrong, id}); }), 30445) << wrong;
      EXPECT_FALSE(m.IsOpen());
    }
    EXPECT_EQ(ReadAll(path_), bytes);

    // The id stored in the file wins over the caller's.
    RzvDiskPageManager m;
    OpenResult r = Open(m, path_, {"s3cret", static_cast<uint8_t>((id + 3) % 8)});
    EXPECT_FALSE(r.needs_repair);
    EXPECT_FALSE(r.read_only);
    EXPECT_EQ(m.CryptoAlgorithm(), id);
    EXPECT_EQ(m.Password().algorithm, id);
    EXPECT_TRUE(m.IsEncrypted());
    m.CloseDatabaseFile();
    EXPECT_EQ(ReadAll(path_), bytes);
  }
}

TEST_F(RzvDiskPageManagerTest, DatabaseWithoutPasswordIsPlainAndOpensWithAnyPassword) {
  Create(path_, {"", 5}, 8192);
  const auto bytes = ReadAll(path_);
  ASSERT_EQ(bytes.size(), 380u);
  uint8_t expected_header[76] = {'R',  'U',  'Z',  'U',  'Z',  'U',  'V', 'E',  'D',  'A',  'T',
                                 'A',  'B',  'A',  'S',  'E',  76,   0,   0x85, 0xEB, 0x51, 0xB8,
                                 0x1E, 0x85, 0x14, 0x40, 0,    0x20, 8,   0,    0,    0,    0,
                                 0,    0xFF, 0xFF, 0xFF, 0xFF, 0,    0,   0,    0,    2,    0};
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 76, expected_header));
  std::vector<uint8_t> enc(bytes.begin() + 76, bytes.begin() + 356);
  std::vector<uint8_t> expected_enc(280, 0);
  expected_enc[0] = 0x18;
  expected_enc[1] = 0x01;
  EXPECT_EQ(enc, expected_enc);
  EXPECT_EQ(bytes[356], 20);
  EXPECT_TRUE(std::all_of(bytes.begin() + 357, bytes.end(), [](uint8_t b) { return b == 0; }));

  for (const char* pw : {"", "anything"}) {
    RzvDiskPageManager m;
    Open(m, path_, {pw, 0});
    EXPECT_FALSE(m.IsEncrypted());
    EXPECT_EQ(m.PageSize(), 8192);
    EXPECT_EQ(m.DataSize(), 8152);
  }
}

TEST_F(RzvDiskPageManagerTest, ImageInsideAnotherFileIsFound) {
  Create(path_, {"pw", 0});
  const auto image = ReadAll(path_);
  // A signature with the wrong HeaderSize is passed over, and a signature
  // across the boundary of two search windows is still found, also where
  // only its HeaderSize crosses the boundary (9983, 19967).
  for (int64_t base : {int64_t{12345}, int64_t{9990}, int64_t{20}, int64_t{9983}, int64_t{19967}}) {
    SCOPED_TRACE(base);
    std::vector<uint8_t> host(base, 'x');
    if (base > 40) {
      std::memcpy(&host[3], "RUZUZUVEDATABASE", 16);
      host[19] = 77;
      host[20] = 0;
    }
    host.insert(host.end(), image.begin(), image.end());
    const std::string hosted = dir_.File("hosted.bin");
    WriteAll(hosted, host);
    RzvDiskPageManager m;
    Open(m, hosted, {"pw", 0});
    EXPECT_EQ(m.BaseOffset(), base);
    EXPECT_EQ(m.PageOffset(0), base + 380);
    // The open leaves no lock behind, in the image or before it.
    RzvDatabaseFile other;
    other.OpenFile(hosted, kRzvAccessRead, kRzvShareReadWrite);
    EXPECT_FALSE(other.IsRegionLocked(base + 380, 0));
    EXPECT_EQ(m.GetNextObjectID(), 1);
    m.CloseDatabaseFile();
    EXPECT_EQ(LoadLE<int32_t>(&ReadAll(hosted)[base + 376]), 1);
  }
}

TEST_F(RzvDiskPageManagerTest, DamagedFilesAreRefusedAndLeftAlone) {
  Create(path_, {"pw", 0});
  const auto good = ReadAll(path_);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    int32_t code;
  };
  const Case cases[] = {
      {"no signature", [](auto& b) { std::memcpy(&b[0], "NOT A DATABASE!!", 16); }, 10470},
      {"truncated header", [](auto& b) { b.resize(50); }, 10464},
      {"truncated encryption header", [](auto& b) { b.resize(200); }, 30439},
      {"page size", [](auto& b) { StoreLE<uint16_t>(&b[26], 1000); }, 10465},
      {"zero extent", [](auto& b) { StoreLE<uint16_t>(&b[28], 0); }, 10466},
      {"cipher id", [](auto& b) { b[78] = 8; }, 10468},
      {"encryption header size", [](auto& b) { StoreLE<uint16_t>(&b[76], 279); }, 20237},
      {"reserved header size", [](auto& b) { StoreLE<uint16_t>(&b[356], 3); }, 20237},
      {"negative page count", [](auto& b) { StoreLE<int32_t>(&b[30], -6); }, 20237},
      {"last used page beyond the count", [](auto& b) { StoreLE<int32_t>(&b[34], 0); }, 20237},
      {"check block", [](auto& b) { b[100] ^= 1; }, 30445},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = good;
    c.damage(bytes);
    WriteAll(path_, bytes);
    RzvDiskPageManager m;
    EXPECT_EQ(CodeOf([&] { Open(m, path_, {"pw", 0}); }), c.code);
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(ReadAll(path_), bytes);
  }
  WriteAll(path_, std::vector<uint8_t>(20000, '#'));
  RzvDiskPageManager m;
  EXPECT_EQ(MessageOf([&] {
              Open(m, path_, {"", 0});
            }),
            "Invalid file format. Found signature: '################', expected: "
            "'RUZUZUVEDATABASE'");
}

TEST_F(RzvDiskPageManagerTest, RepairIsNeededAfterAnInterruptedCommitOrForOldFiles) {
  Create(path_, {"", 0});
  const auto good = ReadAll(path_);
  struct Case {
    uint8_t file_state;
    double version;
    bool needs_repair;
  };
  for (const Case& c : {Case{2, 5.13, false}, Case{1, 5.13, true}, Case{2, 2.5, true},
                        Case{2, 2.99, false}, Case{1, 2.99, true}}) {
    SCOPED_TRACE(c.version);
    auto bytes = good;
    bytes[42] = c.file_state;
    StoreLE<uint64_t>(&bytes[18], std::bit_cast<uint64_t>(c.version));
    WriteAll(path_, bytes);
    RzvDiskPageManager m;
    EXPECT_EQ(Open(m, path_, {"", 0}).needs_repair, c.needs_repair);
  }
}

TEST_F(RzvDiskPageManagerTest, NextObjectIdCountsOnlyWhenTheFileIsWritable) {
  Create(path_, {"pw", 2});
  {
    RzvDiskPageManager m;
    Open(m, path_, {"pw", 0});
    EXPECT_EQ(m.GetNextObjectID(), 1);
    EXPECT_EQ(m.GetNextObjectID(), 2);
  }
  const auto bytes = ReadAll(path_);
  EXPECT_EQ(LoadLE<int32_t>(&bytes[376]), 2);

  auto check_read_only = [&](bool ask_read_only) {
    RzvDiskPageManager m;
    OpenResult r = Open(m, path_, {"pw", 0}, ask_read_only, /*multi_user=*/true);
    EXPECT_TRUE(r.read_only);
    EXPECT_FALSE(r.multi_user && !ask_read_only);
    for (int i = 0; i < 20; ++i) {
      int32_t id = m.GetNextObjectID();
      EXPECT_GE(id, 3);
      EXPECT_LE(id, 3 + 9999);
    }
    EXPECT_EQ(CodeOf([&] { m.WriteHeader(); }), 10462);
  };
  check_read_only(true);
  // A file without write permission falls back to read-only by itself.
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  check_read_only(false);
  EXPECT_EQ(ReadAll(path_), bytes);
}

TEST_F(RzvDiskPageManagerTest, HeaderLockNestsAndOnlyTheOutermostTouchesTheFile) {
  Create(path_, {"", 0});
  RzvDiskPageManager m;
  Open(m, path_, {"", 0}, false, true);
  RzvDatabaseFile other;
  other.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  m.LockHeader(20213);
  m.LockHeader(20213);
  EXPECT_EQ(m.HeaderLockDepth(), 2);
  EXPECT_TRUE(other.IsByteLocked(360));
  EXPECT_EQ(m.GetTotalPageCount(), 0);  // nests inside the held lock
  m.UnlockHeader();
  EXPECT_TRUE(other.IsByteLocked(360));
  m.UnlockHeader();
  EXPECT_FALSE(other.IsByteLocked(360));
  EXPECT_EQ(m.HeaderLockDepth(), 0);
}

TEST_F(RzvDiskPageManagerTest, LocksHeldElsewhereTimeOut) {
  Create(path_, {"", 0});
  RzvDiskPageManager m;
  m.SetLockRetry(kShortRetry);
  Open(m, path_, {"", 0}, false, true);
  RzvDatabaseFile other;
  other.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  struct Case {
    int64_t byte;
    std::function<void()> call;
    std::function<void()> undo;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {360, [&] { m.LockHeader(20213); }, [&] { m.UnlockHeader(); }, 20213, "Database is locked"},
      {360, [&] { m.GetTotalPageCount(); }, [] {}, 20236, "Database is locked"},
      {359, [&] { m.LockTables(); }, [&] { m.UnlockTables(); }, 20210,
       "Database tables are locked"},
      {376, [&] { m.GetNextObjectID(); }, [] {}, 30401,
       "Cannot get NextObjectID. File area is Locked."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ASSERT_TRUE(other.LockByte(1, c.byte));
    EXPECT_EQ(CodeOf(c.call), c.code);
    EXPECT_EQ(MessageOf(c.call), c.message);
    ASSERT_TRUE(other.UnlockByte(1, c.byte));
    EXPECT_EQ(CodeOf(c.call), 0);
    c.undo();
    EXPECT_FALSE(other.IsByteLocked(c.byte));
  }
  EXPECT_EQ(CodeOf([&] { m.UnlockTables(); }), 20211);

  ASSERT_TRUE(other.LockByte(1, 360));
  RzvDiskPageManager second;
  second.SetLockRetry(kShortRetry);
  EXPECT_EQ(CodeOf([&] { Open(second, path_, {"", 0}, false, true); }), 20230);
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(RzvDiskPageManagerTest, OpenModesKeepOtherOpenersOutOrReadOnly) {
  Create(path_, {"", 0});
  {
    RzvDiskPageManager exclusive;
    OpenResult r = Open(exclusive, path_, {"", 0}, false, true, /*exclusive=*/true);
    EXPECT_FALSE(r.multi_user);
    EXPECT_TRUE(exclusive.IsExclusive());
    RzvDiskPageManager other;
    EXPECT_EQ(CodeOf([&] { Open(other, path_, {"", 0}); }), 30364);
  }
  RzvDiskPageManager single;
  Open(single, path_, {"", 0});
  // A second single-user opener cannot have the file to itself: read-only.
  RzvDiskPageManager second;
  EXPECT_TRUE(Open(second, path_, {"", 0}).read_only);
  // A multi-user opener shares it for writing.
  RzvDiskPageManager shared;
  EXPECT_FALSE(Open(shared, path_, {"", 0}, false, true).read_only);
}

TEST_F(RzvDiskPageManagerTest, PageRegionsStayInsideTheirPage) {
  Create(path_, {"", 0}, 1024);
  RzvDiskPageManager m;
  Open(m, path_, {"", 0});
  m.File().SetSize(380 + 3 * 1024);
  const char text[] = "region";
  m.WritePageRegion(text, 2, 6, 1018);
  char back[6];
  m.ReadPageRegion(back, 2, 6, 1018);
  EXPECT_EQ(std::memcmp(back, text, 6), 0);
  EXPECT_EQ(std::memcmp(&ReadAll(path_)[380 + 2 * 1024 + 1018], text, 6), 0);

  EXPECT_EQ(MessageOf([&] { m.ReadPageRegion(back, 2, 6, 1019); }),
            "Error - invalid page offset = 1025, page size = 1024");
  EXPECT_EQ(CodeOf([&] { m.ReadPageRegion(back, 2, 6, 1019); }), 10476);
  EXPECT_EQ(CodeOf([&] { m.WritePageRegion(back, 2, 6, 1019); }), 10477);
  EXPECT_EQ(CodeOf([&] { m.WritePageRegion(back, 2, -1, 0); }), 10477);
  EXPECT_EQ(MessageOf([&] { m.ReadPageRegion(back, -1, 1, 0); }), "Invalid PageNo = -1");
  EXPECT_EQ(CodeOf([&] { m.WritePageRegion(back, -1, 1, 0); }), 10471);
  EXPECT_EQ(CodeOf([&] { m.ReadPageRegion(back, 3, 1, 0); }), 10474);  // beyond the file
}

TEST_F(RzvDiskPageManagerTest, TruncateDropsPagesFromTheEnd) {
  Create(path_, {"", 0}, 1024);
  RzvDiskPageManager m;
  Open(m, path_, {"", 0});
  m.File().SetSize(380 + 6 * 1024);
  m.MutableHeader().total_page_count = 6;
  m.MutableHeader().last_used_page_no = 1;
  m.WriteHeader();
  m.Truncate(2);
  EXPECT_EQ(m.GetTotalPageCount(), 4);
  EXPECT_EQ(ReadAll(path_).size(), 380u + 4 * 1024);
  // Pages up to LastUsedPageNo stay.
  m.Truncate(5);
  EXPECT_EQ(m.GetTotalPageCount(), 2);
  EXPECT_EQ(ReadAll(path_).size(), 380u + 2 * 1024);
}

TEST_F(RzvDiskPageManagerTest, WrongCallsAndArgumentsAreRefusedBeforeTouchingTheFile) {
  WriteAll(path_, {1, 2, 3});
  struct Case {
    int32_t page_size, extent;
    RzvPassword pw;
    int32_t code;
  };
  const Case cases[] = {
      {512, 8, {"", 0}, 10465},    {1000, 8, {"", 0}, 10465},     {65536, 8, {"", 0}, 10465},
      {0, 8, {"", 0}, 10465},      {4096, 0, {"", 0}, 10466},     {4096, 5000, {"", 0}, 10466},
      {4096, 8, {"pw", 8}, 10467}, {4096, 8, {"pw", 255}, 10467},
  };
  for (const auto& c : cases) {
    RzvDiskPageManager m;
    EXPECT_EQ(CodeOf([&] { m.CreateDatabaseFile(path_, c.pw, c.extent, c.page_size); }), c.code)
        << c.page_size << " " << c.extent;
    EXPECT_FALSE(m.IsOpen());
  }
  EXPECT_EQ(ReadAll(path_), std::vector<uint8_t>({1, 2, 3}));
  // An unknown id without a password means no encryption at all.
  Create(path_, {"", 200});

  RzvDiskPageManager m;
  EXPECT_EQ(MessageOf([&] { m.ReadHeader(); }), "Error - database file is not opened.");
  EXPECT_EQ(CodeOf([&] { m.WriteHeader(); }), 10460);
  EXPECT_EQ(CodeOf([&] { m.ReadEncryptionHeader(); }), 30436);
  EXPECT_EQ(CodeOf([&] { m.GetNextObjectID(); }), 30399);
  Open(m, path_, {"", 0});
  EXPECT_EQ(MessageOf([&] {
              Open(m, path_, {"", 0});
            }),
            "Error - database file " + path_ + " is in use.");
  EXPECT_EQ(CodeOf([&] { m.CreateDatabaseFile(path_, {"", 0}); }), 10461);
}

}  // namespace
}  // namespace rzv
