#include "engine/storage/sorted_page_list.h"

#include <algorithm>

namespace rzv {

namespace {
constexpr size_t kMaxGrowthStep = 10000;
}  // namespace

std::vector<RzvSortedPageList::Entry>::const_iterator RzvSortedPageList::LowerBound(
    int32_t page_no) const {
  return std::lower_bound(entries_.begin(), entries_.end(), page_no,
                          [](const Entry& e, int32_t n) { return e.page_no < n; });
}

RzvPage* RzvSortedPageList::Find(int32_t page_no) const {
  auto it = LowerBound(page_no);
  return it != entries_.end() && it->page_no == page_no ? it->page.get() : nullptr;
}

void RzvSortedPageList::Grow() {
  entries_.reserve(entries_.capacity() + growth_step_);
  growth_step_ = std::min(growth_step_ * 2, kMaxGrowthStep);
}

bool RzvSortedPageList::Insert(std::unique_ptr<RzvPage>& page) {
  int32_t page_no = page->PageNo();
  auto it = LowerBound(page_no);
  if (it != entries_.end() && it->page_no == page_no) return false;
  if (entries_.size() == entries_.capacity()) {
    auto index = it - entries_.begin();
    Grow();
    it = entries_.begin() + index;
  }
  entries_.insert(it, Entry{page_no, ++clock_, std::move(page)});
  return true;
}

std::unique_ptr<RzvPage> RzvSortedPageList::Remove(int32_t page_no) {
  auto it = LowerBound(page_no);
  if (it == entries_.end() || it->page_no != page_no) return nullptr;
  auto mutable_it = entries_.begin() + (it - entries_.begin());
  std::unique_ptr<RzvPage> page = std::move(mutable_it->page);
  entries_.erase(mutable_it);
  return page;
}

void RzvSortedPageList::Touch(int32_t page_no) {
  auto it = LowerBound(page_no);
  if (it == entries_.end() || it->page_no != page_no) return;
  entries_[static_cast<size_t>(it - entries_.begin())].stamp = ++clock_;
}

std::vector<std::unique_ptr<RzvPage>> RzvSortedPageList::TakeAll() {
  std::vector<std::unique_ptr<RzvPage>> pages;
  pages.reserve(entries_.size());
  for (Entry& e : entries_) pages.push_back(std::move(e.page));
  entries_.clear();
  return pages;
}

RzvPage* RzvSortedPageList::LeastRecentlyUsed(
    const std::function<bool(const RzvPage&)>& accept) const {
  const Entry* best = nullptr;
  for (const Entry& e : entries_) {
    if ((!best || e.stamp < best->stamp) && accept(*e.page)) best = &e;
  }
  return best ? best->page.get() : nullptr;
}

}  // namespace rzv
