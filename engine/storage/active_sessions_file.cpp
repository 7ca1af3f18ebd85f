#include "engine/storage/active_sessions_file.h"

#include "engine/storage/exception.h"

namespace rzv {

RzvActiveSessionsFile::RzvActiveSessionsFile(RzvDirectFileHost& host, int32_t page_size)
    : host_(host), file_(host, page_size, RzvPageType::kActiveSessionList) {}

int32_t RzvActiveSessionsFile::Create(RzvPageManager& page_manager, int32_t session_id,
                                      int32_t max_connections) {
  return file_.Create(page_manager, session_id, max_connections);
}

int32_t RzvActiveSessionsFile::Open(int32_t start_page_no) {
  file_.Open(start_page_no);
  return file_.FileSize();
}

RzvSessionsMode RzvActiveSessionsFile::Mode() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mode_;
}

bool RzvActiveSessionsFile::OwnsAll() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return owns_all_;
}

int32_t RzvActiveSessionsFile::ConnectionCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int32_t>(slots_.size()) + single_user_connections_;
}

bool RzvActiveSessionsFile::TakeMutex() {
  return RzvRetryLock(retry_, [&] { return file_.LockFile(); });
}

void RzvActiveSessionsFile::ReleaseMutex(int32_t error_code) {
  if (!file_.UnlockFile()) throw RzvException(error_code, "Cannot unlock sessions file");
}

int32_t RzvActiveSessionsFile::Connect() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (mode_ == RzvSessionsMode::kSingleUser) {
    throw RzvException(20235,
                       "Cannot open database in multi-user and signle-user mode at the same time");
  }
  const int32_t n = file_.FileSize();
  if (!TakeMutex()) {
    throw RzvException(
        20094,
        "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
  }
  int32_t slot = -1;
  for (int32_t i = 0; i < n && slot < 0; ++i) {
    if (file_.LockByte(i)) slot = i;
  }
  if (!file_.UnlockFile()) {
    // The caller never learns the slot, so do not keep it.
    if (slot >= 0) file_.UnlockByte(slot);
    throw RzvException(20093, "Cannot unlock sessions file");
  }
  if (slot < 0) {
    throw RzvException(
        20094,
        "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
  }
  slots_.insert(slot);
  mode_ = RzvSessionsMode::kMultiUser;
  return slot;
}

void RzvActiveSessionsFile::Disconnect(int32_t slot) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (slots_.count(slot) == 0) throw RzvException(20095, "Cannot disconnect session");
  // Giving a slot back is safe without the mutex (it only frees), so a mutex
  // that stays locked does not keep the slot taken.
  const bool mutex_held = TakeMutex();
  const bool released = file_.UnlockByte(slot);
  if (released) {
    slots_.erase(slot);
    if (slots_.empty()) mode_ = RzvSessionsMode::kNone;
  }
  if (mutex_held) ReleaseMutex(20096);
  if (!released) throw RzvException(20095, "Cannot disconnect session");
}

bool RzvActiveSessionsFile::TakeAll() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (mode_ == RzvSessionsMode::kMultiUser) {
    throw RzvException(20235,
                       "Cannot open database in multi-user and signle-user mode at the same time");
  }
  if (single_user_connections_ > 0) {
    ++single_user_connections_;
    return owns_all_;
  }
  bool owns = false;
  // A mutex nobody gives back leaves the database to whoever holds it: open
  // read-only rather than wait forever.
  if (TakeMutex()) {
    std::vector<std::pair<int64_t, int64_t>> taken;
    if (!file_.IsRegionLocked(file_.FileSize(), 0)) {
      owns = true;
      for (const auto& [position, count] : file_.ContentRanges()) {
        if (!host_.LockFileRegion(count, position)) {
          owns = false;
          break;
        }
        taken.emplace_back(position, count);
      }
      if (!owns) {
        for (const auto& [position, count] : taken) host_.UnlockFileRegion(count, position);
      }
    }
    if (!file_.UnlockFile()) {
      for (const auto& [position, count] : taken) host_.UnlockFileRegion(count, position);
      throw RzvException(20240, "Cannot unlock sessions file");
    }
  }
  owns_all_ = owns;
  single_user_connections_ = 1;
  mode_ = RzvSessionsMode::kSingleUser;
  return owns;
}

void RzvActiveSessionsFile::ReleaseAll() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (single_user_connections_ == 0) return;
  if (--single_user_connections_ > 0) return;
  mode_ = RzvSessionsMode::kNone;
  if (!owns_all_) return;
  owns_all_ = false;
  const bool mutex_held = TakeMutex();
  for (const auto& [position, count] : file_.ContentRanges())
    host_.UnlockFileRegion(count, position);
  if (mutex_held) ReleaseMutex(20241);
}

int32_t RzvActiveSessionsFile::CountSlotsHeldElsewhere() {
  std::lock_guard<std::mutex> guard(mutex_);
  int32_t held = 0;
  if (!file_.IsRegionLocked(file_.FileSize(), 0)) return 0;
  for (int32_t i = 0; i < file_.FileSize(); ++i) {
    const bool own = owns_all_ || slots_.count(i) > 0;
    if (!own && file_.IsByteLocked(i)) ++held;
  }
  return held;
}

}  // namespace rzv
