#include "engine/storage/database_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"
#include "storage/db_test_files.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using ::rzv::testing::ReadAll;
using ::rzv::testing::ScratchDir;
using ::rzv::testing::WhatOf;
using ::rzv::testing::WriteAll;
using ::testing::HasSubstr;

class RzvDatabaseFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteAll(path_, std::vector<uint8_t>(100, 0x11)); }
  ScratchDir dir_;
  std::string path_ = dir_.File("f.rzv");
};

TEST_F(RzvDatabaseFileTest, OperationsInTheWrongStateNameThemselves) {
  RzvDatabaseFile f;
  uint8_t b[4] = {};
  const std::pair<const char*, std::function<void()>> closed_ops[] = {
      {"CloseFile", [&] { f.CloseFile(); }},
      {"Seek", [&] { f.Seek(0); }},
      {"GetSize", [&] { f.GetSize(); }},
      {"SetSize", [&] { f.SetSize(0); }},
      {"ReadBuffer", [&] { f.ReadBuffer(b, 0, 1); }},
      {"WriteBuffer", [&] { f.WriteBuffer(b, 0, 1, 1); }},
      {"FlushFileBuffers", [&] { f.FlushFileBuffers(); }},
      {"LockByte", [&] { f.LockByte(1, 0); }},
      {"UnlockByte", [&] { f.UnlockByte(1, 0); }},
      {"IsRegionLocked", [&] { f.IsByteLocked(0); }},
  };
  for (const auto& [name, op] : closed_ops) {
    EXPECT_EQ(WhatOf(op), std::string("Cannot perform this operation (") + name +
                              ") on a closed file - Native error: 30376");
  }
  f.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  EXPECT_EQ(WhatOf([&] { f.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite); }),
            "Cannot perform this operation (OpenFile) on a opened file - Native error: 30377");
  EXPECT_EQ(CodeOf([&] { f.CreateFile(path_); }), 30377);
}

TEST_F(RzvDatabaseFileTest, OpenAndCreateRejectBadArguments) {
  RzvDatabaseFile f;
  EXPECT_EQ(WhatOf([&] { f.OpenFile(path_, 2, 1); }),
            "Unknown Access mode: '2' - Native error: 30366");
  EXPECT_EQ(WhatOf([&] { f.OpenFile(path_, 1, 3); }),
            "Unknown Share mode: '3' - Native error: 30367");
  EXPECT_EQ(CodeOf([&] { f.CreateFile(""); }), 30374);
  const std::string missing = dir_.File("missing.rzv");
  EXPECT_EQ(WhatOf([&] { f.OpenFile(missing, 0, 1); }),
            "Cannot open file:'" + missing + "' Error code: " + std::to_string(ENOENT) +
                ". ErrorMessage: " + std::strerror(ENOENT) + " - Native error: 30364");
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(RzvDatabaseFileTest, CreateReplacesAndReadsWriteBack) {
  RzvDatabaseFile f;
  f.CreateFile(path_);
  EXPECT_EQ(f.GetSize(), 0);
  const char text[] = "0123456789";
  f.WriteBuffer(text, 5, 10, 10462);
  EXPECT_EQ(f.GetSize(), 15);
  char back[10];
  ASSERT_TRUE(f.ReadBuffer(back, 5, 10));
  EXPECT_EQ(std::memcmp(back, text, 10), 0);
  // A short read is a failure: silent without a code, loud with one.
  EXPECT_FALSE(f.ReadBuffer(back, 10, 10));
  EXPECT_THAT(
      WhatOf([&] { f.ReadBuffer(back, 10, 10, 10464); }),
      HasSubstr("Cannot Read from file: '" + path_ +
                "' Position = 10, Count = 10, FilePosition = 0, FileSize = 15, ErrorCode:"));
  EXPECT_EQ(CodeOf([&] { f.ReadBuffer(back, 10, 10, 10464); }), 10464);
  f.SetSize(7);
  EXPECT_EQ(f.GetSize(), 7);
  EXPECT_TRUE(f.Seek(7));
  EXPECT_FALSE(f.Seek(8));
  EXPECT_EQ(WhatOf([&] { f.SetPosition(9); }),
            "Cannot Set File Position to 9. FileName='" + path_ +
                "'. FilePosition = 7, FileSize = 7 - Native error: 30372");
  EXPECT_EQ(CodeOf([&] { f.SetPosition(-1, 555); }), 555);
  f.FlushFileBuffers();
  f.CloseFile();
  EXPECT_EQ(ReadAll(path_), std::vector<uint8_t>({0, 0, 0, 0, 0, '0', '1'}));
}

TEST_F(RzvDatabaseFileTest, DescriptorsAreNotInheritedByChildPrograms) {
  RzvDatabaseFile created, opened;
  const std::string other = dir_.File("g.rzv");
  created.CreateFile(other);
  opened.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(entry.path(), ec);
    if (ec || (target != path_ && target != other)) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << target;
    ++found;
  }
  EXPECT_EQ(found, 2);
}

TEST_F(RzvDatabaseFileTest, ReadAccessRefusesChangesAndKeepsTheFile) {
  RzvDatabaseFile f;
  f.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  uint8_t b = 0x22;
  EXPECT_THAT(WhatOf([&] { f.WriteBuffer(&b, 0, 1, 30404); }),
              HasSubstr("Cannot Write to file: '" + path_ + "' Position = 0, Count = 1"));
  EXPECT_EQ(CodeOf([&] { f.SetSize(0); }), 30370);
  f.CloseFile();
  EXPECT_EQ(ReadAll(path_), std::vector<uint8_t>(100, 0x11));
}

