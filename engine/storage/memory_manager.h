// RzvMemoryManager: the engine's guarded allocator for page and stream
// buffers. Each block carries its size, a source tag and guard words on both
// sides, so foreign pointers and overruns are caught when the block is freed;
// an optional limit caps the running total of live bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace rzv {

class RzvMemoryManager {
 public:
  // The one process-wide manager.
  static RzvMemoryManager& Instance();

  void* Allocate(size_t n);
  void* AllocateZeroed(size_t n);
  // Requested size of a block; 0 for nullptr.
  size_t SizeOf(const void* p) const;
  // Releases the block and sets p to nullptr.
  void Free(void*& p);
  template <typename T>
  void Free(T*& p) {
    void* v = p;
    try {
      Free(v);
    } catch (...) {
      p = static_cast<T*>(v);
      throw;
    }
    p = nullptr;
  }
  // Replaces p by a block of n bytes holding min(old, n) of its bytes; the
  // bytes beyond the old size are zeroed when zero_tail is set. 30002 for a
  // foreign pointer; any other failure is 30014 "ReallocMem error: %s".
  void Reallocate(void*& p, size_t n, bool zero_tail);

  // Free physical memory, capped by the limit when one is set.
  int64_t AvailableMemory();

  void SetLimit(int64_t limit);  // 0 = no limit
  int64_t Limit() const;
  int64_t TotalAllocated() const;

  RzvMemoryManager() = default;
  RzvMemoryManager(const RzvMemoryManager&) = delete;
  RzvMemoryManager& operator=(const RzvMemoryManager&) = delete;

 private:
  mutable std::mutex mutex_;
  int64_t limit_ = 0;
  int64_t total_ = 0;
  int64_t last_free_physical_ = 0;
};

}  // namespace rzv
