#include "engine/storage/disk_page_manager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "engine/storage/byte_order.h"
#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/exception.h"
#include "engine/storage/header_lock.h"
#include "engine/storage/password_check.h"

namespace rzv {

namespace {

// Lock bytes relative to the base offset; both lie inside the reserved header.
constexpr int64_t kTablesLockByte = 359;
constexpr int64_t kHeaderLockByte = 360;

// Base-offset search: windows of 10000 bytes, each starting 16 bytes before
// the previous one ends so a signature across a boundary is still seen. A
// candidate is 18 bytes (signature and HeaderSize), so each window is read
// with the 2 bytes after it: the last start positions of a window (up to
// 9984) must see their HeaderSize even though the next window starts at 9984.
constexpr int64_t kSearchWindow = 10000;
constexpr int64_t kSearchStep = kSearchWindow - 16;
constexpr int64_t kCandidateSize = 18;

bool IsImageStart(const uint8_t* p) {
  return std::memcmp(p, kRzvFileSignature.data(), kRzvFileSignature.size()) == 0 &&
         LoadLE<uint16_t>(p + 16) == RzvFileHeader::kSize;
}

int32_t RandomBelow(int32_t n) {
  static thread_local std::mt19937 gen{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, n - 1)(gen);
}

}  // namespace

RzvDiskPageManager::RzvDiskPageManager() : RzvDiskPageManager(DefaultCacheCapacity()) {}

RzvDiskPageManager::RzvDiskPageManager(int32_t cache_capacity) : RzvPageManager(cache_capacity) {}

RzvDiskPageManager::~RzvDiskPageManager() {
  // Uncommitted pages are dropped; the file keeps its last committed state.
  ReleaseAllPages();
  free_space_.reset();
  if (file_.IsOpen()) {
    try {
      file_.CloseFile();
    } catch (...) {
      // The descriptor is gone either way.
    }
  }
}

bool RzvDiskPageManager::IsValidPageSize(int64_t page_size) {
  return page_size >= kMinPageSize && page_size <= kMaxPageSize &&
         std::has_single_bit(static_cast<uint64_t>(page_size));
}

bool RzvDiskPageManager::IsValidExtentPageCount(int64_t extent_page_count) {
  return extent_page_count >= 1 && extent_page_count <= kMaxExtentPageCount;
}

void RzvDiskPageManager::CheckLayout(int64_t page_size, int64_t extent_page_count) {
  if (!IsValidPageSize(page_size))
    throw RzvException::Format(
        10465, "Invalid page size = %d. The page size must be a power of two from %d to %d",
        page_size, kMinPageSize, kMaxPageSize);
  if (!IsValidExtentPageCount(extent_page_count))
    throw RzvException::Format(10466, "Invalid extent page count = %d. It must be from 1 to %d",
                               extent_page_count, kMaxExtentPageCount);
}

void RzvDiskPageManager::CheckSignature() const {
  if (!header_.HasSignature())
    throw RzvException::Format(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                               header_.SignatureText(), kRzvFileSignature);
}

void RzvDiskPageManager::CheckOpen(int32_t error_code) const {
  if (!file_.IsOpen()) throw RzvException(error_code, "Error - database file is not opened.");
}

void RzvDiskPageManager::CheckNotOpen(int32_t error_code, const std::string& file_name) const {
  if (file_.IsOpen())
    throw RzvException::Format(error_code, "Error - database file %s is in use.", file_name);
}

void RzvDiskPageManager::SetOffsets(int64_t base, uint16_t header_size) {
  base_offset_ = base;
  encryption_header_offset_ = base + header_size;
  reserved_header_offset_ = encryption_header_offset_ + RzvEncryptionHeader::kSize;
  next_object_id_offset_ = reserved_header_offset_ + reserved_header_.size;
  first_page_offset_ = next_object_id_offset_ + 4;
}

void RzvDiskPageManager::ResetState() {
  header_ = RzvFileHeader();
  encryption_header_ = RzvEncryptionHeader();
  reserved_header_ = RzvReservedHeader();
  password_ = RzvPassword();
  header_lock_depth_ = 0;
  multi_user_ = exclusive_ = read_only_ = false;
  free_space_.reset();
  cipher_.reset();
  torn_ = false;
  SetOffsets(0, RzvFileHeader::kSize);
}

void RzvDiskPageManager::StartPageAccess() {
  SetPageSize(header_.page_size);
  scratch_.assign(header_.page_size, 0);
  if (header_.IsEncrypted())
    cipher_.emplace(encryption_header_.crypto_algorithm, password_.password);
  RzvFreeSpaceHost& host = *this;
  free_space_ = std::make_unique<RzvDatabaseFreeSpaceManager>(
      host, header_.page_size, header_.extent_page_count, header_.last_used_page_no,
      header_.total_page_count);
}

void RzvDiskPageManager::CreateDatabaseFile(const std::string& file_name,
                                            const RzvPassword& password, int32_t extent_page_count,
                                            int32_t page_size) {
  CheckNotOpen(10461, file_name);
  // Every argument is checked before CreateFile replaces an existing file.
  CheckLayout(page_size, extent_page_count);
  const bool encrypted = !password.password.empty();
  if (encrypted && !RzvIsValidCryptoAlgorithm(password.algorithm))
    throw RzvException::Format(10467, "Unknown crypto algorithm id = %d", password.algorithm);

  ResetState();
  password_ = password;
  header_ = RzvFileHeader::New(static_cast<uint16_t>(page_size),
                               static_cast<uint16_t>(extent_page_count), encrypted);
  if (encrypted) {
    encryption_header_.crypto_algorithm = password.algorithm;
    RzvMakeCheckBlock(password, encryption_header_.check_block.data(),
                      &encryption_header_.check_crc);
  }
  try {
    file_.CreateFile(file_name);
    WriteHeader();
    WriteEncryptionHeader();
    WriteReservedHeader();
    if (!TryLockObjectId())
      throw RzvException(30401, "Cannot get NextObjectID. File area is Locked.");
    uint8_t zero[4] = {};
    try {
      file_.WriteBuffer(zero, next_object_id_offset_, 4, 30404);
    } catch (...) {
      UnlockObjectId();
      throw;
    }
    UnlockObjectId();
    StartPageAccess();
  } catch (...) {
    if (file_.IsOpen()) file_.CloseFile();
    ResetState();
    throw;
  }
  read_only_ = false;
}

void RzvDiskPageManager::OpenDatabaseFile(const std::string& file_name, const RzvPassword& password,
                                          bool& multi_user, bool exclusive, bool& needs_repair,
                                          bool& read_only) {
  CheckNotOpen(10462, file_name);
  ResetState();
  password_ = password;

  struct stat st {};
  if (!read_only && ::stat(file_name.c_str(), &st) == 0) {
    if ((st.st_mode & 0222) == 0 || ::access(file_name.c_str(), W_OK) != 0) {
      read_only = true;
      multi_user = false;
    } else {
      // Reading one byte and writing it back shows whether writes get through.
      try {
        RzvDatabaseFile probe;
        probe.OpenFile(file_name, kRzvAccessReadWrite,
                       multi_user ? kRzvShareReadWrite : kRzvShareExclusive);
        uint8_t byte = 0;
        probe.ReadBuffer(&byte, 0, 1, 10464);
        probe.WriteBuffer(&byte, 0, 1, 10462);
        probe.CloseFile();
      } catch (const RzvException&) {
        read_only = true;
      }
    }
  }

  int32_t access = kRzvAccessReadWrite;
  int32_t share = kRzvShareReadWrite;
  if (read_only) {
    access = kRzvAccessRead;
  } else if (exclusive) {
    share = kRzvShareExclusive;
    multi_user = false;
  }
  file_.OpenFile(file_name, access, share);
  read_only_ = read_only;
  exclusive_ = exclusive && !read_only;
  multi_user_ = multi_user;

  try {
    // The header lock is byte S + 360, so S is found first; the signature
    // and HeaderSize it rests on are never rewritten.
    SetOffsets(FindBaseOffset(), RzvFileHeader::kSize);
    {
      RzvHeaderLock lock(*this, 20230);
      ReadHeader();
    }
    needs_repair = header_.NeedsRepair();

    CheckSignature();
    CheckLayout(header_.page_size, header_.extent_page_count);
    // Page counters no engine writes would send allocation and file resizing
    // astray.
    if (header_.total_page_count < 0 || header_.last_used_page_no < -1 ||
        header_.last_used_page_no >= header_.total_page_count)
      throw RzvException(20237, "Invalid database format");
    SetOffsets(base_offset_, header_.header_size);

    ReadEncryptionHeader();
    if (header_.IsEncrypted()) {
      // The stored algorithm wins over whatever the caller's record says.
      if (!RzvIsValidCryptoAlgorithm(encryption_header_.crypto_algorithm))
        throw RzvException::Format(10468, "Unknown crypto algorithm id = %d in database file %s",
                                   encryption_header_.crypto_algorithm, file_name);
      password_.algorithm = encryption_header_.crypto_algorithm;
      CheckPassword();
    }
    if (encryption_header_offset_ + encryption_header_.size != reserved_header_offset_)
      throw RzvException(20237, "Invalid database format");

    uint8_t size_bytes[2];
    file_.ReadBuffer(size_bytes, reserved_header_offset_, 2, 30442);
    reserved_header_.size = LoadLE<uint16_t>(size_bytes);
    // The lock bytes at S + 359 and S + 360 must stay inside the reserved
    // header, clear of the object-id slot that follows it.
    if (reserved_header_.size < RzvReservedHeader::kSize)
      throw RzvException(20237, "Invalid database format");
    SetOffsets(base_offset_, header_.header_size);
    StartPageAccess();
  } catch (...) {
    header_lock_depth_ = 0;
    file_.CloseFile();
    ResetState();
    throw;
  }
}

RzvDatabaseFileHeaders RzvDiskPageManager::InspectDatabaseFile(const std::string& file_name) {
  RzvDiskPageManager m(0);
  m.file_.OpenFile(file_name, kRzvAccessRead, kRzvShareReadWrite);
  m.SetOffsets(m.FindBaseOffset(), RzvFileHeader::kSize);
  m.ReadHeader();
  m.CheckSignature();
  m.SetOffsets(m.base_offset_, m.header_.header_size);
  m.ReadEncryptionHeader();
  return {m.base_offset_, m.header_, m.encryption_header_};
}

void RzvDiskPageManager::CheckPassword() {
  RzvVerifyPassword(password_, encryption_header_.crypto_algorithm,
                    encryption_header_.check_block.data(), encryption_header_.check_crc);
}

void RzvDiskPageManager::CloseDatabaseFile() {
  Close();  // 20097 while uncommitted pages exist
  header_lock_depth_ = 0;
  if (file_.IsOpen()) {
    try {
      file_.CloseFile();
    } catch (...) {
      ResetState();
      throw;
    }
  }
  ResetState();
}

int64_t RzvDiskPageManager::FindBaseOffset() {
  const int64_t saved = file_.GetPosition();
  uint8_t head[RzvFileHeader::kSize + 16];
  int64_t found = 0;
  if (!(file_.ReadBuffer(head, 0, sizeof head) && IsImageStart(head))) {
    const int64_t size = file_.GetSize();
    std::vector<uint8_t> window(kSearchWindow + kCandidateSize - 16);
    bool hit = false;
    for (int64_t start = 0; !hit && start < size; start += kSearchStep) {
      const int64_t n = std::min<int64_t>(static_cast<int64_t>(window.size()), size - start);
      if (!file_.ReadBuffer(window.data(), start, n)) break;
      for (int64_t i = 0; i + kCandidateSize <= n; ++i) {
        if (IsImageStart(window.data() + i)) {
          found = start + i;
          hit = true;
          break;
        }
      }
      if (n < static_cast<int64_t>(window.size())) break;
    }
  }
  file_.Seek(saved);
  return found;
}

void RzvDiskPageManager::ReadHeader() {
  CheckOpen(10459);
  uint8_t bytes[RzvFileHeader::kSize];
  file_.ReadBuffer(bytes, base_offset_, sizeof bytes, 10464);
  header_ = RzvFileHeader::Parse(bytes);
}

void RzvDiskPageManager::WriteHeader() {
  CheckOpen(10460);
  uint8_t bytes[RzvFileHeader::kSize];
  header_.Serialize(bytes);
  file_.WriteBuffer(bytes, base_offset_, sizeof bytes, 10462);
}

void RzvDiskPageManager::ReadEncryptionHeader() {
  CheckOpen(30436);
  uint8_t bytes[RzvEncryptionHeader::kSize];
  file_.ReadBuffer(bytes, encryption_header_offset_, sizeof bytes, 30439);
  encryption_header_ = RzvEncryptionHeader::Parse(bytes);
}

void RzvDiskPageManager::WriteEncryptionHeader() {
  CheckOpen(30437);
  uint8_t bytes[RzvEncryptionHeader::kSize];
  encryption_header_.Serialize(bytes);
  file_.WriteBuffer(bytes, encryption_header_offset_, sizeof bytes, 30438);
}

void RzvDiskPageManager::WriteReservedHeader() {
  CheckOpen(30443);
  uint8_t bytes[RzvReservedHeader::kSize];
  reserved_header_.Serialize(bytes);
  file_.WriteBuffer(bytes, reserved_header_offset_, sizeof bytes, 30444);
}

bool RzvDiskPageManager::LockWithRetry(int64_t position) {
  return RzvRetryLock(retry_, [&] { return file_.LockByte(1, position); });
}

void RzvDiskPageManager::LockHeader(int32_t error_code) {
  CheckOpen(10459);
  if (header_lock_depth_ == 0 && !LockWithRetry(base_offset_ + kHeaderLockByte))
    throw RzvException(error_code, "Database is locked");
  ++header_lock_depth_;
}

void RzvDiskPageManager::UnlockHeader() {
  if (header_lock_depth_ == 0) return;
  if (--header_lock_depth_ == 0 && file_.IsOpen())
    file_.UnlockByte(1, base_offset_ + kHeaderLockByte);
}

void RzvDiskPageManager::LockTables() {
  CheckOpen(10459);
  if (!LockWithRetry(base_offset_ + kTablesLockByte))
    throw RzvException(20210, "Database tables are locked");
}

void RzvDiskPageManager::UnlockTables() {
  if (!file_.IsOpen() || !file_.UnlockByte(1, base_offset_ + kTablesLockByte))
    throw RzvException(20211, "Cannot unlock database tables");
}

bool RzvDiskPageManager::TryLockObjectId() {
  return LockWithRetry(next_object_id_offset_);
}

void RzvDiskPageManager::UnlockObjectId() {
  file_.UnlockByte(1, next_object_id_offset_);
}

int32_t RzvDiskPageManager::GetNextObjectID() {
  CheckOpen(30399);
  if (!TryLockObjectId())
    throw RzvException(30401, "Cannot get NextObjectID. File area is Locked.");
  int32_t result = 0;
  try {
    uint8_t bytes[4];
    file_.ReadBuffer(bytes, next_object_id_offset_, 4, 30403);
    result = LoadLE<int32_t>(bytes) + 1;
    if (read_only_) {
      // Nothing can be stored, so keep ids of concurrent read-only users apart.
      result += RandomBelow(10000);
    } else {
      StoreLE<int32_t>(bytes, result);
      file_.WriteBuffer(bytes, next_object_id_offset_, 4, 30406);
    }
  } catch (...) {
    UnlockObjectId();
    throw;
  }
  UnlockObjectId();
  return result;
}

int64_t RzvDiskPageManager::PageOffset(int32_t page_no) const {
  if (page_no < 0) throw RzvException::Format(10471, "Invalid PageNo = %d", page_no);
  return first_page_offset_ + static_cast<int64_t>(page_no) * PageSize();
}

void RzvDiskPageManager::CheckPageRange(int32_t error_code, int32_t count, int32_t offset) const {
  if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > PageSize())
    throw RzvException::Format(error_code, "Error - invalid page offset = %d, page size = %d",
                               static_cast<int64_t>(offset) + count, PageSize());
}

