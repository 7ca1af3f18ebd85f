// Pages of a database file through RzvDiskPageManager: encryption on the way
// out, decryption and CRC check on the way in, the commit's header bracket,
// system pages and multi-user revalidation.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/crc32.h"
#include "engine/storage/database_system_files.h"
#include "engine/storage/disk_page_manager.h"
#include "engine/storage/exception.h"
#include "engine/storage/memory_manager.h"
#include "rzv_test_support.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using ::rzv::testing::ExpectError;
using ::rzv::testing::ReadAll;
using ::rzv::testing::ScratchDir;
using ::rzv::testing::WriteAll;

constexpr int32_t kPage = 1024;
constexpr int32_t kData = kPage - 40;
constexpr int32_t kSession = 0;
constexpr uint8_t kRecord = static_cast<uint8_t>(RzvPageType::kTableRecord);

// A manager with a small cache over one file, opened or created on demand.
struct Db {
  explicit Db(const std::string& file) : path(file) {}
  void Create(const RzvPassword& pw) { m.CreateDatabaseFile(path, pw, 8, kPage); }
  bool Open(const RzvPassword& pw, bool multi_user = false) {
    bool needs_repair = false, read_only = false;
    m.OpenDatabaseFile(path, pw, multi_user, false, needs_repair, read_only);
    return needs_repair;
  }
  // Adds a record page filled with fill and commits it; returns its number.
  int32_t AddCommitted(uint8_t fill) {
    RzvPage* p = m.AddPage(kSession, RzvPageType::kTableRecord);
    std::memset(p->Data(), fill, kData);
    const int32_t no = p->PageNo();
    m.PutPage(p);
    m.ApplyChanges(kSession);
    return no;
  }
  std::vector<uint8_t> DataOf(int32_t page_no, bool revalidate = false) {
    RzvPage* p = m.GetPage(kSession, page_no, revalidate, kRecord);
    std::vector<uint8_t> data(p->Data(), p->Data() + kData);
    m.PutPage(p);
    return data;
  }
  std::string path;
  RzvDiskPageManager m{50};
};

std::vector<uint8_t> RawPage(const std::string& path, int32_t page_no) {
  auto bytes = ReadAll(path);
  auto start = bytes.begin() + 380 + static_cast<int64_t>(page_no) * kPage;
  return {start, start + kPage};
}

class RzvDiskPagesTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_.File("p.rzv");
};

TEST_F(RzvDiskPagesTest, CommittedPagesAreEncryptedOnDiskAndReadBackPlain) {
  const std::optional<uint8_t> ciphers[] = {std::nullopt, 0, 1, 2, 3, 4, 5, 6, 7};
  for (const auto& id : ciphers) {
    SCOPED_TRACE(id ? *id : -1);
    const RzvPassword pw{id ? "pw" : "", id.value_or(0)};
    int32_t no = 0;
    {
      Db db(path_);
      db.Create(pw);
      RzvPage* p = db.m.AddPage(kSession, RzvPageType::kTableRecord);
      for (int i = 0; i < kData; ++i) p->Data()[i] = static_cast<uint8_t>(i * 7);
      p->Header().SetPageVersion(0x7FFFFFFC);  // the next write wraps to 0
      no = p->PageNo();
      db.m.PutPage(p);
      db.m.ApplyChanges(kSession);
      EXPECT_EQ(db.m.Header().change_counter, 1);
      EXPECT_EQ(db.m.Header().file_state, 2);
    }
    EXPECT_EQ(no, 2);
    EXPECT_EQ(ReadAll(path_).size(), 380u + 6 * kPage);
    std::vector<uint8_t> plain(kData);
    for (int i = 0; i < kData; ++i) plain[i] = static_cast<uint8_t>(i * 7);

    const auto raw = RawPage(path_, no);
    RzvPageHeader h(const_cast<uint8_t*>(raw.data()));
    EXPECT_EQ(h.PageVersion(), 0);
    const bool data_is_plain = std::equal(plain.begin(), plain.end(), raw.begin() + 40);
    EXPECT_EQ(data_is_plain, !id);
    EXPECT_EQ(h.DataCrc(), id ? RzvCrc32(plain.data(), plain.size()) : 0u);
    EXPECT_EQ(h.PageCryptoAlgorithm(), id.value_or(0));
    // Free-space maps stay readable without the password.
    const auto pfs = RawPage(path_, 0);
    EXPECT_EQ(pfs[40], 0x07);  // pages 0, 1 and 2 in use

    Db db(path_);
    EXPECT_FALSE(db.Open(pw));
    EXPECT_EQ(db.DataOf(no), plain);
  }
}

