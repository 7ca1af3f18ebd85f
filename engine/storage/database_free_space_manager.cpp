#include "engine/storage/database_free_space_manager.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "engine/storage/exception.h"
#include "engine/storage/header_lock.h"

namespace rzv {

namespace {

// Native codes of the map page type checks, one per kind of access.
constexpr int32_t kTypeErrorSetUsed = 30423;
constexpr int32_t kTypeErrorSetFree = 30424;
constexpr int32_t kTypeErrorEamUpdate = 30428;
constexpr int32_t kTypeErrorLastUsed = 30430;
constexpr int32_t kTypeErrorSearch = 30432;

constexpr int32_t kLockErrorAllocate = 20231;
constexpr int32_t kLockErrorRelease = 20232;

constexpr int32_t kFirstGrowth = 6;
constexpr uint8_t kFullByte = 0xFF;

// Bit `bit` of a PFS page's data area: byte bit / 8, least significant first.
bool IsBitSet(const std::vector<uint8_t>& pfs_page, int64_t bit) {
  return (pfs_page[static_cast<size_t>(kPageHeaderSize + bit / 8)] & (1u << (bit % 8))) != 0;
}

}  // namespace

RzvDatabaseFreeSpaceManager::RzvDatabaseFreeSpaceManager(RzvFreeSpaceHost& host, int32_t page_size,
                                                         int32_t extent_page_count,
                                                         int32_t last_used_page_no,
                                                         int32_t total_page_count)
    : host_(host),
      page_size_(page_size),
      extent_page_count_(extent_page_count),
      data_size_(page_size - kPageHeaderSize),
      pfs_span_(8 * static_cast<int64_t>(page_size - kPageHeaderSize)),
      eam_entries_(4 * static_cast<int64_t>(page_size - kPageHeaderSize)),
      eam_span_(eam_entries_ * extent_page_count),
      last_used_page_no_(last_used_page_no),
      total_page_count_(total_page_count) {
  if (data_size_ <= 0 || extent_page_count_ <= 0) {
    throw RzvException(20237, "Invalid database format");
  }
}

bool RzvDatabaseFreeSpaceManager::IsSystemPage(int64_t a) const {
  if (a < 0) return false;
  if (a % pfs_span_ == 0 || a % eam_span_ == 0) return true;
  return a >= 1 && (a - 1) % pfs_span_ == 0 && (a - 1) % eam_span_ == 0;
}

void RzvDatabaseFreeSpaceManager::CheckAddressable(int64_t page_no, int64_t total_page_count,
                                                   int32_t error_code) {
  if (page_no < 0 || page_no >= total_page_count) {
    throw RzvException::Format(error_code, "Page: %d cannot be addressed. TotalPageCount=%d",
                               page_no, total_page_count);
  }
}

void RzvDatabaseFreeSpaceManager::ThrowSystemPage(int64_t page_no) {
  throw RzvException::Format(30434, "Cannot delete PFS or EAM page. PageNo=%d", page_no);
}

int64_t RzvDatabaseFreeSpaceManager::EamPagePosition(int64_t k) const {
  int64_t pos = k * eam_span_;
  return pos % pfs_span_ == 0 ? pos + 1 : pos;
}

int32_t RzvDatabaseFreeSpaceManager::GrowthPageCount(int32_t total_page_count) const {
  if (total_page_count == 0) return kFirstGrowth;
  return std::max(total_page_count / 10, extent_page_count_);
}

void RzvDatabaseFreeSpaceManager::ReadMapPage(int64_t page_no, RzvPageType type, int32_t error_code,
                                              uint8_t* page) {
  host_.ReadRawPage(static_cast<int32_t>(page_no), page);
  RzvCheckPageType(RzvPageHeader(page).PageType(), type, error_code);
}

void RzvDatabaseFreeSpaceManager::WriteMapPage(int64_t page_no, const uint8_t* page) {
  host_.WriteRawPage(static_cast<int32_t>(page_no), page);
}

void RzvDatabaseFreeSpaceManager::CreateMapPage(int64_t page_no, RzvPageType type) {
  // A fresh map page is all zero but its first byte: for a PFS page that is
  // its own bit, for an EAM page the entry of its own extent (not full).
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  RzvInitPageBuffer(page.data(), page_size_);
  RzvPageHeader(page.data()).SetPageType(type);
  page[kPageHeaderSize] = 1;
  WriteMapPage(page_no, page.data());
}

void RzvDatabaseFreeSpaceManager::SetPfsBit(int64_t a, bool used, bool tolerate_same) {
  CheckAddressable(a, total_page_count_, used ? 30430 : 30431);
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  int64_t pfs = a / pfs_span_;
  int64_t bit = a % pfs_span_;
  ReadMapPage(PfsPagePosition(pfs), RzvPageType::kPfs, used ? kTypeErrorSetUsed : kTypeErrorSetFree,
              page.data());
  uint8_t& byte = page[static_cast<size_t>(kPageHeaderSize + bit / 8)];
  auto mask = static_cast<uint8_t>(1u << (bit % 8));
  bool is_used = (byte & mask) != 0;
  if (is_used == used) {
    if (tolerate_same) return;
    if (used) throw RzvException::Format(30425, "Page: %d already used", a);
    throw RzvException::Format(30427, "Page: %d already free", a);
  }
  byte = static_cast<uint8_t>(byte ^ mask);
  WriteMapPage(PfsPagePosition(pfs), page.data());
}

void RzvDatabaseFreeSpaceManager::UpdateEamEntry(int64_t a) {
  int64_t extent = a / extent_page_count_;
  int64_t first = extent * extent_page_count_;
  std::vector<uint8_t> pfs_page(static_cast<size_t>(page_size_));
  int64_t loaded_pfs = -1;
  bool seen = false;
  bool used = false;
  bool free = false;
  for (int64_t p = first; p < first + extent_page_count_ && !(used && free); ++p) {
    // Pages beyond the end of the file count as free: the extent is not full
    // and gets pages when the file grows.
    if (p >= total_page_count_) {
      free = true;
      continue;
    }
    seen = true;
    int64_t pfs = p / pfs_span_;
    if (pfs != loaded_pfs) {
      ReadMapPage(PfsPagePosition(pfs), RzvPageType::kPfs, kTypeErrorEamUpdate, pfs_page.data());
      loaded_pfs = pfs;
    }
    if (IsBitSet(pfs_page, p % pfs_span_)) {
      used = true;
    } else {
      free = true;
    }
  }
  int value = !seen ? 0 : (used && !free ? 3 : 1);

  int64_t eam = extent / eam_entries_;
  int64_t entry = extent % eam_entries_;
  int64_t eam_pos = EamPagePosition(eam);
  if (eam_pos >= total_page_count_) return;  // created with the range that needs it
  std::vector<uint8_t> eam_page(static_cast<size_t>(page_size_));
  ReadMapPage(eam_pos, RzvPageType::kEam, kTypeErrorEamUpdate, eam_page.data());
  uint8_t& byte = eam_page[static_cast<size_t>(kPageHeaderSize + entry / 4)];
  int shift = static_cast<int>(2 * (entry % 4));
  if (((byte >> shift) & 3) == value) return;
  byte = static_cast<uint8_t>((byte & ~(3u << shift)) | (static_cast<unsigned>(value) << shift));
  WriteMapPage(eam_pos, eam_page.data());
}

int64_t RzvDatabaseFreeSpaceManager::SearchEam(int64_t k) {
  int64_t eam_pos = EamPagePosition(k);
  if (eam_pos >= total_page_count_) return -1;
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  ReadMapPage(eam_pos, RzvPageType::kEam, kTypeErrorSearch, page.data());
  const uint8_t* data = page.data() + kPageHeaderSize;
  int64_t extent = -1;
  for (int64_t i = 0; i < data_size_ && extent < 0; ++i) {
    if (data[i] == kFullByte) continue;
    for (int e = 0; e < 4; ++e) {
      if (((data[i] >> (2 * e)) & 2) == 0) {
        extent = k * eam_entries_ + i * 4 + e;
        break;
      }
    }
  }
  if (extent < 0) return -1;

  int64_t first_pfs = extent * extent_page_count_ / pfs_span_;
  int64_t last_pfs = (extent * extent_page_count_ + extent_page_count_ - 1) / pfs_span_;
  for (int64_t pfs = first_pfs; pfs <= last_pfs; ++pfs) {
    if (PfsPagePosition(pfs) >= total_page_count_) break;
    ReadMapPage(PfsPagePosition(pfs), RzvPageType::kPfs, kTypeErrorSearch, page.data());
    for (int64_t i = 0; i < data_size_; ++i) {
      if (data[i] == kFullByte) continue;
      int bit = std::countr_one(data[i]);
      // The lowest free page of this PFS page, whichever extent it is in.
      int64_t found = pfs * pfs_span_ + i * 8 + bit;
      return found < total_page_count_ ? found : -1;
    }
  }
  return -1;
}

void RzvDatabaseFreeSpaceManager::Resize(int64_t total_page_count) {
  host_.ResizeFile(static_cast<int32_t>(total_page_count));
  total_page_count_ = static_cast<int32_t>(total_page_count);
}

int64_t RzvDatabaseFreeSpaceManager::Extend() {
  int64_t candidate = static_cast<int64_t>(last_used_page_no_) + 1;
  while (IsSystemPage(candidate)) ++candidate;
  int64_t total = total_page_count_;
  int64_t n = GrowthPageCount(total_page_count_);
  if (candidate >= total + n) n = candidate - total + 1;
  while (IsSystemPage(total + n - 1)) ++n;
  if (total + n > std::numeric_limits<int32_t>::max()) {
    throw RzvException(20064, "Invalid page number");
  }
  Resize(total + n);

  // On a file with no page in use the maps are rebuilt from scratch.
  int64_t from = last_used_page_no_ == -1 ? 0 : total;
  int64_t end = total + n;
  std::vector<int64_t> new_pfs;
  std::vector<int64_t> new_eam;
  for (int64_t k = (from + pfs_span_ - 1) / pfs_span_; PfsPagePosition(k) < end; ++k) {
    CreateMapPage(PfsPagePosition(k), RzvPageType::kPfs);
    new_pfs.push_back(PfsPagePosition(k));
  }
  for (int64_t k = std::max<int64_t>(from / eam_span_ - 1, 0); EamPagePosition(k) < end; ++k) {
    if (EamPagePosition(k) < from) continue;
    CreateMapPage(EamPagePosition(k), RzvPageType::kEam);
    new_eam.push_back(EamPagePosition(k));
  }
  // A surviving PFS page may still mark an EAM position that a shrink cut
  // off; the bit is then already set.
  for (int64_t eam : new_eam) {
    SetPfsBit(eam, true, /*tolerate_same=*/true);
    UpdateEamEntry(eam);
  }
  for (int64_t pfs : new_pfs) UpdateEamEntry(pfs);
  return candidate;
}

int32_t RzvDatabaseFreeSpaceManager::AllocatePageNo() {
  RzvHeaderLock lock(host_, kLockErrorAllocate);
  host_.ReloadHeader(&last_used_page_no_, &total_page_count_);
  int32_t old_last_used = last_used_page_no_;
  int32_t old_total = total_page_count_;

  int64_t result = -1;
  if (total_page_count_ > 0) {
    // The map covering the end of the file first, then the others in order.
    int64_t last = (total_page_count_ - 1) / eam_span_;
    result = SearchEam(last);
    for (int64_t k = 0; k < last && result < 0; ++k) result = SearchEam(k);
  }
  if (result < 0) result = Extend();
  SetPfsBit(result, true);
  UpdateEamEntry(result);

  last_used_page_no_ = std::max(last_used_page_no_, static_cast<int32_t>(result));
  if (last_used_page_no_ != old_last_used || total_page_count_ != old_total) {
    host_.StoreHeader(last_used_page_no_, total_page_count_);
  }
  return static_cast<int32_t>(result);
}

int32_t RzvDatabaseFreeSpaceManager::FindLastUsedPage() {
  if (total_page_count_ <= 0) return -1;
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  const uint8_t* data = page.data() + kPageHeaderSize;
  for (int64_t k = (total_page_count_ - 1) / pfs_span_; k >= 0; --k) {
    ReadMapPage(PfsPagePosition(k), RzvPageType::kPfs, kTypeErrorLastUsed, page.data());
    for (int64_t i = data_size_ - 1; i >= 0; --i) {
      if (data[i] == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        int64_t p = k * pfs_span_ + i * 8 + bit;
        if ((data[i] & (1u << bit)) && p < total_page_count_ && !IsSystemPage(p)) {
          return static_cast<int32_t>(p);
        }
      }
    }
  }
  return -1;
}

void RzvDatabaseFreeSpaceManager::ShrinkAfterRelease() {
  int64_t growth = GrowthPageCount(total_page_count_);
  int64_t trailing = static_cast<int64_t>(total_page_count_) - last_used_page_no_ - 1;
  if (trailing < growth) return;
  int64_t cut = trailing / growth * growth;
  // Never leave a map page as the last page: a PFS page whose EAM neighbour
  // was cut would have no EAM page covering it.
  while (total_page_count_ - cut - 1 > last_used_page_no_ &&
         IsSystemPage(total_page_count_ - cut - 1)) {
    ++cut;
  }
  Resize(total_page_count_ - cut);
}

void RzvDatabaseFreeSpaceManager::FreePageNo(int32_t page_no) {
  RzvHeaderLock lock(host_, kLockErrorRelease);
  host_.ReloadHeader(&last_used_page_no_, &total_page_count_);
  int32_t old_last_used = last_used_page_no_;
  int32_t old_total = total_page_count_;
  if (IsSystemPage(page_no) && page_no < total_page_count_) ThrowSystemPage(page_no);
  SetPfsBit(page_no, false);
  UpdateEamEntry(page_no);
  last_used_page_no_ = FindLastUsedPage();
  ShrinkAfterRelease();
  if (last_used_page_no_ != old_last_used || total_page_count_ != old_total) {
    host_.StoreHeader(last_used_page_no_, total_page_count_);
  }
}

void RzvDatabaseFreeSpaceManager::CheckReleasable(const std::vector<int32_t>& pages) {
  if (pages.empty()) return;
  RzvHeaderLock lock(host_, kLockErrorRelease);
  host_.ReloadHeader(&last_used_page_no_, &total_page_count_);
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  int64_t loaded_pfs = -1;
  for (int32_t a : pages) {
    CheckAddressable(a, total_page_count_, 30431);
    if (IsSystemPage(a)) ThrowSystemPage(a);
    int64_t pfs = a / pfs_span_;
    if (pfs != loaded_pfs) {
      ReadMapPage(PfsPagePosition(pfs), RzvPageType::kPfs, kTypeErrorSetFree, page.data());
      loaded_pfs = pfs;
    }
    if (!IsBitSet(page, a % pfs_span_)) {
      throw RzvException::Format(30427, "Page: %d already free", a);
    }
  }
}

void RzvDatabaseFreeSpaceManager::DropTrailingFreePages() {
  RzvHeaderLock lock(host_, kLockErrorRelease);
  host_.ReloadHeader(&last_used_page_no_, &total_page_count_);
  int64_t trailing = static_cast<int64_t>(total_page_count_) - 1 - last_used_page_no_;
  if (trailing <= 0) return;
  Resize(static_cast<int64_t>(last_used_page_no_) + 1);
  host_.StoreHeader(last_used_page_no_, total_page_count_);
}

bool RzvDatabaseFreeSpaceManager::IsPageUsed(int32_t page_no) {
  if (page_no < 0 || page_no >= total_page_count_) return false;
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  ReadMapPage(PfsPagePosition(page_no / pfs_span_), RzvPageType::kPfs, kTypeErrorSearch,
              page.data());
  return IsBitSet(page, page_no % pfs_span_);
}

int RzvDatabaseFreeSpaceManager::EamEntry(int64_t extent) {
  int64_t eam_pos = EamPagePosition(extent / eam_entries_);
  if (eam_pos >= total_page_count_) return 0;
  std::vector<uint8_t> page(static_cast<size_t>(page_size_));
  ReadMapPage(eam_pos, RzvPageType::kEam, kTypeErrorSearch, page.data());
  int64_t entry = extent % eam_entries_;
  return (page[static_cast<size_t>(kPageHeaderSize + entry / 4)] >> (2 * (entry % 4))) & 3;
}

}  // namespace rzv