void RzvDiskPageManager::ReadPageRegion(void* buffer, int32_t page_no, int32_t count,
                                        int32_t offset) {
  const int64_t pos = PageOffset(page_no);
  CheckPageRange(10476, count, offset);
  file_.ReadBuffer(buffer, pos + offset, count, 10474);
}

void RzvDiskPageManager::WritePageRegion(const void* buffer, int32_t page_no, int32_t count,
                                         int32_t offset) {
  const int64_t pos = PageOffset(page_no);
  CheckPageRange(10477, count, offset);
  file_.WriteBuffer(buffer, pos + offset, count, 10475);
}

int32_t RzvDiskPageManager::GetTotalPageCount() {
  RzvHeaderLock lock(*this, 20236);
  ReadHeader();
  return header_.total_page_count;
}

void RzvDiskPageManager::Truncate(int32_t n) {
  CheckOpen(10460);
  if (n <= 0) return;
  RzvHeaderLock lock(*this, 20232);
  ReadHeader();
  // Only free pages after the last used one may go: cutting a used page
  // would lose what it holds.
  n = std::min(n, header_.total_page_count - header_.last_used_page_no - 1);
  if (n > 0) {
    const int32_t total = header_.total_page_count - n;
    ResizeFile(total);
    header_.total_page_count = total;
    WriteHeader();
  }
}

