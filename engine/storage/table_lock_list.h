// RzvTableLockList: the table locks one session holds, per table (a table is
// known by the StartPageNo of its lock file) and kind, with nesting counts.
// It knows which held locks make a new request redundant; the file side of
// locking is RzvDatabaseTableLockManager's.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/internal_db_direct_access_file.h"

namespace rzv {

// The record a record lock is on, stored in a lock file as int32 page number
// then uint16 slot number.
struct RzvRecordLockId {
  static constexpr int32_t kSize = 6;

  int32_t page_no = -1;
  uint16_t slot_no = 0;

  friend bool operator==(const RzvRecordLockId&, const RzvRecordLockId&) = default;
  static RzvRecordLockId Load(const uint8_t* p) {
    return {LoadLE<int32_t>(p), LoadLE<uint16_t>(p + 4)};
  }
  void Store(uint8_t* p) const {
    StoreLE<int32_t>(p, page_no);
    StoreLE<uint16_t>(p + 4, slot_no);
  }
};

struct RzvTableLockEntry {
  int32_t kind = 0;
  int32_t table = kInvalidPageNo;  // StartPageNo of the table's lock file
  // Outlives the entry: a table's lock file lives while any cursor holds
  // locks on the table.
  RzvInternalDBDirectAccessFile* lock_file = nullptr;
  int32_t count = 1;
  // The caller's option flag. On a kind-3 entry, set means that record locks
  // taken meanwhile still go through the lock file; clear exempts them.
  bool keep_record_locks = true;
  // Whether this entry's byte in the lock file is locked. An entry without
  // its byte is covered by another entry of the same table that has one
  // (or, for a record lock, exempted by a kind-6 or kind-3 entry).
  bool holds_byte = false;
  RzvRecordLockId record;  // kind 5 only
};

class RzvTableLockList {
 public:
  RzvTableLockEntry* Find(int32_t table, int32_t kind);
  const RzvTableLockEntry* Find(int32_t table, int32_t kind) const;

  // Whether an entry on the same table that holds its byte covers `kind`
  // (RzvTableLockCovers); `ignoring` is left out of the question. Coverage is
  // per table: locks on other tables never make a request redundant.
  bool IsCovered(int32_t table, int32_t kind, const RzvTableLockEntry* ignoring = nullptr) const;
  // Whether record locks on the table may stay out of the lock file: the
  // session holds kind 6, or kind 3 with keep_record_locks clear.
  bool ExemptsRecordLocks(int32_t table, const RzvTableLockEntry* ignoring = nullptr) const;

  // The entry must not exist yet.
  void Add(const RzvTableLockEntry& entry);
  void Remove(int32_t table, int32_t kind);

  std::vector<RzvTableLockEntry>& Entries() { return entries_; }
  const std::vector<RzvTableLockEntry>& Entries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }

 private:
  std::vector<RzvTableLockEntry> entries_;
};

}  // namespace rzv
