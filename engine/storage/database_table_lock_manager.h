// RzvDatabaseTableLockManager: table and record locks of the sessions of one
// open database, kept in each table's lock file as byte-range locks so that
// every process sees them and a dead process loses them.
//
// Lock file of a table (N = MaxConnections, s = session id):
//   k*N + s, k = 0..5   session s holds kind k on the table (5: a record lock)
//   6*N + 6*s, 6 bytes  the record id of session s's record lock (content);
//                       the first of these bytes is also the lock byte of
//                       kind 6, so an exclusive open is visible to others
//   first byte of the first page: the file's mutex
// A session takes a byte under the file's mutex after checking the other
// sessions' bytes against RzvTableLocksCompatible. Releasing never needs
// checks: it only makes the file more permissive.
//
// Invariant (per session and table): every held kind is backed in the file,
// by its own byte or by a byte of a covering kind of the same table; a record
// lock by its kind-5 byte or by an exempting kind-6 / kind-3 entry. Removing
// an entry first gives the entries it backed their own bytes.
//
// All operations of an exclusively opened database succeed at once. The
// critical section guards the lists and every lock-file call; it is released
// while sleeping between attempts.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>

#include "engine/storage/disk_page_manager.h"
#include "engine/storage/internal_db_direct_access_file.h"
#include "engine/storage/lock_retry.h"
#include "engine/storage/table_lock_kind.h"
#include "engine/storage/table_lock_list.h"

namespace rzv {

// How often a table or record lock is tried and how long to pause between
// tries (table locks pause a random time in [pause / 2, pause)).
struct RzvLockAttempts {
  std::chrono::milliseconds pause;
  int32_t tries;
};

class RzvDatabaseTableLockManager {
 public:
  static constexpr RzvLockAttempts kOpenTableAttempts{std::chrono::milliseconds(100), 50};
  static constexpr RzvLockAttempts kReadLockAttempts{std::chrono::milliseconds(40), 2250};
  static constexpr RzvLockAttempts kCommitAttempts{std::chrono::milliseconds(100), 900};

  // A table lock file holds this many bytes per connection.
  static constexpr int32_t kLockFileBytesPerConnection = 12;

  RzvDatabaseTableLockManager(int32_t max_connections, bool exclusive);

  int32_t MaxConnections() const { return max_connections_; }
  bool IsExclusive() const { return exclusive_; }
  // Retries of a lock file's mutex when a lock is released (4500 x 20 ms).
  void SetMutexRetry(RzvLockRetry retry) { mutex_retry_ = retry; }
  // Attempts of the kind-4 locks that BeforeCommit takes (kCommitAttempts).
  void SetCommitAttempts(RzvLockAttempts attempts) { commit_attempts_ = attempts; }
  // Attempts of LockTableForOpen (kOpenTableAttempts).
  void SetOpenTableAttempts(RzvLockAttempts attempts) { open_attempts_ = attempts; }

  // False when the lock could not be had within the attempts, or when kind 2
  // is asked for again. 20200 for a session id outside 0..N-1 or a lock file
  // not made for N connections. keep_record_locks is kept with a new entry (see
  // RzvTableLockEntry); with no_writers_admits_write, another session's kind
  // 2 does not keep out a wanted kind 3. Kind 5 is LockRecord's: 20203.
  bool LockTable(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file, int32_t kind,
                 RzvLockAttempts attempts, bool keep_record_locks = true,
                 bool no_writers_admits_write = false);
  // Undoes one LockTable. 20202 when the lock is not held.
  void UnlockTable(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file, int32_t kind);

  // Kind 0 (shared) or kind 6 (exclusive) for opening a table; failure
  // raises 20209 / 20208 naming the table.
  void LockTableForOpen(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file,
                        const std::string& table_name, bool exclusive_open);

  // One record lock per session and table: false when the session already
  // has one there, or when another session keeps the record (or the table
  // exclusively) for all attempts (fixed pause; at most pause x tries).
  bool LockRecord(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file,
                  RzvLockAttempts attempts, const RzvRecordLockId& record);
  // 20202 when the session holds no lock on that record.
  void UnlockRecord(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file,
                    const RzvRecordLockId& record);

  // Takes kind 4 on every table the session holds with kind 3. On failure
  // gives back the kind-4 locks just taken and returns false (or, when a lock
  // raised an error, lets it through); 20234 when one of them cannot be
  // given back.
  bool BeforeCommit(int32_t session_id);
  // BeforeCommit, raising 20233 when it fails.
  void LockModifiedTablesForCommit(int32_t session_id);
  // Releases every kind-3 and kind-4 lock of the session, first giving the
  // locks they backed (record locks exempted by kind 3 included) their own
  // bytes.
  void AfterCommit(int32_t session_id);
  // Releases everything the session holds (a closing connection).
  void ReleaseSession(int32_t session_id);

  // Nesting count of the session's lock of that kind on the table, 0 when
  // not held.
  int32_t LockCount(int32_t session_id, int32_t table, int32_t kind) const;

 private:
  using Lock = std::unique_lock<std::mutex>;

  void CheckSession(int32_t session_id, int32_t error_code) const;
  void CheckLockFile(const RzvInternalDBDirectAccessFile& lock_file) const;
  // Content position of the byte of (kind, session); kind 6 included.
  int32_t BytePosition(int32_t kind, int32_t session_id) const;
  int32_t RecordIdPosition(int32_t session_id) const;
  // Whether a session other than session_id holds the kind's byte.
  bool OthersHold(RzvInternalDBDirectAccessFile& lock_file, int32_t kind, int32_t session_id);
  bool RecordTakenByOther(RzvInternalDBDirectAccessFile& lock_file, int32_t session_id,
                          const RzvRecordLockId& record);
  void SleepUnlocked(Lock& lock, std::chrono::milliseconds pause);
  std::chrono::milliseconds RandomPause(std::chrono::milliseconds pause);

  bool LockTableLocked(Lock& lock, int32_t session_id, RzvInternalDBDirectAccessFile& lock_file,
                       int32_t kind, RzvLockAttempts attempts, bool keep_record_locks,
                       bool no_writers_admits_write);
  void UnlockTableLocked(int32_t session_id, RzvInternalDBDirectAccessFile& lock_file, int32_t kind,
                         int32_t error_code);
  // Removes an entry whose count reached 0: gives the entries it backed their
  // bytes, then releases its own byte, under the mutex (4500 x 20 ms). On
  // failure raises error_code and keeps the entry with count 1.
  void ReleaseEntry(int32_t session_id, int32_t table, int32_t kind, int32_t error_code);

  const int32_t max_connections_;
  const bool exclusive_;
  RzvLockRetry mutex_retry_;
  RzvLockAttempts commit_attempts_ = kCommitAttempts;
  RzvLockAttempts open_attempts_ = kOpenTableAttempts;
  mutable std::mutex mutex_;
  std::unordered_map<int32_t, RzvTableLockList> sessions_;
  std::mt19937 random_;
};

}  // namespace rzv
