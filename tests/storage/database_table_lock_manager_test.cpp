#include "engine/storage/database_table_lock_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "rzv_test_support.h"
#include "storage/db_test_files.h"
#include "storage/lock_test_processes.h"

namespace rzv {
namespace {

using ::rzv::testing::ChildProcess;
using ::rzv::testing::CodeOf;
using ::rzv::testing::ExpectError;
using ::rzv::testing::kOneTry;
using ::rzv::testing::LockTestConnection;
using ::rzv::testing::LockTestDatabase;
using ::rzv::testing::ScratchDir;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr RzvRecordLockId kRecordA{7, 1};
constexpr RzvRecordLockId kRecordB{7, 2};

class DatabaseTableLockManagerTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  LockTestDatabase db_ = LockTestDatabase::Create(dir_.File("t.rzv"), 8, 2);
};

// Takes kind k for a session: LockRecord for kind 5, LockTable otherwise.
bool Take(RzvDatabaseTableLockManager& m, int32_t session, RzvInternalDBDirectAccessFile& t,
          int32_t kind, const RzvRecordLockId& record) {
  if (kind == kRzvTableLockRecord) return m.LockRecord(session, t, kOneTry, record);
  return m.LockTable(session, t, kind, kOneTry);
}

void Give(RzvDatabaseTableLockManager& m, int32_t session, RzvInternalDBDirectAccessFile& t,
          int32_t kind, const RzvRecordLockId& record) {
  if (kind == kRzvTableLockRecord) return m.UnlockRecord(session, t, record);
  m.UnlockTable(session, t, kind);
}

TEST_F(DatabaseTableLockManagerTest, CompatibilityMatrix) {
  // kAllowed[held][wanted]: may a session take `wanted` while another holds `held`?
  constexpr int kAllowed[7][7] = {
      {1, 1, 1, 1, 1, 1, 0}, {1, 1, 1, 1, 0, 1, 0}, {1, 1, 1, 0, 1, 1, 0}, {1, 1, 0, 0, 0, 1, 0},
      {1, 0, 1, 0, 0, 1, 0}, {1, 1, 1, 1, 1, 1, 0}, {0, 0, 0, 0, 0, 0, 0},
  };
  // The holder is another process's handle; the asker's sessions 1 and 2
  // share one handle, so its own sessions must see each other as well.
  LockTestConnection holder(db_, true);
  LockTestConnection asker(db_, true);
  for (int held = 0; held < 7; ++held) {
    for (int wanted = 0; wanted < 7; ++wanted) {
      for (auto [holding, h_session] : {std::pair{&holder, 0}, std::pair{&asker, 2}}) {
        SCOPED_TRACE(::testing::Message()
                     << "held " << held << " wanted " << wanted
                     << (holding == &holder ? " other handle" : " same handle"));
        RzvDatabaseTableLockManager& hm = holding->Locks();
        ASSERT_TRUE(Take(hm, h_session, holding->Table(), held, kRecordA));
        const bool got = Take(asker.Locks(), 1, asker.Table(), wanted, kRecordB);
        EXPECT_EQ(got, kAllowed[held][wanted] == 1);
        if (got) Give(asker.Locks(), 1, asker.Table(), wanted, kRecordB);
        Give(hm, h_session, holding->Table(), held, kRecordA);
      }
    }
  }
}

TEST_F(DatabaseTableLockManagerTest, CommitLockWaitsForAReaderInAnotherProcess) {
  ChildProcess reader([&](ChildProcess& self) {
    LockTestConnection c(db_, true);
    const int32_t s = c.Sessions().Connect();
    if (!c.Locks().LockTable(s, c.Table(), kRzvTableLockRead, kOneTry)) return std::string("no");
    self.Tell("reading");
    self.AwaitGo();
    std::this_thread::sleep_for(milliseconds(150));
    c.Locks().UnlockTable(s, c.Table(), kRzvTableLockRead);
    return std::string("done");
  });
  ASSERT_EQ(reader.Line(), "reading");

  LockTestConnection c(db_, true);
  const int32_t s = c.Sessions().Connect();
  ASSERT_TRUE(c.Locks().LockTable(s, c.Table(), kRzvTableLockRead, kOneTry));  // readers share
  c.Locks().UnlockTable(s, c.Table(), kRzvTableLockRead);
  EXPECT_FALSE(c.Locks().LockTable(s, c.Table(), kRzvTableLockCommit, {milliseconds(4), 3}));

  const auto start = steady_clock::now();
  reader.Go();
  EXPECT_TRUE(c.Locks().LockTable(s, c.Table(), kRzvTableLockCommit, {milliseconds(20), 200}));
  EXPECT_GE(steady_clock::now() - start, milliseconds(150));
  EXPECT_EQ(reader.Line(), "done");
}

TEST_F(DatabaseTableLockManagerTest, AWaitingSessionLetsTheOthersOfItsProcessGoOn) {
  LockTestConnection c(db_, true);
  RzvDatabaseTableLockManager& m = c.Locks();
  ASSERT_TRUE(m.LockTable(0, c.Table(), kRzvTableLockRead, kOneTry));
  bool got = false;
  std::thread waiter([&] {
    got = m.LockTable(1, c.Table(), kRzvTableLockCommit, {milliseconds(10), 100});
  });
  std::this_thread::sleep_for(milliseconds(30));
  // Only possible while the waiter sleeps outside the critical section;
  // otherwise this blocks until the waiter has given up.
  m.UnlockTable(0, c.Table(), kRzvTableLockRead);
  waiter.join();
  EXPECT_TRUE(got);
}

TEST_F(DatabaseTableLockManagerTest, RecordLocksOfTwoProcesses) {
  ChildProcess other([&](ChildProcess& self) {
    LockTestConnection c(db_, true);
    const int32_t s = c.Sessions().Connect();
    self.Tell(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA) ? "locked" : "refused");
    self.AwaitGo();
    return std::string("done");
  });
  ASSERT_EQ(other.Line(), "locked");