// ---- Free-space host ----

void RzvDiskPageManager::ReloadHeader(int32_t* last_used_page_no, int32_t* total_page_count) {
  ReadHeader();
  *last_used_page_no = header_.last_used_page_no;
  *total_page_count = header_.total_page_count;
}

void RzvDiskPageManager::StoreHeader(int32_t last_used_page_no, int32_t total_page_count) {
  header_.last_used_page_no = last_used_page_no;
  header_.total_page_count = total_page_count;
  WriteHeader();
}

void RzvDiskPageManager::ResizeFile(int32_t total_page_count) {
  file_.SetSize(first_page_offset_ + static_cast<int64_t>(total_page_count) * PageSize());
}

void RzvDiskPageManager::ReadRawPage(int32_t page_no, uint8_t* page) {
  file_.ReadBuffer(page, PageOffset(page_no), PageSize(), 10474);
}

void RzvDiskPageManager::WriteRawPage(int32_t page_no, const uint8_t* page) {
  file_.WriteBuffer(page, PageOffset(page_no), PageSize(), 10469);
}

// ---- Pages ----

bool RzvDiskPageManager::IsSystemPage(int32_t page_no) const {
  return free_space_ && free_space_->IsSystemPage(page_no);
}

bool RzvDiskPageManager::IsStoredEncrypted(int32_t page_no, uint16_t page_type) const {
  return cipher_.has_value() && !IsSystemPage(page_no) &&
         page_type != static_cast<uint16_t>(RzvPageType::kActiveSessionList) &&
         page_type != static_cast<uint16_t>(RzvPageType::kTableLocks);
}