TEST_F(RzvDiskPagesTest, AlteredPageFailsItsCrcCheck) {
  int32_t no = 0;
  {
    Db db(path_);
    db.Create({"pw", 0});
    no = db.AddCommitted(0x5A);
  }
  auto bytes = ReadAll(path_);
  bytes[380 + no * kPage + 40 + 100] ^= 0x01;
  WriteAll(path_, bytes);
  Db db(path_);
  db.Open({"pw", 0});
  ExpectError([&] { db.DataOf(no); }, 30446, "Decrypt page error. Check CRC failed. PageNo: 2",
              "no error");
}

TEST_F(RzvDiskPagesTest, PagesMarkedNotEncryptableStayPlain) {
  Db db(path_);
  db.Create({"pw", 0});
  RzvPage* p = db.m.AddPage(kSession, RzvPageType::kActiveSessionList);
  p->SetEncryptable(false);
  std::memset(p->Data(), 0x33, kData);
  const int32_t no = p->PageNo();
  db.m.PutPage(p);
  db.m.ApplyChanges(kSession);
  const auto raw = RawPage(path_, no);
  EXPECT_TRUE(std::all_of(raw.begin() + 40, raw.end(), [](uint8_t b) { return b == 0x33; }));
  EXPECT_EQ(LoadLE<uint32_t>(&raw[14]), 0u);
}

TEST_F(RzvDiskPagesTest, SystemPagesAreRefusedAndUnreadablePagesAreMarked) {
  Db db(path_);
  db.Create({"pw", 0});
  db.AddCommitted(1);
  for (int32_t no : {0, 1}) {
    const auto maps = ReadAll(path_);
    EXPECT_EQ(CodeOf([&] { db.m.GetPage(kSession, no, false, kAnyPageType); }), 30434);
    EXPECT_EQ(CodeOf([&] { db.m.DeletePage(kSession, no); }), 30434);
    EXPECT_EQ(CodeOf([&] { db.m.FreePageNo(no); }), 30434);
    EXPECT_EQ(ReadAll(path_), maps) << "map page " << no << " keeps its header";
  }
  // Beyond the end of the file: the read fails quietly, the page is invalid;
  // deleting it is refused before anything is written.
  RzvPage* p = db.m.GetPage(kSession, 100, false, kAnyPageType);
  EXPECT_EQ(p->Header().PageVersion(), kFailedPageVersion);
  db.m.PutPage(p);
  const auto before = ReadAll(path_);
  EXPECT_EQ(CodeOf([&] { db.m.DeletePage(kSession, 100); }), 30431);
  EXPECT_EQ(CodeOf([&] { db.m.FreePageNo(100); }), 30431);
  EXPECT_FALSE(db.m.HasChanges(kSession));
  EXPECT_EQ(ReadAll(path_), before);
  p = db.m.GetPage(kSession, 100, false, kAnyPageType);
  p->SetDirty(true);
  db.m.PutPage(p);
  EXPECT_EQ(CodeOf([&] { db.m.ApplyChanges(kSession); }), 30431);
  EXPECT_EQ(ReadAll(path_).size(), before.size());
}

