#include "engine/storage/ppmd_coder.h"

#include <memory>
#include <new>

#include "engine/storage/ppmd_model.h"
#include "engine/storage/ppmd_range_coder.h"
#include "engine/storage/ppmd_sub_allocator.h"

namespace rzv {

namespace {

bool ValidParameters(int order, int mem_mb) {
  return order >= RzvPpmdModel::kMinOrder && order <= RzvPpmdModel::kMaxOrder && mem_mb >= 1 &&
         mem_mb <= 256;
}

// The model heap of this thread, kept between calls while the memory size
// stays the same: a restart reuses it without touching fresh pages.
RzvPpmdSubAllocator* ThreadHeap(int mem_mb) {
  thread_local std::unique_ptr<RzvPpmdSubAllocator> heap;
  if (!heap) heap = std::make_unique<RzvPpmdSubAllocator>();
  heap->Resize(static_cast<uint32_t>(mem_mb));
  return heap.get();
}

}  // namespace

bool RzvPpmdEncode(const uint8_t* input, size_t size, int order, int mem_mb,
                   std::vector<uint8_t>* out) {
  if (!ValidParameters(order, mem_mb) || (input == nullptr && size != 0)) return false;
  try {
    auto model = std::make_unique<RzvPpmdModel>(ThreadHeap(mem_mb), order);
    RzvPpmdRangeEncoder rc(out);
    for (size_t i = 0; i < size; ++i) {
      if (!model->EncodeSymbol(&rc, input[i])) return false;
    }
    if (!model->EncodeSymbol(&rc, RzvPpmdModel::kEndOfData)) return false;
    rc.Flush();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool RzvPpmdDecode(const uint8_t* input, size_t size, int order, int mem_mb, size_t max_out,
                   std::vector<uint8_t>* out) {
  if (!ValidParameters(order, mem_mb) || input == nullptr || size < 4) return false;
  try {
    auto model = std::make_unique<RzvPpmdModel>(ThreadHeap(mem_mb), order);
    RzvPpmdRangeDecoder rc(input, size);
    for (size_t n = 0; n < max_out; ++n) {
      const int symbol = model->DecodeSymbol(&rc);
      if (symbol == RzvPpmdModel::kEndOfData) break;
      if (symbol < 0) return false;
      out->push_back(static_cast<uint8_t>(symbol));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace rzv
