#include "engine/storage/page.h"

#include "engine/storage/memory_manager.h"

namespace rzv {

RzvPage::~RzvPage() {
  // A guard fault reported by the allocator must not escape a destructor.
  try {
    FreeBuffer();
  } catch (...) {
  }
}

void RzvPage::FreeBuffer() {
  if (buffer_) RzvMemoryManager::Instance().Free(buffer_);
  size_ = 0;
}

void RzvPage::AllocateBuffer(int32_t page_size) {
  auto* fresh = static_cast<uint8_t*>(
      RzvMemoryManager::Instance().AllocateZeroed(static_cast<size_t>(page_size)));
  FreeBuffer();
  buffer_ = fresh;
  size_ = page_size;
}

void RzvPage::AllocateNewPageBuffer(int32_t page_size) {
  AllocateBuffer(page_size);
  RzvInitPageBuffer(buffer_, page_size);
}

std::optional<int64_t> RzvPage::SessionStamp(int32_t session_id) const {
  for (const auto& [id, stamp] : stamps_) {
    if (id == session_id) return stamp;
  }
  return std::nullopt;
}

void RzvPage::SetSessionStamp(int32_t session_id, int64_t stamp) {
  for (auto& [id, value] : stamps_) {
    if (id == session_id) {
      value = stamp;
      return;
    }
  }
  stamps_.emplace_back(session_id, stamp);
}

}  // namespace rzv