TEST_F(RzvDiskPagesTest, FreedPagesAreStampedAndReused) {
  Db db(path_);
  db.Create({"pw", 3});
  const int32_t a = db.AddCommitted(1), b = db.AddCommitted(2), c = db.AddCommitted(3);
  EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({2, 3, 4}));
  db.m.DeletePage(kSession, b);
  db.m.ApplyChanges(kSession);
  EXPECT_EQ(LoadLE<int32_t>(&RawPage(path_, b)[4]), kFailedPageVersion);
  EXPECT_EQ(db.m.Header().change_counter, 4);
  EXPECT_EQ(db.AddCommitted(4), b);
  EXPECT_EQ(db.DataOf(c), std::vector<uint8_t>(kData, 3));
  EXPECT_EQ(db.m.GetTotalPageCount(), 6);
}

TEST_F(RzvDiskPagesTest, RefusedCommitKeepsTheFileConsistent) {
  Db db(path_);
  db.Create({"", 0});
  const int32_t committed = db.AddCommitted(1);
  // A new page still pinned, and a read page still pinned beside a change.
  RzvPage* added = db.m.AddPage(kSession, RzvPageType::kTableRecord);
  EXPECT_EQ(CodeOf([&] { db.m.ApplyChanges(kSession); }), 20086);
  EXPECT_EQ(ReadAll(path_)[42], 2);
  db.m.PutPage(added);
  RzvPage* read = db.m.GetPage(kSession, committed, false, kRecord);
  EXPECT_EQ(CodeOf([&] { db.m.ApplyChanges(kSession); }), 20152);
  EXPECT_EQ(ReadAll(path_)[42], 2);

  EXPECT_EQ(CodeOf([&] { db.m.CloseDatabaseFile(); }), 20097);
  EXPECT_TRUE(db.m.IsOpen());
  db.m.PutPage(read);
  db.m.CancelChanges(kSession);
  db.m.CloseDatabaseFile();
  Db again(path_);
  EXPECT_FALSE(again.Open({"", 0}));
}

TEST_F(RzvDiskPagesTest, CommitDeletingAFreePageFailsBeforeFreeingAnything) {
  // The free page comes after a used one in the deleted list; it was either
  // never handed out or released meanwhile by another session's commit.
  for (bool freed_by_other_session : {false, true}) {
    SCOPED_TRACE(freed_by_other_session);
    Db db(path_);
    db.Create({"pw", 0});
    const int32_t kept = db.AddCommitted(1);
    int32_t free_page = 5;
    if (freed_by_other_session) free_page = db.AddCommitted(2);
    db.m.DeletePage(kSession, kept);
    db.m.DeletePage(kSession, free_page);
    if (freed_by_other_session) {
      db.m.DeletePage(kSession + 1, free_page);
      db.m.ApplyChanges(kSession + 1);
    }
    const auto before = ReadAll(path_);
    ExpectError([&] { db.m.ApplyChanges(kSession); }, 30427,
                "Page: " + std::to_string(free_page) + " already free");
    EXPECT_EQ(ReadAll(path_), before);

    db.m.CancelChanges(kSession);
    EXPECT_FALSE(db.m.HasChanges(kSession));
    db.AddCommitted(3);
    db.m.CloseDatabaseFile();
    EXPECT_FALSE(db.Open({"pw", 0})) << "no repair needed";
    EXPECT_EQ(db.DataOf(kept), std::vector<uint8_t>(kData, 1));
  }
}

