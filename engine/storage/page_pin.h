// RzvPagePin: holds one pin of a page from RzvPageManager::GetPage or AddPage
// and gives it back with PutPage when it goes out of scope, so a failure
// half-way through a page walk leaves no page pinned.
#pragma once

#include "engine/storage/page_manager.h"

namespace rzv {

class RzvPagePin {
 public:
  RzvPagePin(RzvPageManager& page_manager, RzvPage* page)
      : page_manager_(page_manager), page_(page) {}
  ~RzvPagePin() { Release(); }
  RzvPagePin(const RzvPagePin&) = delete;
  RzvPagePin& operator=(const RzvPagePin&) = delete;

  RzvPage* get() const { return page_; }
  RzvPage* operator->() const { return page_; }

  // Gives back the current page (if any) and holds page instead.
  void Reset(RzvPage* page = nullptr) {
    Release();
    page_ = page;
  }

 private:
  void Release() noexcept {
    if (!page_) return;
    RzvPage* page = page_;
    page_ = nullptr;
    try {
      page_manager_.PutPage(page);
    } catch (...) {  // PutPage only fails on a broken invariant; keep unwinding
    }
  }

  RzvPageManager& page_manager_;
  RzvPage* page_;
};

}  // namespace rzv
