#include "engine/storage/page_manager.h"

#include <algorithm>

#include "engine/storage/exception.h"
#include "engine/storage/memory_manager.h"

namespace rzv {

namespace {
constexpr int64_t kCacheBytesPerPage = 65536;
constexpr int32_t kMaxCacheCapacity = 1000;
}  // namespace

RzvPageManager::RzvPageManager(int32_t cache_capacity)
    : cache_capacity_(std::max(cache_capacity, 0)), random_(std::random_device{}()) {}

RzvPageManager::~RzvPageManager() {
  ReleaseAllPages();
}

int32_t RzvPageManager::DefaultCacheCapacity() {
  int64_t pages = RzvMemoryManager::Instance().AvailableMemory() / kCacheBytesPerPage;
  return static_cast<int32_t>(std::clamp<int64_t>(pages, 0, kMaxCacheCapacity));
}

bool RzvPageManager::IsCachedPageValid(int32_t /*session_id*/, RzvPage* /*page*/) {
  return false;
}
void RzvPageManager::RememberPageStamp(int32_t /*session_id*/, RzvPage* /*page*/) {}

void RzvPageManager::RefreshCachedPage(RzvPage* page) {
  ReadPage(page);
  page->SetWasRead(true);
}

void RzvPageManager::CheckSessionId(int32_t session_id) {
  // -1 is the invalid id; anything below the system session's -2 is no id.
  if (session_id == kInvalidSessionId || session_id < kSystemSessionId) {
    throw RzvException(20186, "Invalid Session ID");
  }
}

void RzvPageManager::CheckPageNo(int32_t page_no) {
  if (page_no < 0) throw RzvException::Format(10471, "Invalid PageNo = %d", page_no);
}

RzvPageManager::Session& RzvPageManager::SessionState(int32_t session_id) {
  return sessions_[session_id];
}

const RzvPageManager::Session* RzvPageManager::FindSession(int32_t session_id) const {
  auto it = sessions_.find(session_id);
  return it == sessions_.end() ? nullptr : &it->second;
}

void RzvPageManager::DeletePage(int32_t session_id, int32_t page_no) {
  CheckSessionId(session_id);
  CheckPageNo(page_no);
  std::vector<int32_t>& deleted = SessionState(session_id).deleted;
  // Recorded once: freeing a number twice at commit would fail half-way.
  if (std::find(deleted.begin(), deleted.end(), page_no) == deleted.end()) {
    deleted.push_back(page_no);
  }
}

RzvPage* RzvPageManager::GetPage(int32_t session_id, int32_t page_no, bool revalidate,
                                 uint8_t expected_type) {
  CheckSessionId(session_id);
  CheckPageNo(page_no);
  RzvPage* page = SessionState(session_id).dirty.Find(page_no);
  if (!page) page = cache_.Find(page_no);
  if (page) {
    // Checked before any refresh: rereading a page that another session holds
    // would overwrite what it is changing.
    if (page->IsPinned() && page->SessionId() != session_id) {
      throw RzvException(20090, "Page is used by other session");
    }
    if (page->Home() == RzvPageHome::kSharedCache && revalidate && !page->IsDirty() &&
        !IsCachedPageValid(session_id, page)) {
      try {
        RefreshCachedPage(page);
        RememberPageStamp(session_id, page);
      } catch (...) {
        // The buffer now holds whatever the failed read left, under the
        // version found on disk. Marked as a failed read, it is never taken
        // for current: dropped now, or when its last pin is given back.
        page->Header().SetPageVersion(kFailedPageVersion);
        if (!page->IsPinned()) cache_.Remove(page_no);
        throw;
      }
    }
  } else {
    auto fresh = std::make_unique<RzvPage>(page_no);
    fresh->AllocateBuffer(page_size_);
    fresh->SetHome(RzvPageHome::kSharedCache);
    page = fresh.get();
    (void)cache_.Insert(fresh);  // the number is not cached: checked above
    try {
      ReadPage(page);
      page->SetWasRead(true);
      uint16_t found = page->Header().PageType();
      if (expected_type != kAnyPageType && found != expected_type) {
        throw RzvException::Format(
            20153, "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d",
            expected_type, found);
      }
      RememberPageStamp(session_id, page);
    } catch (...) {
      // A page that failed to decrypt or has the wrong type must not be
      // served from the cache later as if it had been read correctly.
      cache_.Remove(page_no);
      throw;
    }
  }
  page->SetSessionId(session_id);
  page->Pin();
  return page;
}

RzvPage* RzvPageManager::AddPage(int32_t session_id, RzvPageType page_type) {
  CheckSessionId(session_id);
  auto page = std::make_unique<RzvPage>();
  AllocatePageNo(page.get());
  int32_t page_no = page->PageNo();
  if (page_no < 0) throw RzvException(20064, "Invalid page number");
  Session& session = SessionState(session_id);
  try {
    if (!page->HasBuffer()) page->AllocateNewPageBuffer(page_size_);
    // A stale dirty copy can only exist if the session wrote to a page number
    // that was free; the new page replaces it unless it is still in use.
    if (RzvPage* stale = session.dirty.Find(page_no)) {
      if (stale->IsPinned()) throw RzvException(20064, "Invalid page number");
      session.dirty.Remove(page_no);
    }
    session.added.push_back(page_no);
  } catch (...) {
    FreePageNo(page_no);
    throw;
  }
  page->SetSessionId(session_id);
  page->Pin();
  page->SetDirty(true);
  page->SetWasRead(false);
  page->Header().SetPageType(page_type);
  page->Header().SetPageVersion(
      std::uniform_int_distribution<int32_t>(0, kMaxInitialPageVersion)(random_));
  DropFromCacheUnlessPinned(page_no);
  page->SetHome(RzvPageHome::kDirtyList);
  RzvPage* result = page.get();
  (void)session.dirty.Insert(page);  // any copy was removed above
  return result;
}

void RzvPageManager::PutPage(RzvPage* page) {
  if (!page) return;
  if (page->Unpin() == 0) {
    page->SetWasRead(false);
    if (page->Home() == RzvPageHome::kSharedCache) {
      int32_t page_no = page->PageNo();
      if (page->IsDirty()) {
        std::unique_ptr<RzvPage> owned = cache_.Remove(page_no);
        owned->SetHome(RzvPageHome::kDirtyList);
        if (!SessionState(owned->SessionId()).dirty.Insert(owned)) {
          // Two copies of one page in one session: keep the cached one where
          // it was rather than lose either.
          owned->SetHome(RzvPageHome::kSharedCache);
          (void)cache_.Insert(owned);
          throw RzvException(20085, "Invalid dirty page");
        }
      } else if (page->Header().PageVersion() == kFailedPageVersion || page->IsStale()) {
        // A failed read is reported to the one caller that saw it, then
        // forgotten, so the next request reads the page again; so is a copy
        // that a newer one replaced while it was held.
        cache_.Remove(page_no);
      } else {
        cache_.Touch(page_no);
      }
    }
  }
  EvictToCapacity();
}

void RzvPageManager::EvictToCapacity() {
  while (cache_.Size() > static_cast<size_t>(cache_capacity_)) {
    RzvPage* victim = cache_.LeastRecentlyUsed([](const RzvPage& p) { return !p.IsPinned(); });
    if (!victim) break;
    cache_.Remove(victim->PageNo());
  }
}

void RzvPageManager::DropFromCacheUnlessPinned(int32_t page_no) {
  RzvPage* cached = cache_.Find(page_no);
  if (!cached) return;
  // A pinned copy stays with its holder until its last pin comes back.
  if (cached->IsPinned()) {
    cached->SetStale(true);
  } else {
    cache_.Remove(page_no);
  }
}

void RzvPageManager::CacheOrDiscard(std::unique_ptr<RzvPage> page) {
  page->SetHome(RzvPageHome::kNone);
  page->SetStale(false);  // just written: the newest copy there is
  int32_t page_no = page->PageNo();
  if (RzvPage* cached = cache_.Find(page_no)) {
    // Another session still uses its older copy: it keeps it, and the cache
    // forgets it once it is given back, so later requests read the new one.
    if (cached->IsPinned()) {
      cached->SetStale(true);
      return;
    }
    cache_.Remove(page_no);
  }
  if (cache_.Size() >= static_cast<size_t>(cache_capacity_)) return;
  page->SetHome(RzvPageHome::kSharedCache);
  (void)cache_.Insert(page);
}

void RzvPageManager::CheckCommittable(int32_t session_id) const {
  CheckSessionId(session_id);
  for (size_t i = 0; i < cache_.Size(); ++i) {
    const RzvPage* page = cache_.At(i);
    if (page->IsPinned() && page->SessionId() == session_id) {
      throw RzvException(20152, "Some session pages are not released");
    }
  }
  const Session* session = FindSession(session_id);
  if (!session) return;
  for (size_t i = 0; i < session->dirty.Size(); ++i) {
    const RzvPage* page = session->dirty.At(i);
    if (!page->IsDirty()) throw RzvException(20085, "Invalid dirty page");
    if (page->IsPinned()) throw RzvException(20086, "Cannot write used page");
  }
}

void RzvPageManager::ApplyChanges(int32_t session_id) {
  // Every page is checked before anything is freed or written, so a refused
  // commit changes nothing.
  CheckCommittable(session_id);
  auto it = sessions_.find(session_id);
  if (it == sessions_.end()) return;
  Session& session = it->second;

  std::vector<int32_t> deleted = std::move(session.deleted);
  session.deleted.clear();
  for (size_t i = 0; i < deleted.size(); ++i) {
    try {
      FreePageNo(deleted[i]);
    } catch (...) {
      session.deleted.assign(deleted.begin() + static_cast<std::ptrdiff_t>(i), deleted.end());
      throw;
    }
    session.dirty.Remove(deleted[i]);
    DropFromCacheUnlessPinned(deleted[i]);
  }
  session.added.clear();

  size_t written = 0;
  try {
    for (; written < session.dirty.Size(); ++written) WritePage(session.dirty.At(written));
  } catch (...) {
    // Pages already written are committed; only the rest stay for a cancel.
    std::vector<int32_t> done;
    for (size_t i = 0; i < written; ++i) done.push_back(session.dirty.At(i)->PageNo());
    for (int32_t page_no : done) {
      std::unique_ptr<RzvPage> page = session.dirty.Remove(page_no);
      page->SetDirty(false);
      CacheOrDiscard(std::move(page));
    }
    throw;
  }
  for (std::unique_ptr<RzvPage>& page : session.dirty.TakeAll()) {
    page->SetDirty(false);
    CacheOrDiscard(std::move(page));
  }
}

void RzvPageManager::CancelChanges(int32_t session_id) {
  CheckSessionId(session_id);
  for (size_t i = 0; i < cache_.Size(); ++i) {
    const RzvPage* page = cache_.At(i);
    // A changed page still held by the session would outlive the cancel.
    if (page->IsPinned() && page->IsDirty() && page->SessionId() == session_id) {
      throw RzvException(20088, "Cannot remove used page");
    }
  }
  auto it = sessions_.find(session_id);
  if (it == sessions_.end()) return;
  Session& session = it->second;
  for (size_t i = 0; i < session.dirty.Size(); ++i) {
    const RzvPage* page = session.dirty.At(i);
    if (!page->IsDirty()) throw RzvException(20087, "Invalid index page");
    if (page->IsPinned()) throw RzvException(20088, "Cannot remove used page");
  }
  session.dirty.Clear();
  session.deleted.clear();
  std::vector<int32_t> added = std::move(session.added);
  session.added.clear();
  for (size_t i = 0; i < added.size(); ++i) {
    try {
      FreePageNo(added[i]);
    } catch (...) {
      session.added.assign(added.begin() + static_cast<std::ptrdiff_t>(i), added.end());
      throw;
    }
    DropFromCacheUnlessPinned(added[i]);
  }
}

bool RzvPageManager::HasChanges(int32_t session_id) const {
  const Session* session = FindSession(session_id);
  return session &&
         (!session->dirty.Empty() || !session->added.empty() || !session->deleted.empty());
}

bool RzvPageManager::HasUncommittedPages() const {
  for (const auto& [id, session] : sessions_) {
    if (!session.dirty.Empty()) return true;
  }
  for (size_t i = 0; i < cache_.Size(); ++i) {
    if (cache_.At(i)->IsDirty()) return true;
  }
  return false;
}

const std::vector<int32_t>& RzvPageManager::DeletedPages(int32_t session_id) const {
  static const std::vector<int32_t> kNone;
  const Session* session = FindSession(session_id);
  return session ? session->deleted : kNone;
}

size_t RzvPageManager::DirtyPageCount(int32_t session_id) const {
  const Session* session = FindSession(session_id);
  return session ? session->dirty.Size() : 0;
}

void RzvPageManager::Close() {
  if (HasUncommittedPages()) throw RzvException(20097, "Cannot free not commited pages");
  ReleaseAllPages();
}

void RzvPageManager::ReleaseAllPages() {
  sessions_.clear();
  cache_.Clear();
}

}  // namespace rzv
