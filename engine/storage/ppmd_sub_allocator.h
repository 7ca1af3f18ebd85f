// RzvPpmdSubAllocator: the model heap of the PPMd var.G coder. The heap is
// cut into 12-byte units and addressed by 32-bit byte offsets (0 = null), so
// a 64-bit build keeps the 32-bit unit accounting that decides when the model
// runs out of memory and restarts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rzv {

class RzvPpmdSubAllocator {
 public:
  static constexpr uint32_t kUnitSize = 12;
  static constexpr int kNumClasses = 38;

  RzvPpmdSubAllocator();
  RzvPpmdSubAllocator(const RzvPpmdSubAllocator&) = delete;
  RzvPpmdSubAllocator& operator=(const RzvPpmdSubAllocator&) = delete;

  // Sizes the heap for mem_mb megabytes (1..256); the buffer is kept when the
  // size is unchanged. Throws std::bad_alloc when it cannot be had.
  void Resize(uint32_t mem_mb);
  uint32_t MemoryMB() const { return mem_mb_; }

  // Forgets every block: empty free lists, the whole area between the
  // reserve and the top is unused again, the reserve is held back.
  void Reset();

  uint8_t* Base() const { return heap_.get(); }

  // One unit for a context record: from the top while the gap between the
  // two ends is open, else from the general allocator. 0 = out of memory.
  uint32_t AllocContext();
  // A block of the smallest class holding nu units (1..128). 0 = out of memory.
  uint32_t AllocUnits(uint32_t nu);
  // Room for one more unit after old_nu units; copies the contents when the
  // block has to move. 0 = out of memory (the old block stays valid).
  uint32_t ExpandUnits(uint32_t ref, uint32_t old_nu);
  // Shrinks a block from old_nu to new_nu units; never fails.
  uint32_t ShrinkUnits(uint32_t ref, uint32_t old_nu, uint32_t new_nu);
  void FreeUnits(uint32_t ref, uint32_t nu);

  // Size class of a block of nu units (1..128), and the units of a class.
  static uint32_t ClassOf(uint32_t nu);
  static uint32_t ClassUnits(uint32_t cls);

 private:
  void Push(uint32_t ref, uint32_t cls);
  uint32_t Pop(uint32_t cls);
  // Gives back the tail of a class-old_cls block beyond class new_cls units.
  void SplitBlock(uint32_t ref, uint32_t old_cls, uint32_t new_cls);

  // Heap bytes [0, kUnitSize) are a pad so that offset 0 can stand for null;
  // the units start at kUnitSize.
  std::unique_ptr<uint8_t[]> heap_;
  uint32_t mem_mb_ = 0;
  uint32_t heap_end_ = 0;  // offset just past the last whole unit
  uint32_t lo_unit_ = 0;
  uint32_t hi_unit_ = 0;
  bool reserve_released_ = false;
  uint32_t free_[kNumClasses] = {};
};

}  // namespace rzv
