// Test helpers for the page layer: a page manager over page images in memory
// that also offers file-level access and byte locks like the disk manager.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "engine/storage/exception.h"
#include "engine/storage/internal_db_direct_access_file.h"
#include "engine/storage/page_manager.h"
#include "rzv_test_support.h"

namespace rzv {

// The page-layer tests take CodeOf from here.
using ::rzv::testing::CodeOf;

// A page manager over a map of page images. Page numbers come from a
// lowest-free allocator; reads of a page never written give a blank page.
class MemoryPageManager : public RzvPageManager, public RzvDirectFileHost {
 public:
  explicit MemoryPageManager(int32_t capacity = 1000, int32_t page_size = 256)
      : RzvPageManager(capacity), image_size(page_size) {
    SetPageSize(page_size);
  }

  int32_t GetTotalPageCount() override { return next_; }
  bool IsCachedPageValid(int32_t, RzvPage*) override { return cache_valid; }
  void AllocatePageNo(RzvPage* page) override {
    int32_t no = next_;
    if (!free_.empty()) {
      no = *free_.begin();
      free_.erase(free_.begin());
    } else {
      ++next_;
    }
    page->SetPageNo(no);
  }
  void FreePageNo(int32_t page_no) override {
    freed.push_back(page_no);
    free_.insert(page_no);
  }
  bool ReadPage(RzvPage* page) override {
    reads.push_back(page->PageNo());
    if (unreadable.count(page->PageNo())) {
      page->Header().SetPageVersion(kFailedPageVersion);
      return false;
    }
    auto it = disk.find(page->PageNo());
    if (it == disk.end()) {
      RzvInitPageBuffer(page->Buffer(), image_size);
    } else {
      std::copy(it->second.begin(), it->second.end(), page->Buffer());
    }
    return true;
  }
  void WritePage(RzvPage* page) override {
    if (page->PageNo() == failing_write) throw RzvException(10469, "write failed");
    writes.push_back(page->PageNo());
    if (!page->IsEncryptable()) plain_writes.insert(page->PageNo());
    page->Header().BumpPageVersion();
    disk[page->PageNo()].assign(page->Buffer(), page->Buffer() + image_size);
  }

  // Puts a page of the given type and first data byte on "disk".
  void Store(int32_t page_no, RzvPageType type, uint8_t first_byte) {
    std::vector<uint8_t> image(image_size);
    RzvInitPageBuffer(image.data(), image_size);
    RzvPageHeader(image.data()).SetPageType(type);
    image[kPageHeaderSize] = first_byte;
    disk[page_no] = image;
    next_ = std::max(next_, page_no + 1);
  }
  uint8_t DiskByte(int32_t page_no) { return disk.at(page_no)[kPageHeaderSize]; }

  // File-level access, as a disk manager gives it to direct internal files.
  void ReadPageRegion(void* buffer, int32_t page_no, int32_t count, int32_t offset) override {
    const std::vector<uint8_t>& image = disk.at(page_no);
    std::copy(image.begin() + offset, image.begin() + offset + count,
              static_cast<uint8_t*>(buffer));
  }
  void WritePageRegion(const void* buffer, int32_t page_no, int32_t count,
                       int32_t offset) override {
    const auto* in = static_cast<const uint8_t*>(buffer);
    std::copy(in, in + count, disk.at(page_no).begin() + offset);
  }
  int64_t PageOffset(int32_t page_no) const override {
    return 380 + static_cast<int64_t>(page_no) * image_size;
  }
  bool LockFileRegion(int64_t count, int64_t position) override {
    if (IsFileRegionLocked(count, position)) return false;
    for (int64_t p = position; p < position + count; ++p) locks.insert(p);
    return true;
  }
  bool UnlockFileRegion(int64_t count, int64_t position) override {
    for (int64_t p = position; p < position + count; ++p) locks.erase(p);
    return true;
  }
  bool IsFileByteLocked(int64_t position) override { return locks.count(position) > 0; }
  bool IsFileRegionLocked(int64_t count, int64_t position) override {
    auto it = locks.lower_bound(position);
    return it != locks.end() && *it < position + count;
  }

  const int32_t image_size;
  std::map<int32_t, std::vector<uint8_t>> disk;
  std::set<int32_t> plain_writes;
  std::set<int64_t> locks;
  std::vector<int32_t> reads, writes, freed;
  std::set<int32_t> unreadable;
  int32_t failing_write = -1;
  bool cache_valid = true;

 private:
  int32_t next_ = 0;
  std::set<int32_t> free_;
};

}  // namespace rzv
