// RzvPage: one page held by the page manager, either in a session's dirty
// list or in the shared cache. The buffer (PageSize bytes, header and data
// area) comes from RzvMemoryManager and is owned by the page.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/storage/page_header.h"

namespace rzv {

// The list a page currently lives in; a page is in exactly one at a time.
enum class RzvPageHome : uint8_t { kNone, kDirtyList, kSharedCache };

class RzvPage {
 public:
  explicit RzvPage(int32_t page_no = kInvalidPageNo) : page_no_(page_no) {}
  ~RzvPage();
  RzvPage(const RzvPage&) = delete;
  RzvPage& operator=(const RzvPage&) = delete;

  int32_t PageNo() const { return page_no_; }
  void SetPageNo(int32_t page_no) { page_no_ = page_no; }

  // Replaces the buffer by a zero-filled one of page_size bytes.
  void AllocateBuffer(int32_t page_size);
  // Replaces the buffer by a new page buffer: zero-filled, header defaults.
  void AllocateNewPageBuffer(int32_t page_size);
  bool HasBuffer() const { return buffer_ != nullptr; }
  uint8_t* Buffer() const { return buffer_; }
  int32_t BufferSize() const { return size_; }
  RzvPageHeader Header() const { return RzvPageHeader(buffer_); }
  uint8_t* Data() const { return buffer_ + kPageHeaderSize; }

  int32_t SessionId() const { return session_id_; }
  void SetSessionId(int32_t session_id) { session_id_ = session_id; }

  // Number of GetPage/AddPage results not yet given back with PutPage.
  int32_t PinCount() const { return pin_count_; }
  bool IsPinned() const { return pin_count_ > 0; }
  void Pin() { ++pin_count_; }
  // Returns the new count; never goes below 0.
  int32_t Unpin() { return pin_count_ > 0 ? --pin_count_ : 0; }

  bool IsDirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }
  // Read from disk since it was last pinned; cleared when the pins reach 0.
  bool WasRead() const { return was_read_; }
  void SetWasRead(bool was_read) { was_read_ = was_read; }
  // False only for pages of direct internal files, which stay plain.
  bool IsEncryptable() const { return encryptable_; }
  void SetEncryptable(bool encryptable) { encryptable_ = encryptable; }

  RzvPageHome Home() const { return home_; }
  void SetHome(RzvPageHome home) { home_ = home; }

  // A cached copy that a newer one replaced (a commit, a release, a reuse of
  // its number) while another session held it: it stays with its holder and
  // leaves the shared cache when its last pin is given back.
  bool IsStale() const { return stale_; }
  void SetStale(bool stale) { stale_ = stale; }

  // Multi-user caching: the table change stamp at which a session last read
  // this page.
  std::optional<int64_t> SessionStamp(int32_t session_id) const;
  void SetSessionStamp(int32_t session_id, int64_t stamp);

 private:
  void FreeBuffer();

  int32_t page_no_;
  uint8_t* buffer_ = nullptr;
  int32_t size_ = 0;
  int32_t session_id_ = -1;
  int32_t pin_count_ = 0;
  bool dirty_ = false;
  bool was_read_ = false;
  bool encryptable_ = true;
  bool stale_ = false;
  RzvPageHome home_ = RzvPageHome::kNone;
  std::vector<std::pair<int32_t, int64_t>> stamps_;
};

}  // namespace rzv