TEST_F(RzvDatabaseFileTest, ByteLocksConflictBetweenHandlesAndQueriesDoNotDisturb) {
  RzvDatabaseFile a, b;
  a.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  b.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  ASSERT_TRUE(a.LockByte(1, 360));
  EXPECT_FALSE(a.LockByte(1, 360)) << "a handle cannot lock a range twice";
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(b.IsByteLocked(360));
    EXPECT_TRUE(a.IsByteLocked(360));
    EXPECT_FALSE(b.LockByte(1, 360));
  }
  EXPECT_FALSE(b.IsByteLocked(359));
  EXPECT_TRUE(b.IsRegionLocked(10, 355));
  EXPECT_FALSE(b.IsRegionLocked(10, 361));
  // Locks may lie beyond the end of the file.
  EXPECT_TRUE(b.LockByte(500, 1000));
  EXPECT_FALSE(a.LockByte(1, 1499));

  EXPECT_FALSE(b.UnlockByte(1, 360)) << "b does not hold it";
  EXPECT_FALSE(a.UnlockByte(1, 361));
  EXPECT_TRUE(a.UnlockByte(1, 360));
  EXPECT_TRUE(b.LockByte(1, 360));
  b.CloseFile();  // closing releases every lock of the handle
  EXPECT_TRUE(a.LockByte(1, 360));
  EXPECT_TRUE(a.LockByte(1, 1499));
}

TEST_F(RzvDatabaseFileTest, ReadAccessHandlesStillLockExclusively) {
  RzvDatabaseFile a, b;
  a.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  b.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  ASSERT_TRUE(a.LockByte(1, 7));
  EXPECT_FALSE(b.LockByte(1, 7));
}

TEST_F(RzvDatabaseFileTest, ShareModesKeepOtherHandlesOut) {
  struct Case {
    int32_t access1, share1, access2, share2;
    bool second_opens;
  };
  const Case cases[] = {
      {1, kRzvShareReadWrite, 1, kRzvShareReadWrite, true},
      {1, kRzvShareReadWrite, 0, kRzvShareReadWrite, true},
      {1, kRzvShareExclusive, 0, kRzvShareReadWrite, false},
      {0, kRzvShareReadWrite, 1, kRzvShareExclusive, false},
      {0, kRzvShareRead, 0, kRzvShareReadWrite, true},
      {0, kRzvShareRead, 1, kRzvShareReadWrite, false},
      {1, kRzvShareReadWrite, 0, kRzvShareRead, false},
      {0, kRzvShareReadWrite, 0, kRzvShareRead, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.access1 << "/" << c.share1 << " then " << c.access2 << "/" << c.share2);
    RzvDatabaseFile first, second;
    first.OpenFile(path_, c.access1, c.share1);
    if (c.second_opens) {
      EXPECT_NO_THROW(second.OpenFile(path_, c.access2, c.share2));
    } else {
      EXPECT_EQ(CodeOf([&] { second.OpenFile(path_, c.access2, c.share2); }), 30364);
      EXPECT_FALSE(second.IsOpen());
    }
  }
  // CreateFile must not delete a file another handle is using.
  RzvDatabaseFile user, creator;
  user.OpenFile(path_, kRzvAccessRead, kRzvShareReadWrite);
  EXPECT_EQ(CodeOf([&] { creator.CreateFile(path_); }), 30361);
  EXPECT_EQ(ReadAll(path_), std::vector<uint8_t>(100, 0x11));
  user.CloseFile();
  creator.CreateFile(path_);
  EXPECT_TRUE(ReadAll(path_).empty());
}

TEST_F(RzvDatabaseFileTest, LostHandleIsReconnectedAndItsLocksCountAsReleased) {
  RzvDatabaseFile a, b;
  a.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  b.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  ASSERT_TRUE(a.LockByte(1, 360));
  a.DropHandleForTest();
  uint8_t byte = 0;
  EXPECT_TRUE(a.ReadBuffer(&byte, 99, 1));
  EXPECT_EQ(byte, 0x11);
  EXPECT_FALSE(b.IsByteLocked(360)) << "the lock went with the lost descriptor";
  EXPECT_TRUE(a.UnlockByte(1, 360));
  EXPECT_FALSE(a.UnlockByte(1, 360));
  a.DropHandleForTest();
  ASSERT_TRUE(b.LockByte(1, 360));
  EXPECT_FALSE(a.LockByte(1, 360)) << "a lock taken after a reconnect is still exclusive";
  a.DropHandleForTest();
  EXPECT_EQ(a.GetSize(), 100);
  a.WriteBuffer(&byte, 100, 1, 10462);
  EXPECT_EQ(a.GetSize(), 101);
}

TEST_F(RzvDatabaseFileTest, RangeRelockedAfterAReconnectIsReallyReleased) {
  RzvDatabaseFile a, b;
  a.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  b.OpenFile(path_, kRzvAccessReadWrite, kRzvShareReadWrite);
  ASSERT_TRUE(a.LockByte(1, 360));
  a.DropHandleForTest();
  EXPECT_EQ(a.GetSize(), 100);  // reconnects; the lock went with the old descriptor
  ASSERT_TRUE(a.LockByte(1, 360));
  EXPECT_TRUE(b.IsByteLocked(360));
  ASSERT_TRUE(a.UnlockByte(1, 360));
  EXPECT_FALSE(b.IsByteLocked(360)) << "the new lock must not be mistaken for the lost one";
  EXPECT_TRUE(a.LockByte(1, 360));
}

}  // namespace
}  // namespace rzv
