// Table lock kinds and the rule that says which kinds two sessions may hold
// on one table at the same time.
#pragma once

#include <cstdint>

namespace rzv {

// What each kind is taken for by the table layer.
enum RzvTableLockKind : int32_t {
  kRzvTableLockOpen = 0,       // a cursor has the table open shared
  kRzvTableLockRead = 1,       // around every read operation of a cursor
  kRzvTableLockNoWriters = 2,  // keeps writers (kind 3) out
  kRzvTableLockWrite = 3,      // the session is modifying the table
  kRzvTableLockCommit = 4,     // taken at commit on every table held with kind 3
  kRzvTableLockRecord = 5,     // the session holds a record lock on the table
  kRzvTableLockExclusive = 6,  // a cursor has the table open exclusively
};

constexpr int32_t kRzvTableLockKindCount = 7;

constexpr bool RzvIsTableLockKind(int32_t kind) {
  return kind >= 0 && kind < kRzvTableLockKindCount;
}

// kCompatible[held][wanted]: whether a session may take `wanted` while another
// session holds `held`. The table is symmetric; kind 6 conflicts with every
// kind, kinds 0 and 5 with kind 6 only.
inline constexpr bool kRzvTableLockCompatible[kRzvTableLockKindCount][kRzvTableLockKindCount] = {
    {1, 1, 1, 1, 1, 1, 0},  //
    {1, 1, 1, 1, 0, 1, 0},  //
    {1, 1, 1, 0, 1, 1, 0},  //
    {1, 1, 0, 0, 0, 1, 0},  //
    {1, 0, 1, 0, 0, 1, 0},  //
    {1, 1, 1, 1, 1, 1, 0},  //
    {0, 0, 0, 0, 0, 0, 0},  //
};

constexpr bool RzvTableLocksCompatible(int32_t held, int32_t wanted) {
  return kRzvTableLockCompatible[held][wanted];
}

// A held kind covers a wanted kind when every kind that others may hold beside
// `held` may also be held beside `wanted`: holding `held` already keeps out
// everything that `wanted` must keep out. Kind 6 covers every kind.
constexpr bool RzvTableLockCovers(int32_t held, int32_t wanted) {
  for (int32_t other = 0; other < kRzvTableLockKindCount; ++other) {
    if (RzvTableLocksCompatible(held, other) && !RzvTableLocksCompatible(wanted, other))
      return false;
  }
  return true;
}

}  // namespace rzv