  LockTestConnection c(db_, true);
  const int32_t s = c.Sessions().Connect();
  EXPECT_TRUE(c.Locks().LockRecord(s, c.Table(1), kOneTry, kRecordA));  // another table
  EXPECT_TRUE(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordB));
  EXPECT_FALSE(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA));  // one per table
  c.Locks().UnlockRecord(s, c.Table(), kRecordB);

  const auto start = steady_clock::now();
  EXPECT_FALSE(c.Locks().LockRecord(s, c.Table(), {milliseconds(10), 5}, kRecordA));
  const auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(40));  // four pauses between five tries
  EXPECT_LT(waited, milliseconds(2000));
  other.Go();
  EXPECT_EQ(other.Line(), "done");
  other.Join();
  EXPECT_TRUE(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA));
}

TEST_F(DatabaseTableLockManagerTest, AKilledProcessLeavesNoLockBehind) {
  ChildProcess victim([&](ChildProcess& self) {
    LockTestConnection c(db_, true);
    const int32_t s = c.Sessions().Connect();
    bool ok = c.Locks().LockTable(s, c.Table(), kRzvTableLockOpen, kOneTry) &&
              c.Locks().LockTable(s, c.Table(), kRzvTableLockWrite, kOneTry) &&
              c.Locks().LockTable(s, c.Table(1), kRzvTableLockExclusive, kOneTry) &&
              c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA);
    self.Tell(ok ? "holding slot " + std::to_string(s) : "failed");
    self.AwaitGo(10000);
    return std::string("not killed");
  });
  ASSERT_EQ(victim.Line(), "holding slot 0");

  LockTestConnection c(db_, true);
  const int32_t s = c.Sessions().Connect();
  ASSERT_EQ(s, 1);
  EXPECT_FALSE(c.Locks().LockTable(s, c.Table(), kRzvTableLockWrite, kOneTry));
  EXPECT_FALSE(c.Locks().LockTable(s, c.Table(1), kRzvTableLockOpen, kOneTry));
  EXPECT_FALSE(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA));

  victim.Kill();
  const int status = victim.Join();
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_FALSE(c.Sessions().File().IsByteLocked(0));
  for (size_t t = 0; t < 2; ++t) {
    // Nothing but this process's own slot remains locked anywhere.
    EXPECT_FALSE(c.Table(t).IsRegionLocked(c.Table(t).FileSize(), 0)) << t;
  }
  EXPECT_TRUE(c.Locks().LockRecord(s, c.Table(), kOneTry, kRecordA));
  EXPECT_TRUE(c.Locks().LockTable(s, c.Table(), kRzvTableLockWrite, kOneTry));
  EXPECT_TRUE(c.Locks().LockTable(s, c.Table(1), kRzvTableLockExclusive, kOneTry));
  EXPECT_EQ(c.Sessions().Connect(), 0);
}