bool RzvDiskPageManager::StoresEncrypted(const RzvPage* page) const {
  return page->IsEncryptable() && IsStoredEncrypted(page->PageNo(), page->Header().PageType());
}

bool RzvDiskPageManager::LockFileRegion(int64_t count, int64_t position) {
  CheckOpen(10459);
  return file_.LockByte(count, position);
}

bool RzvDiskPageManager::UnlockFileRegion(int64_t count, int64_t position) {
  CheckOpen(10459);
  return file_.UnlockByte(count, position);
}

bool RzvDiskPageManager::IsFileByteLocked(int64_t position) {
  CheckOpen(10459);
  return file_.IsByteLocked(position);
}

bool RzvDiskPageManager::IsFileRegionLocked(int64_t count, int64_t position) {
  CheckOpen(10459);
  return file_.IsRegionLocked(count, position);
}

bool RzvDiskPageManager::IsCachedPageValid(int32_t /*session_id*/, RzvPage* /*page*/) {
  // Single-user: nobody else writes the file. Multi-user: every revalidating
  // request compares the cached PageVersion with the disk (RefreshCachedPage).
  return !multi_user_;
}

void RzvDiskPageManager::RefreshCachedPage(RzvPage* page) {
  uint8_t bytes[4];
  if (file_.ReadBuffer(bytes, PageOffset(page->PageNo()) + kPageVersionOffset, 4)) {
    const int32_t on_disk = LoadLE<int32_t>(bytes);
    if (on_disk == kFailedPageVersion || on_disk == page->Header().PageVersion()) {
      page->Header().SetPageVersion(on_disk);
      return;
    }
  }
  ReadPage(page);
  page->SetWasRead(true);
}

