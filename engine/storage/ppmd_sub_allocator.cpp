#include "engine/storage/ppmd_sub_allocator.h"

#include <array>
#include <cstring>

namespace rzv {

namespace {

// The low "last breath" reserve: 128 blocks of 128 units below LoUnit, handed
// to the allocator once per model lifetime, when nothing else is left.
constexpr uint32_t kReserveBlocks = 128;
constexpr uint32_t kTopClass = RzvPpmdSubAllocator::kNumClasses - 1;
constexpr uint32_t kUnit = RzvPpmdSubAllocator::kUnitSize;
constexpr uint32_t kReserveBytes = kReserveBlocks * 128 * kUnit;  // 196608

// 1,2,3,4, 6,8,10,12, 15,18,21,24, 28,32,...,128.
constexpr std::array<uint8_t, RzvPpmdSubAllocator::kNumClasses> kClassUnits = {
    1,  2,  3,  4,  6,  8,  10, 12, 15, 18, 21, 24,  28,  32,  36,  40,  44,  48,  52,
    56, 60, 64, 68, 72, 76, 80, 84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};

// Smallest class with at least n units, indexed by n - 1.
constexpr std::array<uint8_t, 128> kUnitsToClass = [] {
  std::array<uint8_t, 128> t{};
  uint8_t cls = 0;
  for (uint32_t n = 1; n <= 128; ++n) {
    if (kClassUnits[cls] < n) ++cls;
    t[n - 1] = cls;
  }
  return t;
}();

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Store32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}

}  // namespace

uint32_t RzvPpmdSubAllocator::ClassOf(uint32_t nu) {
  return kUnitsToClass[nu - 1];
}
uint32_t RzvPpmdSubAllocator::ClassUnits(uint32_t cls) {
  return kClassUnits[cls];
}

RzvPpmdSubAllocator::RzvPpmdSubAllocator() = default;

void RzvPpmdSubAllocator::Resize(uint32_t mem_mb) {
  if (mem_mb == mem_mb_ && heap_) return;
  heap_.reset();
  mem_mb_ = 0;
  const uint64_t units = (uint64_t{mem_mb} << 20) / kUnit;
  // The model is left uninitialised: nothing is read before it is written.
  heap_.reset(new uint8_t[kUnit + units * kUnit]);
  std::memset(heap_.get(), 0, kUnit);
  mem_mb_ = mem_mb;
  heap_end_ = static_cast<uint32_t>(kUnit + units * kUnit);
  Reset();
}

void RzvPpmdSubAllocator::Reset() {
  for (uint32_t& head : free_) head = 0;
  hi_unit_ = heap_end_;
  lo_unit_ = kUnit + kReserveBytes;
  reserve_released_ = false;
}

void RzvPpmdSubAllocator::Push(uint32_t ref, uint32_t cls) {
  Store32(heap_.get() + ref, free_[cls]);
  free_[cls] = ref;
}

uint32_t RzvPpmdSubAllocator::Pop(uint32_t cls) {
  const uint32_t ref = free_[cls];
  free_[cls] = Load32(heap_.get() + ref);
  return ref;
}

void RzvPpmdSubAllocator::SplitBlock(uint32_t ref, uint32_t old_cls, uint32_t new_cls) {
  uint32_t diff = kClassUnits[old_cls] - kClassUnits[new_cls];
  uint32_t p = ref + kClassUnits[new_cls] * kUnit;
  uint32_t cls = kUnitsToClass[diff - 1];
  if (kClassUnits[cls] != diff) {
    // Not a class size: first the largest class below it; the rest (at most
    // three units) always is one.
    --cls;
    Push(p, cls);
    p += kClassUnits[cls] * kUnit;
    diff -= kClassUnits[cls];
  }
  Push(p, kUnitsToClass[diff - 1]);
}

uint32_t RzvPpmdSubAllocator::AllocContext() {
  if (hi_unit_ != lo_unit_) {
    hi_unit_ -= kUnit;
    return hi_unit_;
  }
  return AllocUnits(1);
}

uint32_t RzvPpmdSubAllocator::AllocUnits(uint32_t nu) {
  const uint32_t cls = kUnitsToClass[nu - 1];
  if (free_[cls] != 0) return Pop(cls);
  const uint32_t bytes = kClassUnits[cls] * kUnit;
  if (hi_unit_ - lo_unit_ >= bytes) {
    const uint32_t ref = lo_unit_;
    lo_unit_ += bytes;
    return ref;
  }
  if (!reserve_released_) {
    reserve_released_ = true;
    // Ascending order onto a LIFO list: the highest block is handed out first.
    for (uint32_t i = 0; i < kReserveBlocks; ++i) Push(kUnit + i * 128 * kUnit, kTopClass);
  }
  for (uint32_t c = cls + 1; c < kNumClasses; ++c) {
    if (free_[c] != 0) {
      const uint32_t ref = Pop(c);
      SplitBlock(ref, c, cls);
      return ref;
    }
  }
  return 0;
}

uint32_t RzvPpmdSubAllocator::ExpandUnits(uint32_t ref, uint32_t old_nu) {
  const uint32_t old_cls = kUnitsToClass[old_nu - 1];
  if (old_cls == kUnitsToClass[old_nu]) return ref;
  const uint32_t fresh = AllocUnits(old_nu + 1);
  if (fresh == 0) return 0;
  std::memcpy(heap_.get() + fresh, heap_.get() + ref, old_nu * kUnit);
  Push(ref, old_cls);
  return fresh;
}

uint32_t RzvPpmdSubAllocator::ShrinkUnits(uint32_t ref, uint32_t old_nu, uint32_t new_nu) {
  const uint32_t old_cls = kUnitsToClass[old_nu - 1];
  const uint32_t new_cls = kUnitsToClass[new_nu - 1];
  if (old_cls == new_cls) return ref;
  if (free_[new_cls] != 0) {
    const uint32_t fresh = Pop(new_cls);
    std::memcpy(heap_.get() + fresh, heap_.get() + ref, new_nu * kUnit);
    Push(ref, old_cls);
    return fresh;
  }
  SplitBlock(ref, old_cls, new_cls);
  return ref;
}

void RzvPpmdSubAllocator::FreeUnits(uint32_t ref, uint32_t nu) {
  Push(ref, kUnitsToClass[nu - 1]);
}

}  // namespace rzv
