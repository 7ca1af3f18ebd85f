// RzvActiveSessionsFile: the database's sessions file, whose content bytes are
// connection slots. A connection owns slot i by holding a byte-range lock on
// content byte i; nothing is ever written. The file's size is MaxConnections.
//
// Multi-user connections take one free slot each (the slot number is the
// session id). A single-user open claims every slot for the process, and only
// when no slot is taken; failing that, the process gets the database
// read-only. Every change happens under the file's mutex (the first byte of
// its first page), retried 4500 x 20 ms. One object per open database per
// process: it also remembers the mode the process opened the database in.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "engine/storage/disk_page_manager.h"
#include "engine/storage/internal_db_direct_access_file.h"
#include "engine/storage/lock_retry.h"

namespace rzv {

enum class RzvSessionsMode { kNone, kMultiUser, kSingleUser };

class RzvActiveSessionsFile {
 public:
  RzvActiveSessionsFile(RzvDirectFileHost& host, int32_t page_size);
  RzvActiveSessionsFile(const RzvActiveSessionsFile&) = delete;
  RzvActiveSessionsFile& operator=(const RzvActiveSessionsFile&) = delete;

  // Adds a sessions file of max_connections bytes in the session's changes
  // and opens it; returns its StartPageNo.
  int32_t Create(RzvPageManager& page_manager, int32_t session_id, int32_t max_connections);
  // Returns MaxConnections.
  int32_t Open(int32_t start_page_no);
  bool IsOpen() const { return file_.IsOpen(); }
  int32_t StartPageNo() const { return file_.StartPageNo(); }
  int32_t MaxConnections() const { return file_.FileSize(); }

  // Retries of the mutex byte (4500 x 20 ms unless set).
  void SetMutexRetry(RzvLockRetry retry) { retry_ = retry; }

  // Multi-user: the lowest free slot, which is the session id. 20094 when
  // every slot is taken or the database is open in single-user mode; 20235
  // when this process has the database open in single-user mode.
  int32_t Connect();
  // Gives back a slot of Connect. 20095 for a slot this object does not hold.
  void Disconnect(int32_t slot);

  // Single-user open; every call is one connection of the process (session
  // id 0). The first claims all slots when none is taken and tells whether it
  // did; the later ones report the same outcome. False means that the
  // database is read-only in this process. 20235 while the process has
  // multi-user connections.
  bool TakeAll();
  // Closes one single-user connection; the last one gives back all slots.
  void ReleaseAll();

  RzvSessionsMode Mode() const;
  // Whether this process holds every slot (a successful single-user open).
  bool OwnsAll() const;
  // Open connections of this process.
  int32_t ConnectionCount() const;

  // Slot bytes locked by other processes (handles), found by queries that
  // never take a lock. For tools.
  int32_t CountSlotsHeldElsewhere();

  RzvInternalDBDirectAccessFile& File() { return file_; }

 private:
  bool TakeMutex();
  void ReleaseMutex(int32_t error_code);

  RzvDirectFileHost& host_;
  RzvInternalDBDirectAccessFile file_;
  RzvLockRetry retry_;
  mutable std::mutex mutex_;
  RzvSessionsMode mode_ = RzvSessionsMode::kNone;
  std::set<int32_t> slots_;  // multi-user slots held
  int32_t single_user_connections_ = 0;
  bool owns_all_ = false;
};

}  // namespace rzv