TEST_F(DatabaseTableLockManagerTest, ExclusiveOpenIsSeenByOtherProcesses) {
  ChildProcess owner([&](ChildProcess& self) {
    LockTestConnection c(db_, true);
    const int32_t s = c.Sessions().Connect();
    c.Locks().LockTableForOpen(s, c.Table(), "GND", true);
    self.Tell("exclusive");
    self.AwaitGo();
    return std::string("done");
  });
  ASSERT_EQ(owner.Line(), "exclusive");

  LockTestConnection c(db_, true);
  RzvDatabaseTableLockManager& m = c.Locks();
  const int32_t s = c.Sessions().Connect();
  EXPECT_FALSE(m.LockTable(s, c.Table(), kRzvTableLockOpen, kOneTry));
  EXPECT_FALSE(m.LockRecord(s, c.Table(), kOneTry, kRecordA));
  ExpectError([&] { m.LockTableForOpen(s, c.Table(), "GND", false); }, 20209,
              "Cannot open table 'GND'. Table is locked",
              "opened a table held exclusively elsewhere");
  owner.Go();
  EXPECT_EQ(owner.Line(), "done");
  owner.Join();
  m.LockTableForOpen(s, c.Table(), "GND", false);
  EXPECT_EQ(m.LockCount(s, c.Table().StartPageNo(), kRzvTableLockOpen), 1);

  LockTestConnection d(db_, true);
  const int32_t t = d.Sessions().Connect();
  ExpectError([&] { d.Locks().LockTableForOpen(t, d.Table(), "GND", true); }, 20208,
              "Cannot access table 'GND' in exclusive mode. Probably the table is open by another "
              "user",
              "exclusive beside a shared open");
}

TEST_F(DatabaseTableLockManagerTest, CoverageIsPerTableAndOutlivesNoCover) {
  LockTestConnection a(db_, true);
  LockTestConnection b(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  const int32_t table0 = a.Table().StartPageNo();

  // Kind 6 on table 0 covers every kind on table 0 but nothing on table 1.
  ASSERT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockExclusive, kOneTry));
  ASSERT_TRUE(b.Locks().LockTable(1, b.Table(1), kRzvTableLockRead, kOneTry));
  EXPECT_FALSE(m.LockTable(0, a.Table(1), kRzvTableLockCommit, kOneTry));
  EXPECT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockRead, kOneTry));
  EXPECT_EQ(m.LockCount(0, table0, kRzvTableLockRead), 1);

  // Giving up kind 6 first leaves kind 1 in force: others may open the table
  // but not commit on it.
  m.UnlockTable(0, a.Table(), kRzvTableLockExclusive);
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(), kRzvTableLockOpen, kOneTry));
  EXPECT_FALSE(b.Locks().LockTable(1, b.Table(), kRzvTableLockCommit, kOneTry));
  m.UnlockTable(0, a.Table(), kRzvTableLockRead);
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(), kRzvTableLockCommit, kOneTry));
}

