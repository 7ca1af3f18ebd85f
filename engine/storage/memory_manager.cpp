#include "engine/storage/memory_manager.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"

namespace rzv {

namespace {

// Block layout. The caller's bytes start 16 bytes into the block so they keep
// malloc's alignment; the fields sit right below them, the head guard last:
//   [0..3]   padding
//   [4..7]   int32  requested size n
//   [8..10]  padding
//   [11]     uint8  source tag
//   [12..15] uint32 head guard 0xACCACCAC
//   [16..]   n caller bytes
//   [16+n..] uint32 tail guard 0xACCEACCE (unaligned)
constexpr size_t kHeader = 16;
constexpr size_t kTail = 4;
constexpr uint32_t kHeadGuard = 0xACCACCACu;
constexpr uint32_t kTailGuard = 0xACCEACCEu;
constexpr uint8_t kSourceMalloc = 1;

unsigned char* BaseOf(const void* p) {
  return static_cast<unsigned char*>(const_cast<void*>(p)) - kHeader;
}

bool HeadGuardOk(const void* p) { return LoadLE<uint32_t>(BaseOf(p) + 12) == kHeadGuard; }

size_t StoredSize(const void* p) { return static_cast<uint32_t>(LoadLE<int32_t>(BaseOf(p) + 4)); }

int64_t ReadMemAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  int64_t kb = 0;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kb * 1024;
  }
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long page = sysconf(_SC_PAGESIZE);
  return pages > 0 && page > 0 ? static_cast<int64_t>(pages) * page : 0;
}

}  // namespace

RzvMemoryManager& RzvMemoryManager::Instance() {
  static RzvMemoryManager manager;
  return manager;
}

void* RzvMemoryManager::Allocate(size_t n) {
  if (n == 0) throw RzvException(30286, "Cannot allocate 0 bytes");
  if (n > static_cast<size_t>(INT32_MAX)) {
    throw RzvException::Format(30015, "GetMem error: %s", "block larger than 2 GB");
  }
  {
    std::lock_guard lock(mutex_);
    if (limit_ > 0 && total_ + static_cast<int64_t>(n) > limit_) {
      throw RzvException::Format(30004, "Memory limit exceeded (Limit = %d bytes)", limit_);
    }
    total_ += static_cast<int64_t>(n);
  }
  auto* base = static_cast<unsigned char*>(std::malloc(n + kHeader + kTail));
  if (!base) {
    std::lock_guard lock(mutex_);
    total_ -= static_cast<int64_t>(n);
    throw RzvException::Format(30015, "GetMem error: %s", std::strerror(ENOMEM));
  }
  std::memset(base, 0, kHeader);
  StoreLE<int32_t>(base + 4, static_cast<int32_t>(n));
  base[11] = kSourceMalloc;
  StoreLE<uint32_t>(base + 12, kHeadGuard);
  StoreLE<uint32_t>(base + kHeader + n, kTailGuard);
  return base + kHeader;
}

void* RzvMemoryManager::AllocateZeroed(size_t n) {
  void* p = Allocate(n);
  std::memset(p, 0, n);
  return p;
}

size_t RzvMemoryManager::SizeOf(const void* p) const {
  if (!p) return 0;
  if (!HeadGuardOk(p)) throw RzvException(30005, "Invalid pointer");
  return StoredSize(p);
}

void RzvMemoryManager::Free(void*& p) {
  if (!p) return;
  if (!HeadGuardOk(p)) throw RzvException(30001, "Invalid pointer");
  size_t n = StoredSize(p);
  unsigned char* base = BaseOf(p);
  bool overrun = LoadLE<uint32_t>(base + kHeader + n) != kTailGuard;
  {
    std::lock_guard lock(mutex_);
    total_ -= static_cast<int64_t>(n);
  }
  // Clear the head guard so that a second Free of the same pointer is caught
  // while the memory has not been handed out again.
  StoreLE<uint32_t>(base + 12, 0);
  std::free(base);
  p = nullptr;
  if (overrun) throw RzvException(30137, "Memory overrun detected");
}

void RzvMemoryManager::Reallocate(void*& p, size_t n, bool zero_tail) {
  if (!p) {
    p = zero_tail ? AllocateZeroed(n) : Allocate(n);
    return;
  }
  if (!HeadGuardOk(p)) throw RzvException(30002, "Invalid pointer");
  size_t old = StoredSize(p);
  void* fresh = nullptr;
  try {
    fresh = Allocate(n);
  } catch (const RzvException& e) {
    // p keeps its block; the caller learns why the new one was refused.
    throw RzvException::Format(30014, "ReallocMem error: %s", e.Message());
  }
  std::memcpy(fresh, p, old < n ? old : n);
  if (zero_tail && n > old) std::memset(static_cast<unsigned char*>(fresh) + old, 0, n - old);
  try {
    Free(p);
  } catch (const RzvException& e) {
    // The old block is released either way; its overrun still has to be told.
    p = fresh;
    throw RzvException::Format(30014, "ReallocMem error: %s", e.Message());
  }
  p = fresh;
}

int64_t RzvMemoryManager::AvailableMemory() {
  int64_t free_physical = ReadMemAvailable();
  std::lock_guard lock(mutex_);
  last_free_physical_ = free_physical;
  return limit_ > 0 && limit_ < free_physical ? limit_ : free_physical;
}

void RzvMemoryManager::SetLimit(int64_t limit) {
  std::lock_guard lock(mutex_);
  limit_ = limit;
}

int64_t RzvMemoryManager::Limit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

int64_t RzvMemoryManager::TotalAllocated() const {
  std::lock_guard lock(mutex_);
  return total_;
}

}  // namespace rzv
