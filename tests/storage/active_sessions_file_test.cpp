#include "engine/storage/active_sessions_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "rzv_test_support.h"
#include "storage/db_test_files.h"
#include "storage/lock_test_processes.h"

namespace rzv {
namespace {

using ::rzv::testing::ChildProcess;
using ::rzv::testing::CodeOf;
using ::rzv::testing::ExpectError;
using ::rzv::testing::LockTestConnection;
using ::rzv::testing::LockTestDatabase;
using ::rzv::testing::ScratchDir;

constexpr const char* kNoSlot =
    "error 20094: Cannot connect session. Maximum connections quantity exceeded or database is "
    "open in single-user mode";

// A child that opens the database single-user and reports whether it got
// every slot and whether its file is read-only, then holds on until told.
std::string SingleUserOpen(const LockTestDatabase& db, ChildProcess& self) {
  LockTestConnection c(db, false);
  const bool owns = c.Sessions().TakeAll();
  self.Tell(std::string(owns ? "owns" : "read-only") + (c.ReadOnly() ? " file-read-only" : ""));
  self.AwaitGo();
  c.Sessions().ReleaseAll();
  return "closed";
}

std::string MultiUserConnect(const LockTestDatabase& db, ChildProcess& self) {
  LockTestConnection c(db, true);
  const int32_t slot = c.Sessions().Connect();
  self.Tell("slot " + std::to_string(slot));
  self.AwaitGo();
  c.Sessions().Disconnect(slot);
  return "closed";
}

class ActiveSessionsFileTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
};

TEST_F(ActiveSessionsFileTest, SingleUserOpenKeepsOtherProcessesOut) {
  const auto db = LockTestDatabase::Create(dir_.File("s.rzv"), 50);
  ChildProcess first([&](ChildProcess& self) { return SingleUserOpen(db, self); });
  ASSERT_EQ(first.Line(), "owns");

  ChildProcess second([&](ChildProcess& self) { return SingleUserOpen(db, self); });
  EXPECT_EQ(second.Line(), "read-only file-read-only");
  ChildProcess third([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  EXPECT_EQ(third.Line(), kNoSlot);

  // Once the owner has closed, the slots are free again; the read-only
  // process has nothing to give back.
  first.Go();
  EXPECT_EQ(first.Line(), "closed");
  first.Join();
  ChildProcess fourth([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  EXPECT_EQ(fourth.Line(), "slot 0");
  fourth.Go();
  second.Go();
  EXPECT_EQ(second.Line(), "closed");
}

TEST_F(ActiveSessionsFileTest, MultiUserConnectionsTakeTheLowestFreeSlot) {
  const auto db = LockTestDatabase::Create(dir_.File("m.rzv"), 2);
  ChildProcess a([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  ASSERT_EQ(a.Line(), "slot 0");
  ChildProcess b([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  ASSERT_EQ(b.Line(), "slot 1");
  ChildProcess c([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  EXPECT_EQ(c.Line(), kNoSlot);

  a.Go();
  EXPECT_EQ(a.Line(), "closed");
  ChildProcess d([&](ChildProcess& self) { return MultiUserConnect(db, self); });
  EXPECT_EQ(d.Line(), "slot 0");
  // A single-user open while others are connected gets no slots.
  ChildProcess e([&](ChildProcess& self) { return SingleUserOpen(db, self); });
  EXPECT_THAT(e.Line(), ::testing::StartsWith("read-only"));
  for (ChildProcess* p : {&b, &d, &e}) p->Go();
}

TEST_F(ActiveSessionsFileTest, ModeClashAndUnknownSlots) {
  const auto db = LockTestDatabase::Create(dir_.File("c.rzv"), 4);
  LockTestConnection c(db, true);
  RzvActiveSessionsFile& sessions = c.Sessions();

  ASSERT_TRUE(sessions.TakeAll());
  ExpectError([&] { sessions.Connect(); }, 20235,
              "Cannot open database in multi-user and signle-user mode at the same time",
              "connected in both modes");
  sessions.ReleaseAll();

  const int32_t slot = sessions.Connect();
  EXPECT_EQ(CodeOf([&] { sessions.TakeAll(); }), 20235);
  EXPECT_EQ(CodeOf([&] { sessions.Disconnect(slot + 1); }), 20095);
  EXPECT_EQ(CodeOf([&] { sessions.Disconnect(-1); }), 20095);
  sessions.Disconnect(slot);
  EXPECT_EQ(CodeOf([&] { sessions.Disconnect(slot); }), 20095);
  // With every connection gone, either mode may come next.
  EXPECT_EQ(sessions.Mode(), RzvSessionsMode::kNone);
  EXPECT_TRUE(sessions.TakeAll());
  sessions.ReleaseAll();
}

TEST_F(ActiveSessionsFileTest, SlotsStayClaimedUntilTheLastSingleUserConnectionCloses) {
  const auto db = LockTestDatabase::Create(dir_.File("n.rzv"), 3);
  LockTestConnection owner(db, false);
  LockTestConnection other(db, true);  // another handle: behaves like another process

  ASSERT_TRUE(owner.Sessions().TakeAll());
  ASSERT_TRUE(owner.Sessions().TakeAll());
  EXPECT_EQ(owner.Sessions().ConnectionCount(), 2);
  EXPECT_EQ(other.Sessions().CountSlotsHeldElsewhere(), 3);
  owner.Sessions().ReleaseAll();
  EXPECT_EQ(CodeOf([&] { other.Sessions().Connect(); }), 20094);
  owner.Sessions().ReleaseAll();
  EXPECT_EQ(other.Sessions().CountSlotsHeldElsewhere(), 0);
  EXPECT_EQ(other.Sessions().Connect(), 0);
  EXPECT_EQ(owner.Sessions().CountSlotsHeldElsewhere(), 1);
}

TEST_F(ActiveSessionsFileTest, SlotsSpanningSeveralPagesAreClaimedWhole) {
  // 5000 slots need two 4096-byte pages.
  const auto db = LockTestDatabase::Create(dir_.File("big.rzv"), 5000);
  LockTestConnection owner(db, false);
  LockTestConnection other(db, true);
  ASSERT_EQ(owner.Sessions().File().Pages().size(), 2u);
  ASSERT_TRUE(owner.Sessions().TakeAll());
  EXPECT_EQ(other.Sessions().CountSlotsHeldElsewhere(), 5000);
  for (int32_t slot : {0, 4045, 4046, 4999})
    EXPECT_TRUE(other.Sessions().File().IsByteLocked(slot)) << slot;
  owner.Sessions().ReleaseAll();
  EXPECT_EQ(other.Sessions().CountSlotsHeldElsewhere(), 0);
}

TEST_F(ActiveSessionsFileTest, AStuckMutexFailsAfterTheRetries) {
  const auto db = LockTestDatabase::Create(dir_.File("mx.rzv"), 4);
  LockTestConnection holder(db, true);
  LockTestConnection c(db, true);
  const int32_t slot = c.Sessions().Connect();
  ASSERT_TRUE(holder.Sessions().File().LockFile());

  EXPECT_EQ(CodeOf([&] { c.Sessions().Connect(); }), 20094);
  // Giving a slot back does not wait for the mutex.
  c.Sessions().Disconnect(slot);
  EXPECT_FALSE(holder.Sessions().File().IsByteLocked(slot));
  // A single-user open that cannot get at the slots is read-only.
  EXPECT_FALSE(c.Sessions().TakeAll());
  c.Sessions().ReleaseAll();

  ASSERT_TRUE(holder.Sessions().File().UnlockFile());
  EXPECT_EQ(c.Sessions().Connect(), 0);
}

}  // namespace
}  // namespace rzv
