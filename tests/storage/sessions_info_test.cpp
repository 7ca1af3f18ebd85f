// `rzv info` on a database that other processes have open: the tool only
// queries the slot locks, so the holders keep everything they hold.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "storage/db_test_files.h"
#include "storage/lock_test_processes.h"

namespace rzv {
namespace {

using ::rzv::testing::LockTestConnection;
using ::rzv::testing::LockTestDatabase;
using ::rzv::testing::ScratchDir;
using ::testing::AllOf;
using ::testing::HasSubstr;

std::string InfoOf(const std::string& path) {
  std::string out;
  FILE* p = ::popen((std::string(RZV_TOOL_PATH) + " info " + path + " 2>&1").c_str(), "r");
  if (p == nullptr) return "popen failed";
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  ::pclose(p);
  return out;
}

TEST(SessionsInfoTest, ReportsSlotsHeldByOthersWithoutDisturbingThem) {
  ScratchDir dir;
  const auto db = LockTestDatabase::Create(dir.File("i.rzv"), 3);
  EXPECT_THAT(InfoOf(db.path),
              AllOf(HasSubstr("slots held: 0 of 3\n"), HasSubstr("open elsewhere: no\n")));

  {
    LockTestConnection a(db, true), b(db, true);
    const int32_t s0 = a.Sessions().Connect(), s1 = b.Sessions().Connect();
    EXPECT_THAT(InfoOf(db.path), AllOf(HasSubstr("slots held: 2 of 3\n"),
                                       HasSubstr("open elsewhere: in multi-user mode\n")));
    LockTestConnection c(db, true);
    c.Sessions().Connect();
    // Every slot taken by single connections is still multi-user.
    EXPECT_THAT(InfoOf(db.path), AllOf(HasSubstr("slots held: 3 of 3\n"),
                                       HasSubstr("open elsewhere: in multi-user mode\n")));
    EXPECT_TRUE(a.Sessions().File().IsByteLocked(s1));
    EXPECT_TRUE(b.Sessions().File().IsByteLocked(s0));
  }

  LockTestConnection owner(db, false);
  ASSERT_TRUE(owner.Sessions().TakeAll());
  EXPECT_THAT(InfoOf(db.path), AllOf(HasSubstr("slots held: 3 of 3\n"),
                                     HasSubstr("open elsewhere: in single-user mode\n")));
  // The owner still holds every slot.
  LockTestConnection other(db, true);
  EXPECT_EQ(other.Sessions().CountSlotsHeldElsewhere(), 3);
}

// The kernel merges a handle's adjacent byte locks, so one process with two
// multi-user connections holds slots 0..1 as one range; that is not yet a
// claim of every slot.
TEST(SessionsInfoTest, AdjacentSlotsOfOneProcessAreNotASingleUserClaim) {
  ScratchDir dir;
  const auto db = LockTestDatabase::Create(dir.File("j.rzv"), 3);
  LockTestConnection a(db, true), b(db, true);
  ASSERT_EQ(a.Sessions().Connect(), 0);
  ASSERT_EQ(a.Sessions().Connect(), 1);
  ASSERT_EQ(b.Sessions().Connect(), 2);
  EXPECT_THAT(InfoOf(db.path), AllOf(HasSubstr("slots held: 3 of 3\n"),
                                     HasSubstr("open elsewhere: in multi-user mode\n")));
}

}  // namespace
}  // namespace rzv
