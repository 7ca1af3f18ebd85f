// RzvPageManager: hands out pages by number to sessions, keeps each session's
// changed pages apart until it commits (ApplyChanges) or cancels, and keeps
// recently used clean pages in a shared cache of fixed capacity. Subclasses
// (disk, memory) supply page numbers and the actual reads and writes.
//
// Invariants:
//   - a page object lives in exactly one list: a session's dirty list (dirty,
//     pinned or not) or the shared cache (clean, or dirty while pinned);
//   - every unpinned page of the shared cache is clean;
//   - a pinned page belongs to the one session that pinned it.
// The manager takes no lock of its own; the database serialises all calls.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

#include "engine/storage/page.h"
#include "engine/storage/sorted_page_list.h"

namespace rzv {

constexpr int32_t kInvalidSessionId = -1;
constexpr int32_t kSystemSessionId = -2;

class RzvPageManager {
 public:
  // cache_capacity: maximum number of unpinned pages kept in the shared cache.
  explicit RzvPageManager(int32_t cache_capacity);
  // Releases every page silently, committed or not; call Close() first to
  // find out whether uncommitted pages would be lost.
  virtual ~RzvPageManager();
  RzvPageManager(const RzvPageManager&) = delete;
  RzvPageManager& operator=(const RzvPageManager&) = delete;

  // min(available memory / 65536, 1000): the capacity the disk manager uses.
  static int32_t DefaultCacheCapacity();

  virtual int32_t GetTotalPageCount() = 0;
  // Whether a page found in the shared cache may be served to this session
  // without rereading it. Base: false.
  virtual bool IsCachedPageValid(int32_t session_id, RzvPage* page);
  // Records the session's current table stamp in the page after a read.
  // Base: nothing.
  virtual void RememberPageStamp(int32_t session_id, RzvPage* page);
  // Gives the page a free page number and, optionally, a fresh page buffer
  // (AddPage gives it one when it has none). Leaves PageNo at -1 on failure.
  virtual void AllocatePageNo(RzvPage* page) = 0;
  virtual void FreePageNo(int32_t page_no) = 0;
  // Fills the page's buffer (PageSize bytes, already allocated). Returns
  // false when the read failed; the page then carries kFailedPageVersion.
  virtual bool ReadPage(RzvPage* page) = 0;
  virtual void WritePage(RzvPage* page) = 0;
  // Records the page for release at the session's commit.
  virtual void DeletePage(int32_t session_id, int32_t page_no);
  // Pins and returns page page_no for the session: its own dirty copy, else
  // the shared cache's, else a fresh read. expected_type kAnyPageType skips
  // the type check.
  virtual RzvPage* GetPage(int32_t session_id, int32_t page_no, bool revalidate,
                           uint8_t expected_type);
  // Commits the session: frees its deleted pages and writes its dirty pages.
  virtual void ApplyChanges(int32_t session_id);

  // A new pinned, dirty page with a fresh number and the given type.
  RzvPage* AddPage(int32_t session_id, RzvPageType page_type);
  // Gives back one pin of a page from GetPage or AddPage.
  void PutPage(RzvPage* page);
  // Drops the session's dirty pages and frees the numbers it added.
  void CancelChanges(int32_t session_id);

  // Fails with 20097 while any session has uncommitted pages; otherwise
  // releases every page. The manager stays usable.
  void Close();

  // Whether ApplyChanges has anything to do for the session.
  bool HasChanges(int32_t session_id) const;
  bool HasUncommittedPages() const;

  int32_t PageSize() const { return page_size_; }
  int32_t CacheCapacity() const { return cache_capacity_; }
  size_t CachedPageCount() const { return cache_.Size(); }
  size_t DirtyPageCount(int32_t session_id) const;
  // The cached page with that number, if any; not pinned.
  RzvPage* FindCachedPage(int32_t page_no) const { return cache_.Find(page_no); }

 protected:
  // The size of the buffers GetPage gives to pages it reads.
  void SetPageSize(int32_t page_size) { page_size_ = page_size; }
  // Brings a cached page that IsCachedPageValid rejected up to date. Base:
  // reads it again.
  virtual void RefreshCachedPage(RzvPage* page);
  // Drops every page of every session and of the cache.
  void ReleaseAllPages();
  // The page numbers the session's next commit will free, in that order.
  const std::vector<int32_t>& DeletedPages(int32_t session_id) const;
  // Raises what ApplyChanges would refuse before it frees or writes anything
  // (a pinned page, a page of the dirty list that is clean or pinned), so a
  // subclass can check before it marks the file as being in a commit.
  void CheckCommittable(int32_t session_id) const;

 private:
  struct Session {
    RzvSortedPageList dirty;
    std::vector<int32_t> added;
    std::vector<int32_t> deleted;
  };

  static void CheckSessionId(int32_t session_id);
  static void CheckPageNo(int32_t page_no);
  Session& SessionState(int32_t session_id);
  const Session* FindSession(int32_t session_id) const;
  // Puts an unpinned clean page into the cache, replacing an unpinned copy of
  // the same number; discards it when the cache is full or holds a pinned copy
  // (which is marked stale).
  void CacheOrDiscard(std::unique_ptr<RzvPage> page);
  // Removes the cached copy; a pinned one is marked stale instead and leaves
  // when its last pin is given back.
  void DropFromCacheUnlessPinned(int32_t page_no);
  void EvictToCapacity();

  int32_t page_size_ = 0;
  const int32_t cache_capacity_;
  RzvSortedPageList cache_;
  std::unordered_map<int32_t, Session> sessions_;
  std::mt19937 random_;
};

}  // namespace rzv