void RzvDiskPageManager::AllocatePageNo(RzvPage* page) {
  CheckOpen(10459);
  page->SetPageNo(kInvalidPageNo);
  // The buffer first: a number taken from the maps for a page that then has
  // no memory would stay marked in use with nothing to free it.
  page->AllocateNewPageBuffer(PageSize());
  page->SetPageNo(free_space_->AllocatePageNo());
}

void RzvDiskPageManager::FreePageNo(int32_t page_no) {
  CheckOpen(10459);
  // One header lock over the stamp and the release, and the number checked
  // first, so the stamp never lands on a page that is not this file's or that
  // another process has just been given.
  RzvHeaderLock lock(*this, 20232);
  ReadHeader();
  CheckAddressable(page_no);
  // A map page's header must never carry the freed stamp: refused here,
  // before the write, not by the release that follows it.
  if (IsSystemPage(page_no)) RzvDatabaseFreeSpaceManager::ThrowSystemPage(page_no);
  // Other processes' caches see the page as changed from now on.
  uint8_t bytes[4];
  StoreLE<int32_t>(bytes, kFailedPageVersion);
  file_.WriteBuffer(bytes, PageOffset(page_no) + kPageVersionOffset, 4, 20198);
  free_space_->FreePageNo(page_no);
}

void RzvDiskPageManager::CheckAddressable(int32_t page_no) const {
  RzvDatabaseFreeSpaceManager::CheckAddressable(page_no, header_.total_page_count, 30431);
}

