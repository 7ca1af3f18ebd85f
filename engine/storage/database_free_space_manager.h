// RzvDatabaseFreeSpaceManager: allocates and releases page numbers of a
// database file through its free-space maps, and grows and shrinks the file
// at its end. RzvFreeSpaceHost is what it needs from the file's owner (the
// disk page manager): the header lock, the header's two page counters, the
// file size and raw page I/O.
//
// Map layout, with E = ExtentPageCount and D = PageSize - 40 (data area):
//   PFS page k, at page k*P with P = 8*D, has one bit per page: bit i (byte
//   i/8, least significant bit first) of its data area is page k*P + i,
//   set = in use.
//   EAM page k, at page k*M with M = X*E and X = 4*D (or at k*M + 1 when k*M
//   is a PFS position), has two bits per extent of E pages: entry j (byte
//   j/4, least significant pair first) is extent k*X + j; 3 = every page in
//   use, 1 = some page free, 0 = never touched. Only bit 1 (full) is used to
//   find free pages.
// PFS and EAM pages are "system pages": always marked in use, never
// encrypted, never cached, never deleted. The last page of the file is never
// a system page, so every map page that covers a page of the file exists.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/page_header.h"

namespace rzv {

class RzvFreeSpaceHost {
 public:
  virtual ~RzvFreeSpaceHost() = default;
  // Takes the (nestable) header lock; throws "Database is locked" with
  // error_code when another process holds it.
  virtual void LockHeader(int32_t error_code) = 0;
  virtual void UnlockHeader() = 0;
  // Rereads the file header and returns its two page counters.
  virtual void ReloadHeader(int32_t* last_used_page_no, int32_t* total_page_count) = 0;
  // Stores both counters into the file header and writes it.
  virtual void StoreHeader(int32_t last_used_page_no, int32_t total_page_count) = 0;
  // Grows or shrinks the file at its end to total_page_count pages.
  virtual void ResizeFile(int32_t total_page_count) = 0;
  // Whole-page raw I/O (header and data area), bypassing cache and cipher.
  virtual void ReadRawPage(int32_t page_no, uint8_t* page) = 0;
  virtual void WriteRawPage(int32_t page_no, const uint8_t* page) = 0;
};

class RzvDatabaseFreeSpaceManager {
 public:
  // Fails with 20237 when page_size leaves no data area or extent_page_count
  // is 0 (a damaged header).
  RzvDatabaseFreeSpaceManager(RzvFreeSpaceHost& host, int32_t page_size, int32_t extent_page_count,
                              int32_t last_used_page_no, int32_t total_page_count);

  // The lowest free page of the file, growing the file when none is free.
  int32_t AllocatePageNo();
  // Marks the page free and shrinks the file by whole growth steps when
  // enough free pages trail the last used one.
  void FreePageNo(int32_t page_no);
  // Fails as FreePageNo would (30431, 30434, 30427) unless every page is in
  // use, so a batch of releases can be refused before the first is made.
  void CheckReleasable(const std::vector<int32_t>& pages);
  // Cuts every free page after the last used one (compaction).
  void DropTrailingFreePages();

  bool IsSystemPage(int64_t page_no) const;
  // error_code (30430 / 30431) unless 0 <= page_no < total_page_count.
  static void CheckAddressable(int64_t page_no, int64_t total_page_count, int32_t error_code);
  // 30434: a PFS or EAM page was asked for as a data page.
  [[noreturn]] static void ThrowSystemPage(int64_t page_no);
  int64_t PfsPagePosition(int64_t k) const { return k * pfs_span_; }
  int64_t EamPagePosition(int64_t k) const;
  // Pages added when a file of total_page_count pages must grow.
  int32_t GrowthPageCount(int32_t total_page_count) const;

  // Reads the maps directly, for checks and repair.
  bool IsPageUsed(int32_t page_no);
  int EamEntry(int64_t extent);

  int32_t ExtentPageCount() const { return extent_page_count_; }
  int32_t DataSize() const { return data_size_; }
  int64_t PfsSpan() const { return pfs_span_; }           // P
  int64_t EamEntryCount() const { return eam_entries_; }  // X
  int64_t EamSpan() const { return eam_span_; }           // M
  int32_t LastUsedPageNo() const { return last_used_page_no_; }
  int32_t TotalPageCount() const { return total_page_count_; }

 private:
  void ReadMapPage(int64_t page_no, RzvPageType type, int32_t error_code, uint8_t* page);
  void WriteMapPage(int64_t page_no, const uint8_t* page);
  void CreateMapPage(int64_t page_no, RzvPageType type);
  // Sets or clears the page's PFS bit; fails when it already has that value
  // (unless tolerate_same) or lies outside the file.
  void SetPfsBit(int64_t page_no, bool used, bool tolerate_same = false);
  void UpdateEamEntry(int64_t page_no);
  int64_t SearchEam(int64_t k);
  int64_t Extend();
  int32_t FindLastUsedPage();
  void ShrinkAfterRelease();
  void Resize(int64_t total_page_count);

  RzvFreeSpaceHost& host_;
  int32_t page_size_;
  int32_t extent_page_count_;  // E
  int32_t data_size_;          // D
  int64_t pfs_span_;           // P = 8*D
  int64_t eam_entries_;        // X = 4*D
  int64_t eam_span_;           // M = X*E
  int32_t last_used_page_no_;
  int32_t total_page_count_;
};

}  // namespace rzv