TEST_F(DatabaseTableLockManagerTest, NestedCountsAndRepeatedKindTwo) {
  LockTestConnection a(db_, true);
  LockTestConnection b(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  ASSERT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockWrite, kOneTry));
  ASSERT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockWrite, kOneTry));
  m.UnlockTable(0, a.Table(), kRzvTableLockWrite);
  EXPECT_FALSE(b.Locks().LockTable(1, b.Table(), kRzvTableLockWrite, kOneTry));
  m.UnlockTable(0, a.Table(), kRzvTableLockWrite);
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(), kRzvTableLockWrite, kOneTry));
  EXPECT_EQ(CodeOf([&] { m.UnlockTable(0, a.Table(), kRzvTableLockWrite); }), 20202);
  b.Locks().UnlockTable(1, b.Table(), kRzvTableLockWrite);

  ASSERT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockNoWriters, kOneTry));
  EXPECT_FALSE(m.LockTable(0, a.Table(), kRzvTableLockNoWriters, kOneTry));
  EXPECT_EQ(m.LockCount(0, a.Table().StartPageNo(), kRzvTableLockNoWriters), 1);
  // Another session's kind 2 keeps kind 3 out unless the caller admits it.
  EXPECT_FALSE(b.Locks().LockTable(1, b.Table(), kRzvTableLockWrite, kOneTry));
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(), kRzvTableLockWrite, kOneTry, true, true));
}

TEST_F(DatabaseTableLockManagerTest, CommitTakesKindFourOnModifiedTables) {
  LockTestConnection a(db_, true);
  LockTestConnection b(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  const int32_t t0 = a.Table(0).StartPageNo(), t1 = a.Table(1).StartPageNo();
  ASSERT_TRUE(m.LockTable(0, a.Table(0), kRzvTableLockWrite, kOneTry));
  ASSERT_TRUE(m.LockTable(0, a.Table(1), kRzvTableLockWrite, kOneTry));
  ASSERT_TRUE(b.Locks().LockTable(1, b.Table(1), kRzvTableLockRead, kOneTry));

  // A reader on one modified table fails the commit and leaves no kind 4.
  EXPECT_FALSE(m.BeforeCommit(0));
  EXPECT_EQ(m.LockCount(0, t0, kRzvTableLockCommit), 0);
  EXPECT_EQ(m.LockCount(0, t1, kRzvTableLockCommit), 0);
  ExpectError([&] { m.LockModifiedTablesForCommit(0); }, 20233,
              "Cannot commit changes. Locks of modified tables failed",
              "commit locks taken beside a reader");
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(0), kRzvTableLockRead, kOneTry));

  b.Locks().ReleaseSession(1);
  m.LockModifiedTablesForCommit(0);
  EXPECT_EQ(m.LockCount(0, t0, kRzvTableLockCommit), 1);
  EXPECT_EQ(m.LockCount(0, t1, kRzvTableLockCommit), 1);
  EXPECT_FALSE(b.Locks().LockTable(1, b.Table(0), kRzvTableLockRead, kOneTry));

  m.AfterCommit(0);
  for (int32_t t : {t0, t1}) {
    EXPECT_EQ(m.LockCount(0, t, kRzvTableLockWrite), 0);
    EXPECT_EQ(m.LockCount(0, t, kRzvTableLockCommit), 0);
  }
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(0), kRzvTableLockWrite, kOneTry));
}

