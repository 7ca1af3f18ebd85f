// RzvSortedPageList: the pages of one session's dirty list or of the shared
// cache, kept sorted by page number for binary search. Each entry carries a
// 64-bit access stamp from a counter bumped on every insertion and touch, so
// the smallest stamp marks the least recently used page. The list owns its
// pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/storage/page.h"

namespace rzv {

class RzvSortedPageList {
 public:
  RzvSortedPageList() = default;
  RzvSortedPageList(const RzvSortedPageList&) = delete;
  RzvSortedPageList& operator=(const RzvSortedPageList&) = delete;
  RzvSortedPageList(RzvSortedPageList&&) = default;
  RzvSortedPageList& operator=(RzvSortedPageList&&) = default;

  size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }

  RzvPage* Find(int32_t page_no) const;
  // Inserts a page whose number is not in the list yet and stamps it as the
  // most recently used; returns false (and leaves the page with the caller)
  // when the number is already present.
  [[nodiscard]] bool Insert(std::unique_ptr<RzvPage>& page);
  // Takes the page out of the list; nullptr when it is not there.
  std::unique_ptr<RzvPage> Remove(int32_t page_no);
  // Marks the page as the most recently used.
  void Touch(int32_t page_no);

  // The least recently used page that satisfies accept, or nullptr.
  RzvPage* LeastRecentlyUsed(const std::function<bool(const RzvPage&)>& accept) const;

  // The i-th page in page-number order.
  RzvPage* At(size_t i) const { return entries_[i].page.get(); }
  // Destroys every page.
  void Clear() { entries_.clear(); }
  // Empties the list, handing its pages over in page-number order.
  std::vector<std::unique_ptr<RzvPage>> TakeAll();

 private:
  struct Entry {
    int32_t page_no;
    uint64_t stamp;
    std::unique_ptr<RzvPage> page;
  };

  std::vector<Entry>::const_iterator LowerBound(int32_t page_no) const;
  void Grow();

  std::vector<Entry> entries_;
  uint64_t clock_ = 0;
  // Capacity grows by steps of 1000 entries, doubling up to 10000, so short
  // lists stay small and long ones are not copied on every few insertions.
  size_t growth_step_ = 1000;
};

}  // namespace rzv
