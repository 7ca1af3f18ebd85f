#include "engine/storage/database_table_lock_manager.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "engine/storage/exception.h"

namespace rzv {

namespace {

// Holds a lock file's mutex byte for a scope.
class MutexByte {
 public:
  explicit MutexByte(RzvInternalDBDirectAccessFile& file) : file_(file) {}
  ~MutexByte() {
    if (held_) file_.UnlockFile();
  }
  MutexByte(const MutexByte&) = delete;
  MutexByte& operator=(const MutexByte&) = delete;

  bool TryOnce() { return held_ = file_.LockFile(); }
  bool TryWithRetry(const RzvLockRetry& retry) {
    return RzvRetryLock(retry, [this] { return TryOnce(); });
  }

 private:
  RzvInternalDBDirectAccessFile& file_;
  bool held_ = false;
};

}  // namespace

RzvDatabaseTableLockManager::RzvDatabaseTableLockManager(int32_t max_connections, bool exclusive)
    : max_connections_(max_connections), exclusive_(exclusive), random_(std::random_device{}()) {}

void RzvDatabaseTableLockManager::CheckSession(int32_t session_id, int32_t error_code) const {
  if (session_id >= 0 && session_id < max_connections_) return;
  if (error_code == 20200) {
    throw RzvException(
        20200,
        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  }
  throw RzvException(20202, "Cannot remove table lock. Lock not found");
}

void RzvDatabaseTableLockManager::CheckLockFile(
    const RzvInternalDBDirectAccessFile& lock_file) const {
  // A lock file made for another MaxConnections would put the bytes of
  // different sessions on top of each other.
  if (static_cast<int64_t>(lock_file.FileSize()) !=
      static_cast<int64_t>(max_connections_) * kLockFileBytesPerConnection) {
    throw RzvException(
        20200,
        "Cannot set table lock. Try to repair database or to increase number of allowed connections");
  }
}

int32_t RzvDatabaseTableLockManager::BytePosition(int32_t kind, int32_t session_id) const {
  if (kind == kRzvTableLockExclusive) return RecordIdPosition(session_id);
  return kind * max_connections_ + session_id;
}

int32_t RzvDatabaseTableLockManager::RecordIdPosition(int32_t session_id) const {
  return 6 * max_connections_ + RzvRecordLockId::kSize * session_id;
}

bool RzvDatabaseTableLockManager::OthersHold(RzvInternalDBDirectAccessFile& lock_file, int32_t kind,
                                             int32_t session_id) {
  // The kind's bytes of all sessions form one run; ask for the parts before
  // and after this session's own bytes.
  const int32_t stride = kind == kRzvTableLockExclusive ? RzvRecordLockId::kSize : 1;
  const int32_t first = BytePosition(kind, 0);
  const int32_t own = BytePosition(kind, session_id);
  const int32_t after = own + stride;
  const int32_t end = first + stride * max_connections_;
  return (own > first && lock_file.IsRegionLocked(own - first, first)) ||
         (end > after && lock_file.IsRegionLocked(end - after, after));
}

bool RzvDatabaseTableLockManager::RecordTakenByOther(RzvInternalDBDirectAccessFile& lock_file,
                                                     int32_t session_id,
                                                     const RzvRecordLockId& record) {
  std::vector<uint8_t> ids(static_cast<size_t>(max_connections_) * RzvRecordLockId::kSize);
  lock_file.DirectReadBuffer(ids.data(), RecordIdPosition(0), static_cast<int32_t>(ids.size()));
  for (int32_t i = 0; i < max_connections_; ++i) {
    if (i == session_id) continue;
    // A stale id is harmless: it counts only while its session's kind-5 byte
    // is locked.
    if (RzvRecordLockId::Load(ids.data() + static_cast<size_t>(i) * RzvRecordLockId::kSize) ==
            record &&
        lock_file.IsByteLocked(BytePosition(kRzvTableLockRecord, i))) {
      return true;
    }
  }
  return false;
}

std::chrono::milliseconds RzvDatabaseTableLockManager::RandomPause(
    std::chrono::milliseconds pause) {
  const int64_t hi = pause.count();
  const int64_t lo = hi / 2;
  if (hi - lo <= 1) return std::chrono::milliseconds(lo);
  return std::chrono::milliseconds(std::uniform_int_distribution<int64_t>(lo, hi - 1)(random_));
}

void RzvDatabaseTableLockManager::SleepUnlocked(Lock& lock, std::chrono::milliseconds pause) {
  lock.unlock();
  std::this_thread::sleep_for(pause);
  lock.lock();
}

bool RzvDatabaseTableLockManager::LockTable(int32_t session_id,
                                            RzvInternalDBDirectAccessFile& lock_file, int32_t kind,
                                            RzvLockAttempts attempts, bool keep_record_locks,
                                            bool no_writers_admits_write) {
  if (exclusive_) return true;
  CheckSession(session_id, 20200);
  if (!RzvIsTableLockKind(kind) || kind == kRzvTableLockRecord)
    throw RzvException(20203, "Cannot set table lock");
  CheckLockFile(lock_file);
  Lock lock(mutex_);
  return LockTableLocked(lock, session_id, lock_file, kind, attempts, keep_record_locks,
                         no_writers_admits_write);
}

bool RzvDatabaseTableLockManager::LockTableLocked(Lock& lock, int32_t session_id,
                                                  RzvInternalDBDirectAccessFile& lock_file,
                                                  int32_t kind, RzvLockAttempts attempts,
                                                  bool keep_record_locks,
                                                  bool no_writers_admits_write) {
  const int32_t table = lock_file.StartPageNo();
  RzvTableLockEntry entry{kind, table, &lock_file, 1, keep_record_locks, false, {}};
  {
    RzvTableLockList& list = sessions_[session_id];
    if (RzvTableLockEntry* held = list.Find(table, kind)) {
      if (kind == kRzvTableLockNoWriters) return false;
      ++held->count;
      return true;
    }
    if (list.IsCovered(table, kind)) {
      list.Add(entry);
      return true;
    }
  }
  const int32_t tries = std::max<int32_t>(attempts.tries, 1);
  for (int32_t attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) SleepUnlocked(lock, RandomPause(attempts.pause));
    MutexByte mutex(lock_file);
    if (!mutex.TryOnce()) continue;
    bool blocked = false;
    for (int32_t held = 0; held < kRzvTableLockKindCount && !blocked; ++held) {
      if (RzvTableLocksCompatible(held, kind)) continue;
      if (no_writers_admits_write && held == kRzvTableLockNoWriters && kind == kRzvTableLockWrite)
        continue;
      blocked = OthersHold(lock_file, held, session_id);
    }
    if (blocked) continue;
    if (!lock_file.LockByte(BytePosition(kind, session_id)))
      throw RzvException(20203, "Cannot set table lock");
    entry.holds_byte = true;
    // The list is looked up again: other sessions may have changed the map
    // while the critical section was released.
    sessions_[session_id].Add(entry);
    return true;
  }
  return false;
}

void RzvDatabaseTableLockManager::UnlockTable(int32_t session_id,
                                              RzvInternalDBDirectAccessFile& lock_file,
                                              int32_t kind) {
  if (exclusive_) return;
  CheckSession(session_id, 20202);
  Lock lock(mutex_);
  UnlockTableLocked(session_id, lock_file, kind, 20204);
}

void RzvDatabaseTableLockManager::UnlockTableLocked(int32_t session_id,
                                                    RzvInternalDBDirectAccessFile& lock_file,
                                                    int32_t kind, int32_t error_code) {
  const int32_t table = lock_file.StartPageNo();
  auto it = sessions_.find(session_id);
  RzvTableLockEntry* held =
      it == sessions_.end() || kind == kRzvTableLockRecord ? nullptr : it->second.Find(table, kind);
  if (held == nullptr) throw RzvException(20202, "Cannot remove table lock. Lock not found");
  if (--held->count > 0) return;
  ReleaseEntry(session_id, table, kind, error_code);
}

void RzvDatabaseTableLockManager::ReleaseEntry(int32_t session_id, int32_t table, int32_t kind,
                                               int32_t error_code) {
  RzvTableLockList& list = sessions_[session_id];
  RzvTableLockEntry* gone = list.Find(table, kind);
  RzvInternalDBDirectAccessFile& lock_file = *gone->lock_file;

  // Entries that lean on the one going away and must get their own bytes.
  std::vector<RzvTableLockEntry*> orphans;
  const bool backs_others = gone->holds_byte || gone->kind == kRzvTableLockExclusive ||
                            (gone->kind == kRzvTableLockWrite && !gone->keep_record_locks);
  for (auto& e : list.Entries()) {
    if (!backs_others || &e == gone || e.table != table || e.holds_byte) continue;
    orphans.push_back(&e);
  }
  if (gone->holds_byte || !orphans.empty()) {
    const int32_t count = gone->count;
    try {
      // Releasing is safe even without the mutex (it only frees), so a mutex
      // that stays locked delays the release but does not prevent it.
      MutexByte mutex(lock_file);
      mutex.TryWithRetry(mutex_retry_);
      bool released = true;
      for (RzvTableLockEntry* e : orphans) {
        const bool backed = e->kind == kRzvTableLockRecord ? list.ExemptsRecordLocks(table, gone)
                                                           : list.IsCovered(table, e->kind, gone);
        if (backed) continue;
        // No check against the other sessions: the covering byte being
        // released kept out everything this kind must keep out. (A record
        // lock exempted by kind 3 may meet another session's lock on the same
        // record; both were granted already.)
        if (!lock_file.LockByte(BytePosition(e->kind, session_id))) {
          released = false;
          break;
        }
        e->holds_byte = true;
        if (e->kind == kRzvTableLockRecord) {
          uint8_t id[RzvRecordLockId::kSize];
          e->record.Store(id);
          lock_file.DirectWriteBuffer(id, RecordIdPosition(session_id), RzvRecordLockId::kSize);
        }
      }
      if (released && gone->holds_byte)
        released = lock_file.UnlockByte(BytePosition(kind, session_id));
      if (!released) {
        if (error_code == 20206) throw RzvException(20206, "Cannot unlock record");
        throw RzvException(20204, "Cannot unlock table");
      }
    } catch (...) {
      // The entry stays, so that the caller may try again.
      gone->count = std::max(count, 1);
      throw;
    }
  }
  list.Remove(table, kind);
}

void RzvDatabaseTableLockManager::LockTableForOpen(int32_t session_id,
                                                   RzvInternalDBDirectAccessFile& lock_file,
                                                   const std::string& table_name,
                                                   bool exclusive_open) {
  const int32_t kind = exclusive_open ? kRzvTableLockExclusive : kRzvTableLockOpen;
  if (LockTable(session_id, lock_file, kind, open_attempts_)) return;
  if (exclusive_open) {
    throw RzvException::Format(
        20208,
        "Cannot access table '%s' in exclusive mode. Probably the table is open by another user",
        table_name);
  }
  throw RzvException::Format(20209, "Cannot open table '%s'. Table is locked", table_name);
}

bool RzvDatabaseTableLockManager::LockRecord(int32_t session_id,
                                             RzvInternalDBDirectAccessFile& lock_file,
                                             RzvLockAttempts attempts,
                                             const RzvRecordLockId& record) {
  if (exclusive_) return true;
  CheckSession(session_id, 20200);
  CheckLockFile(lock_file);
  Lock lock(mutex_);
  const int32_t table = lock_file.StartPageNo();
  RzvTableLockEntry entry{kRzvTableLockRecord, table, &lock_file, 1, true, false, record};
  {
    RzvTableLockList& list = sessions_[session_id];
    if (list.Find(table, kRzvTableLockRecord) != nullptr) return false;
    if (list.ExemptsRecordLocks(table)) {
      list.Add(entry);
      return true;
    }
  }
  const int32_t tries = std::max<int32_t>(attempts.tries, 1);
  const auto deadline = std::chrono::steady_clock::now() + attempts.pause * tries;
  for (int32_t attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) {
      if (std::chrono::steady_clock::now() >= deadline) break;
      SleepUnlocked(lock, attempts.pause);
    }
    MutexByte mutex(lock_file);
    if (!mutex.TryOnce()) continue;
    if (OthersHold(lock_file, kRzvTableLockExclusive, session_id) ||
        RecordTakenByOther(lock_file, session_id, record)) {
      continue;
    }
    const int32_t byte = BytePosition(kRzvTableLockRecord, session_id);
    if (!lock_file.LockByte(byte)) throw RzvException(20205, "Cannot lock record");
    uint8_t id[RzvRecordLockId::kSize];
    record.Store(id);
    try {
      lock_file.DirectWriteBuffer(id, RecordIdPosition(session_id), RzvRecordLockId::kSize);
    } catch (...) {
      lock_file.UnlockByte(byte);
      throw;
    }
    entry.holds_byte = true;
    sessions_[session_id].Add(entry);
    return true;
  }
  return false;
}

