#include "engine/storage/table_lock_list.h"

#include <algorithm>

#include "engine/storage/table_lock_kind.h"

namespace rzv {

RzvTableLockEntry* RzvTableLockList::Find(int32_t table, int32_t kind) {
  for (auto& e : entries_) {
    if (e.table == table && e.kind == kind) return &e;
  }
  return nullptr;
}

const RzvTableLockEntry* RzvTableLockList::Find(int32_t table, int32_t kind) const {
  return const_cast<RzvTableLockList*>(this)->Find(table, kind);
}

bool RzvTableLockList::IsCovered(int32_t table, int32_t kind,
                                 const RzvTableLockEntry* ignoring) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const RzvTableLockEntry& e) {
    return &e != ignoring && e.table == table && e.holds_byte && RzvTableLockCovers(e.kind, kind);
  });
}

bool RzvTableLockList::ExemptsRecordLocks(int32_t table, const RzvTableLockEntry* ignoring) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const RzvTableLockEntry& e) {
    return &e != ignoring && e.table == table &&
           (e.kind == kRzvTableLockExclusive ||
            (e.kind == kRzvTableLockWrite && !e.keep_record_locks));
  });
}

void RzvTableLockList::Add(const RzvTableLockEntry& entry) {
  entries_.push_back(entry);
}

void RzvTableLockList::Remove(int32_t table, int32_t kind) {
  std::erase_if(entries_,
                [&](const RzvTableLockEntry& e) { return e.table == table && e.kind == kind; });
}

}  // namespace rzv
