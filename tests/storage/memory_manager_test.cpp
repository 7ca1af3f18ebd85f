#include "engine/storage/memory_manager.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/storage/exception.h"
#include "rzv_test_support.h"

namespace rzv {
namespace {

using ::rzv::testing::CodeOf;
using ::rzv::testing::ExpectError;

TEST(RzvMemoryManagerTest, AllocateTracksSizeAndTotal) {
  RzvMemoryManager mm;
  void* p = mm.AllocateZeroed(100);
  EXPECT_EQ(mm.SizeOf(p), 100u);
  EXPECT_EQ(mm.SizeOf(nullptr), 0u);
  EXPECT_EQ(mm.TotalAllocated(), 100);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(static_cast<unsigned char*>(p)[i], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << "caller bytes keep malloc's alignment";
  mm.Free(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalAllocated(), 0);
  EXPECT_EQ(CodeOf([&] { mm.Allocate(0); }), 30286);
}

TEST(RzvMemoryManagerTest, ForeignPointerIsRefusedAndLeftAlone) {
  RzvMemoryManager mm;
  alignas(16) unsigned char buffer[64] = {};
  void* p = buffer + 32;
  EXPECT_EQ(CodeOf([&] { mm.Free(p); }), 30001);
  EXPECT_EQ(p, buffer + 32);
  EXPECT_EQ(CodeOf([&] { mm.Reallocate(p, 10, false); }), 30002);
  EXPECT_EQ(CodeOf([&] { mm.SizeOf(p); }), 30005);
}

TEST(RzvMemoryManagerTest, OverrunIsReportedAfterTheBlockIsReleased) {
  RzvMemoryManager mm;
  void* p = mm.Allocate(10);
  static_cast<unsigned char*>(p)[10] = 0;  // one byte past the end: the tail guard
  EXPECT_EQ(CodeOf([&] { mm.Free(p); }), 30137);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalAllocated(), 0);
}

TEST(RzvMemoryManagerTest, LimitCapsTheRunningTotal) {
  RzvMemoryManager mm;
  mm.SetLimit(1000);
  void* a = mm.Allocate(600);
  ExpectError([&] { mm.Allocate(500); }, 30004, "Memory limit exceeded (Limit = 1000 bytes)");
  mm.Free(a);
  void* b = mm.Allocate(500);
  EXPECT_EQ(mm.AvailableMemory(), 1000);
  mm.Free(b);
}

TEST(RzvMemoryManagerTest, ReallocateKeepsContentAndZeroesTheTail) {
  RzvMemoryManager mm;
  void* p = mm.Allocate(4);
  std::memcpy(p, "abcd", 4);
  mm.Reallocate(p, 8, true);
  EXPECT_EQ(mm.SizeOf(p), 8u);
  EXPECT_EQ(std::memcmp(p, "abcd\0\0\0\0", 8), 0);
  mm.Reallocate(p, 2, false);
  EXPECT_EQ(std::memcmp(p, "ab", 2), 0);
  EXPECT_EQ(mm.TotalAllocated(), 2);
  mm.Free(p);
  EXPECT_GT(mm.AvailableMemory(), 0);
}

TEST(RzvMemoryManagerTest, ReallocateThatCannotAllocateKeepsTheOldBlock) {
  RzvMemoryManager mm;
  mm.SetLimit(1000);
  void* p = mm.Allocate(600);
  std::memcpy(p, "abcd", 4);
  void* const before = p;
  ExpectError([&] { mm.Reallocate(p, 900, true); }, 30014,
              "ReallocMem error: Memory limit exceeded (Limit = 1000 bytes)");
  ExpectError([&] { mm.Reallocate(p, 0, false); }, 30014,
              "ReallocMem error: Cannot allocate 0 bytes");
  EXPECT_EQ(p, before);
  EXPECT_EQ(mm.SizeOf(p), 600u);
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
  EXPECT_EQ(mm.TotalAllocated(), 600);
  mm.Free(p);
}

}  // namespace
}  // namespace rzv