void RzvDatabaseTableLockManager::UnlockRecord(int32_t session_id,
                                               RzvInternalDBDirectAccessFile& lock_file,
                                               const RzvRecordLockId& record) {
  if (exclusive_) return;
  CheckSession(session_id, 20202);
  Lock lock(mutex_);
  const int32_t table = lock_file.StartPageNo();
  auto it = sessions_.find(session_id);
  RzvTableLockEntry* held =
      it == sessions_.end() ? nullptr : it->second.Find(table, kRzvTableLockRecord);
  if (held == nullptr || !(held->record == record))
    throw RzvException(20202, "Cannot remove table lock. Lock not found");
  if (--held->count > 0) return;
  ReleaseEntry(session_id, table, kRzvTableLockRecord, 20206);
}

bool RzvDatabaseTableLockManager::BeforeCommit(int32_t session_id) {
  if (exclusive_) return true;
  CheckSession(session_id, 20200);
  Lock lock(mutex_);
  std::vector<RzvInternalDBDirectAccessFile*> modified;
  for (const auto& e : sessions_[session_id].Entries()) {
    if (e.kind == kRzvTableLockWrite &&
        sessions_[session_id].Find(e.table, kRzvTableLockCommit) == nullptr) {
      modified.push_back(e.lock_file);
    }
  }
  std::vector<RzvInternalDBDirectAccessFile*> taken;
  // Gives back the kind-4 locks taken so far; false when one stays held.
  auto give_back = [&] {
    bool all_released = true;
    for (RzvInternalDBDirectAccessFile* back : taken) {
      try {
        UnlockTableLocked(session_id, *back, kRzvTableLockCommit, 20204);
      } catch (const RzvException&) {
        all_released = false;
      }
    }
    return all_released;
  };
  for (RzvInternalDBDirectAccessFile* file : modified) {
    bool locked = false;
    try {
      locked = LockTableLocked(lock, session_id, *file, kRzvTableLockCommit, commit_attempts_, true,
                               false);
    } catch (const RzvException&) {
      // A lock that fails hard must not leave the earlier tables closed to
      // readers for as long as the session lives.
      if (!give_back()) throw RzvException(20234, "Some table locks still exist");
      throw;
    }
    if (!locked) {
      if (!give_back()) throw RzvException(20234, "Some table locks still exist");
      return false;
    }
    taken.push_back(file);
  }
  return true;
}