TEST_F(DatabaseTableLockManagerTest, CommitLockThatFailsHardGivesBackTheOnesTaken) {
  LockTestConnection a(db_, true);
  LockTestConnection b(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  const int32_t t0 = a.Table(0).StartPageNo();
  ASSERT_TRUE(m.LockTable(0, a.Table(0), kRzvTableLockWrite, kOneTry));
  ASSERT_TRUE(m.LockTable(0, a.Table(1), kRzvTableLockWrite, kOneTry));
  // Session 0's kind-4 byte of table 1 is already taken on this handle, so
  // that lock passes every check and then cannot be set.
  const int32_t kind4_byte = kRzvTableLockCommit * db_.max_connections + 0;
  ASSERT_TRUE(a.Table(1).LockByte(kind4_byte));

  EXPECT_EQ(CodeOf([&] { m.BeforeCommit(0); }), 20203);
  EXPECT_EQ(m.LockCount(0, t0, kRzvTableLockCommit), 0);
  EXPECT_TRUE(b.Locks().LockTable(1, b.Table(0), kRzvTableLockRead, kOneTry))
      << "table 0 still closed to readers";
  b.Locks().ReleaseSession(1);

  a.Table(1).UnlockByte(kind4_byte);
  EXPECT_TRUE(m.BeforeCommit(0));
  EXPECT_EQ(m.LockCount(0, t0, kRzvTableLockCommit), 1);
}

TEST_F(DatabaseTableLockManagerTest, RecordLocksUnderAnExemptingWriteLockArePublishedAfterCommit) {
  LockTestConnection a(db_, true);
  LockTestConnection b(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  ASSERT_TRUE(m.LockTable(0, a.Table(), kRzvTableLockWrite, kOneTry, /*keep_record_locks=*/false));
  ASSERT_TRUE(m.LockRecord(0, a.Table(), kOneTry, kRecordA));
  EXPECT_FALSE(a.Table().IsByteLocked(5 * db_.max_connections + 0));  // not in the file yet

  m.AfterCommit(0);
  EXPECT_FALSE(b.Locks().LockRecord(1, b.Table(), kOneTry, kRecordA));
  EXPECT_TRUE(b.Locks().LockRecord(1, b.Table(), kOneTry, kRecordB));
  m.UnlockRecord(0, a.Table(), kRecordA);
  b.Locks().UnlockRecord(1, b.Table(), kRecordB);
  EXPECT_TRUE(b.Locks().LockRecord(1, b.Table(), kOneTry, kRecordA));
}

TEST_F(DatabaseTableLockManagerTest, BadRequestsAreRefusedWithTheirCodes) {
  LockTestConnection a(db_, true);
  RzvDatabaseTableLockManager& m = a.Locks();
  const int32_t n = db_.max_connections;
  ASSERT_TRUE(m.LockRecord(0, a.Table(), kOneTry, kRecordA));
  const struct {
    const char* what;
    std::function<void()> call;
    int32_t code;
  } cases[] = {
      {"session N", [&] { m.LockTable(n, a.Table(), 0, kOneTry); }, 20200},
      {"session -1", [&] { m.LockTable(-1, a.Table(), 0, kOneTry); }, 20200},
      {"record session N", [&] { m.LockRecord(n, a.Table(), kOneTry, kRecordA); }, 20200},
      {"kind 7", [&] { m.LockTable(0, a.Table(), 7, kOneTry); }, 20203},
      {"kind -1", [&] { m.LockTable(0, a.Table(), -1, kOneTry); }, 20203},
      {"kind 5 as a table lock", [&] { m.LockTable(0, a.Table(), 5, kOneTry); }, 20203},
      {"unlock not held", [&] { m.UnlockTable(1, a.Table(), 0); }, 20202},
      {"unlock session N", [&] { m.UnlockTable(n, a.Table(), 0); }, 20202},
      {"unlock another record", [&] { m.UnlockRecord(0, a.Table(), kRecordB); }, 20202},
      {"unlock record of another table", [&] { m.UnlockRecord(0, a.Table(1), kRecordA); }, 20202},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeOf(c.call), c.code) << c.what;
  // Nothing held was disturbed.
  EXPECT_TRUE(a.Table().IsByteLocked(5 * n + 0));
  EXPECT_EQ(m.LockCount(0, a.Table().StartPageNo(), kRzvTableLockRecord), 1);

  // A lock file made for another MaxConnections.
  RzvDatabaseTableLockManager other_size(n + 1, false);
  EXPECT_EQ(CodeOf([&] { other_size.LockTable(0, a.Table(), 0, kOneTry); }), 20200);
}

TEST_F(DatabaseTableLockManagerTest, ExclusiveDatabaseNeedsNoLockFile) {
  RzvDatabaseTableLockManager m(db_.max_connections, true);
  LockTestConnection a(db_, true);
  RzvInternalDBDirectAccessFile closed(a.PageManager(), a.PageManager().PageSize(),
                                       RzvPageType::kTableLocks);
  EXPECT_TRUE(m.LockTable(0, closed, kRzvTableLockExclusive, kOneTry));
  EXPECT_TRUE(m.LockRecord(0, closed, kOneTry, kRecordA));
  EXPECT_TRUE(m.BeforeCommit(0));
  m.UnlockTable(0, closed, kRzvTableLockExclusive);
  m.UnlockRecord(0, closed, kRecordA);
  m.AfterCommit(0);
}

}  // namespace
}  // namespace rzv