TEST_F(RzvDiskPagesTest, ProcessKilledInsideACommitLeavesARepairMarkAndOlderDataIntact) {
  int32_t no = 0;
  {
    Db db(path_);
    db.Create({"pw", 0});
    no = db.AddCommitted(0x11);
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Db db(path_);
    db.Open({"pw", 0});
    RzvPage* p = db.m.GetPage(kSession, no, false, kRecord);
    std::memset(p->Data(), 0x22, kData);
    p->SetDirty(true);
    db.m.PutPage(p);
    db.m.SetCommitHookForTest([] { raise(SIGKILL); });
    db.m.ApplyChanges(kSession);
    _exit(3);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  Db db(path_);
  EXPECT_TRUE(db.Open({"pw", 0}));
  EXPECT_EQ(db.DataOf(no), std::vector<uint8_t>(kData, 0x11));
}

TEST_F(RzvDiskPagesTest, FailedCommitKeepsTheRepairMarkThroughLaterCommits) {
  Db db(path_);
  db.Create({"", 0});
  db.AddCommitted(1);
  db.m.SetCommitHookForTest([] { throw std::runtime_error("disk full"); });
  RzvPage* p = db.m.AddPage(kSession, RzvPageType::kTableRecord);
  db.m.PutPage(p);
  EXPECT_THROW(db.m.ApplyChanges(kSession), std::runtime_error);
  db.m.CancelChanges(kSession);
  db.m.SetCommitHookForTest(nullptr);
  db.AddCommitted(2);
  EXPECT_EQ(ReadAll(path_)[42], 1);
  db.m.CloseDatabaseFile();
  EXPECT_TRUE(db.Open({"", 0}));
}

TEST_F(RzvDiskPagesTest, MultiUserRevalidationSeesOtherWriters) {
  Db a(path_);
  a.Create({"pw", 0});
  const int32_t no = a.AddCommitted(1);
  a.m.CloseDatabaseFile();
  a.Open({"pw", 0}, true);
  Db b(path_);
  b.Open({"pw", 0}, true);
  EXPECT_EQ(a.DataOf(no), std::vector<uint8_t>(kData, 1));

  RzvPage* p = b.m.GetPage(kSession, no, true, kRecord);
  std::memset(p->Data(), 2, kData);
  p->SetDirty(true);
  b.m.PutPage(p);
  b.m.ApplyChanges(kSession);

  EXPECT_EQ(a.DataOf(no, false), std::vector<uint8_t>(kData, 1)) << "cached copy";
  EXPECT_EQ(a.DataOf(no, true), std::vector<uint8_t>(kData, 2)) << "revalidated";
  EXPECT_EQ(a.m.Header().change_counter, 1) << "a did not commit";
  EXPECT_EQ(b.m.Header().change_counter, 2);
}

TEST_F(RzvDiskPagesTest, PageThatFailsItsCheckWhenRevalidatedIsNotServedLater) {
  Db a(path_);
  a.Create({"pw", 0});
  const int32_t no = a.AddCommitted(1);
  a.m.CloseDatabaseFile();
  a.Open({"pw", 0}, true);
  EXPECT_EQ(a.DataOf(no), std::vector<uint8_t>(kData, 1));

  // Another writer leaves the page with a new version and a damaged data area.
  auto bytes = ReadAll(path_);
  uint8_t* page = &bytes[380 + no * kPage];
  StoreLE<int32_t>(page + 4, LoadLE<int32_t>(page + 4) + 1);
  page[40 + 100] ^= 0x01;
  WriteAll(path_, bytes);

  for (bool revalidate : {true, true, false}) {
    SCOPED_TRACE(revalidate);
    EXPECT_EQ(CodeOf([&] { a.DataOf(no, revalidate); }), 30446);
  }
}

TEST_F(RzvDiskPagesTest, PageWithoutMemoryForItsBufferTakesNoPageNumber) {
  Db db(path_);
  db.Create({"", 0});
  db.AddCommitted(1);
  const std::vector<uint8_t> before = ReadAll(path_);
  RzvMemoryManager& memory = RzvMemoryManager::Instance();
  const int64_t limit = memory.Limit();
  memory.SetLimit(memory.TotalAllocated() + kPage - 1);
  const int32_t code = CodeOf([&] { db.m.AddPage(kSession, RzvPageType::kTableRecord); });
  memory.SetLimit(limit);
  EXPECT_EQ(code, 30004);
  EXPECT_EQ(ReadAll(path_), before);
  EXPECT_EQ(db.AddCommitted(2), 3);
}

TEST_F(RzvDiskPagesTest, SystemFilesAreCreatedAndReadBack) {
  // 3000 connections need ceil((3000 + 10) / 984) = 4 pages of sessions file.
  {
    Db db(path_);
    db.Create({"pw", 6});
    RzvDatabaseSystemFiles files(db.m);
    files.Create(3000);
    EXPECT_EQ(files.SessionsFile().Pages(), std::vector<int32_t>({3, 4, 5, 6}));
    RzvTableListEntry entry;
    entry.name = "Log";
    entry.table_id = db.m.GetNextObjectID();
    files.TableList().Add(kSystemSessionId, entry);
    db.m.ApplyChanges(kSystemSessionId);
  }
  Db db(path_);
  EXPECT_FALSE(db.Open({"pw", 0}));
  RzvDatabaseSystemFiles files(db.m);
  files.Open();
  EXPECT_EQ(files.MaxConnections(), 3000);
  ASSERT_EQ(files.TableList().Entries().size(), 1u);
  EXPECT_EQ(files.TableList().Entries()[0].name, "Log");
  EXPECT_EQ(files.TableList().Entries()[0].table_id, 1);

  // The pages in use are exactly the maps and the three files' chains.
  std::vector<int32_t> used;
  for (int32_t no = 0; no < db.m.GetTotalPageCount(); ++no) {
    if (db.m.FreeSpace()->IsPageUsed(no)) used.push_back(no);
  }
  std::vector<int32_t> expected{0, 1, 2};
  for (int32_t no : files.SessionsFile().Pages()) expected.push_back(no);
  expected.push_back(files.TableList().StartPageNo());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(used, expected);
  // The sessions file is plain on disk, the directory is not.
  EXPECT_EQ(LoadLE<uint32_t>(&RawPage(path_, 3)[14]), 0u);
  EXPECT_NE(LoadLE<uint32_t>(&RawPage(path_, 2)[14]), 0u);
}

TEST_F(RzvDiskPagesTest, SystemFilesCanBeCreatedAgainAfterAFailedCreate) {
  Db db(path_);
  db.Create({"", 0});
  RzvDatabaseSystemFiles files(db.m);
  // A page the system session still holds makes the commit refuse, after
  // all three files were created in the session.
  RzvPage* held = db.m.GetPage(kSystemSessionId, 5, false, kAnyPageType);
  EXPECT_EQ(CodeOf([&] { files.Create(500); }), 20152);
  EXPECT_FALSE(db.m.HasChanges(kSystemSessionId));
  db.m.PutPage(held);
  files.Create(700);
  EXPECT_EQ(files.Directory().StartPageNo(RzvSystemDirectory::kSessionsFileKind), 3);

  db.m.CloseDatabaseFile();
  EXPECT_FALSE(db.Open({"", 0}));
  RzvDatabaseSystemFiles reopened(db.m);
  reopened.Open();
  EXPECT_EQ(reopened.MaxConnections(), 700);
}

TEST_F(RzvDiskPagesTest, SystemFilesRefuseABadStart) {
  Db db(path_);
  db.Create({"", 0});
  RzvDatabaseSystemFiles files(db.m);
  EXPECT_EQ(CodeOf([&] { files.Create(0); }), 10479);
  db.AddCommitted(1);  // page 2 is taken
  ExpectError([&] { files.Create(500); }, 30392,
              "Error Creating SystemDirectory. SystemDirectoryPageNo=2. Real PageNo=3.",
              "no error");
  EXPECT_FALSE(db.m.HasChanges(kSystemSessionId));
  EXPECT_FALSE(db.m.FreeSpace()->IsPageUsed(3));
}

}  // namespace
}  // namespace rzv