void RzvDatabaseTableLockManager::LockModifiedTablesForCommit(int32_t session_id) {
  if (!BeforeCommit(session_id))
    throw RzvException(20233, "Cannot commit changes. Locks of modified tables failed");
}

void RzvDatabaseTableLockManager::AfterCommit(int32_t session_id) {
  if (exclusive_) return;
  CheckSession(session_id, 20202);
  Lock lock(mutex_);
  auto it = sessions_.find(session_id);
  if (it == sessions_.end()) return;
  std::vector<std::pair<int32_t, int32_t>> release;
  for (const auto& e : it->second.Entries()) {
    if (e.kind == kRzvTableLockWrite || e.kind == kRzvTableLockCommit)
      release.emplace_back(e.table, e.kind);
  }
  // Kind 4 first, so that kind 3 still backs whatever kind 4 backed.
  std::stable_partition(release.begin(), release.end(),
                        [](const auto& r) { return r.second == kRzvTableLockCommit; });
  for (const auto& [table, kind] : release) ReleaseEntry(session_id, table, kind, 20204);
}

void RzvDatabaseTableLockManager::ReleaseSession(int32_t session_id) {
  if (exclusive_) return;
  CheckSession(session_id, 20202);
  Lock lock(mutex_);
  auto it = sessions_.find(session_id);
  if (it == sessions_.end()) return;
  // Entries without a byte first: they lean on others, so releasing them
  // touches no file and leaves nothing to hand bytes to.
  auto& entries = it->second.Entries();
  while (!entries.empty()) {
    auto e = std::find_if(entries.begin(), entries.end(),
                          [](const RzvTableLockEntry& x) { return !x.holds_byte; });
    if (e == entries.end()) e = entries.end() - 1;
    const int32_t table = e->table, kind = e->kind;
    ReleaseEntry(session_id, table, kind, kind == kRzvTableLockRecord ? 20206 : 20204);
  }
  sessions_.erase(it);
}

int32_t RzvDatabaseTableLockManager::LockCount(int32_t session_id, int32_t table,
                                               int32_t kind) const {
  Lock lock(mutex_);
  auto it = sessions_.find(session_id);
  if (it == sessions_.end()) return 0;
  const RzvTableLockEntry* e = it->second.Find(table, kind);
  return e == nullptr ? 0 : e->count;
}

}  // namespace rzv