bool RzvDiskPageManager::ReadPage(RzvPage* page) {
  CheckOpen(10459);
  uint8_t* buf = page->Buffer();
  if (!file_.ReadBuffer(buf, PageOffset(page->PageNo()), PageSize())) {
    page->Header().SetPageVersion(kFailedPageVersion);
    return false;
  }
  if (IsStoredEncrypted(page->PageNo(), page->Header().PageType()))
    cipher_->DecryptPageOrThrow(buf, static_cast<size_t>(PageSize()), page->PageNo());
  return true;
}

void RzvDiskPageManager::WritePage(RzvPage* page) {
  CheckOpen(10459);
  // A page outside the file (one whose read failed) would grow the file
  // behind the free-space maps' back.
  CheckAddressable(page->PageNo());
  RzvPageHeader header = page->Header();
  header.BumpPageVersion();
  const int64_t pos = PageOffset(page->PageNo());
  if (!StoresEncrypted(page)) {
    file_.WriteBuffer(page->Buffer(), pos, PageSize(), 10469);
    return;
  }
  // Encrypting a copy leaves the cached page plain without a second pass of
  // the cipher; the page's own header gets the DataCrc and id the disk has.
  std::memcpy(scratch_.data(), page->Buffer(), scratch_.size());
  cipher_->EncryptPage(scratch_.data(), scratch_.size());
  file_.WriteBuffer(scratch_.data(), pos, PageSize(), 10469);
  std::memcpy(page->Buffer(), scratch_.data(), kPageHeaderSize);
}

void RzvDiskPageManager::DeletePage(int32_t session_id, int32_t page_no) {
  if (IsSystemPage(page_no)) RzvDatabaseFreeSpaceManager::ThrowSystemPage(page_no);
  // Refused now rather than half-way through the commit that would free it.
  if (page_no >= 0 && page_no >= GetTotalPageCount()) CheckAddressable(page_no);
  RzvPageManager::DeletePage(session_id, page_no);
}

RzvPage* RzvDiskPageManager::GetPage(int32_t session_id, int32_t page_no, bool revalidate,
                                     uint8_t expected_type) {
  if (IsSystemPage(page_no)) RzvDatabaseFreeSpaceManager::ThrowSystemPage(page_no);
  return RzvPageManager::GetPage(session_id, page_no, revalidate, expected_type);
}

void RzvDiskPageManager::ApplyChanges(int32_t session_id) {
  if (!HasChanges(session_id)) {
    RzvPageManager::ApplyChanges(session_id);  // still refuses pinned pages
    return;
  }
  CheckOpen(10459);
  RzvHeaderLock lock(*this, 20213);
  ReadHeader();
  // A deleted page found free half-way through the releases would leave the
  // earlier ones released and the file marked for repair: all are checked
  // before the file is marked or anything freed, under this lock.
  free_space_->CheckReleasable(DeletedPages(session_id));
  // Refusals (pinned or clean pages) come before the file is marked, so a
  // refused commit leaves it as it was; anything failing after the mark may
  // have torn pages.
  CheckCommittable(session_id);
  header_.file_state = kRzvFileStateInCommit;
  WriteHeader();
  try {
    if (commit_hook_) commit_hook_();
    RzvPageManager::ApplyChanges(session_id);
  } catch (...) {
    torn_ = true;
    throw;
  }
  // Allocations and releases inside the commit rewrote the counters.
  ReadHeader();
  ++header_.change_counter;
  // After a commit of this manager failed half-way, no later commit may
  // declare the file consistent: its pages may be torn until repaired.
  header_.file_state = torn_ ? kRzvFileStateInCommit : kRzvFileStateConsistent;
  WriteHeader();
}

}  // namespace rzv
