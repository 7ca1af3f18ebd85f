// RzvDiskPageManager: the page manager of a database file. It creates and
// opens the file, keeps the in-memory copies of the three fixed headers, the
// password and the derived offsets, hands out object ids, guards the header
// with the cross-process header lock, allocates pages through the free-space
// maps and encrypts page data areas on their way to the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/storage/database_file.h"
#include "engine/storage/database_free_space_manager.h"
#include "engine/storage/file_header.h"
#include "engine/storage/internal_db_direct_access_file.h"
#include "engine/storage/lock_retry.h"
#include "engine/storage/page_cipher.h"
#include "engine/storage/page_manager.h"
#include "engine/storage/password.h"

namespace rzv {

// The fixed headers of a database image as found in a file.
struct RzvDatabaseFileHeaders {
  int64_t base_offset = 0;
  RzvFileHeader header;
  RzvEncryptionHeader encryption_header;
};

// File map of an image at base offset S (the offsets after the file header
// come from the size fields stored in the file):
//   S          file header (76)
//   S + 76     encryption header (280)
//   S + 356    reserved header (20); S + 359 tables lock, S + 360 header lock
//   S + 376    NextObjectID int32; also the object-id lock byte
//   S + 380 + N * PageSize   page N
//
// Pages: a page read from disk is decrypted (with the id stamped in the page)
// and its DataCrc checked; a page written gets PageVersion + 1 and, in an
// encrypted database, its data area encrypted in a scratch copy, so the cached
// page stays plain. PFS/EAM pages and pages marked not encryptable (direct
// internal files) are always stored plain. A commit runs between two header
// writes: FileState 1 before the first page is written, ChangeCounter + 1 and
// FileState 2 after the last; a file left at 1 reports needs-repair on open.
// Once a commit has failed between the two, later commits of the same open
// leave FileState at 1, so the mark survives until the file is repaired.
// Pages of direct internal files (types ActiveSessionList and TableLocks) are
// written with their encryptable flag clear, and reads recognise them by the
// page type in the plain header.
class RzvDiskPageManager : public RzvPageManager,
                           public RzvDirectFileHost,
                           private RzvFreeSpaceHost {
 public:
  // Page sizes the engine can use: powers of two in this range (the header
  // stores the size as uint16).
  static constexpr int32_t kMinPageSize = 1024;
  static constexpr int32_t kMaxPageSize = 32768;
  // Keeps the pages spanned by one extent-allocation page inside int32.
  static constexpr int32_t kMaxExtentPageCount = 4096;

  // Shared cache of min(available memory / 65536, 1000) pages.
  RzvDiskPageManager();
  explicit RzvDiskPageManager(int32_t cache_capacity);
  ~RzvDiskPageManager() override;
  RzvDiskPageManager(const RzvDiskPageManager&) = delete;
  RzvDiskPageManager& operator=(const RzvDiskPageManager&) = delete;

  // Creates (replacing) file_name with fresh headers. Everything is checked
  // before the file is touched.
  void CreateDatabaseFile(const std::string& file_name, const RzvPassword& password,
                          int32_t extent_page_count = 8, int32_t page_size = 4096);
  // Opens an existing database. A file that cannot be written is opened
  // read-only (read_only comes back true, multi_user false). Nothing is
  // written before the password has been checked; on failure the file is
  // closed again and the manager stays without a file.
  void OpenDatabaseFile(const std::string& file_name, const RzvPassword& password, bool& multi_user,
                        bool exclusive, bool& needs_repair, bool& read_only);
  // Releases the cached pages, the free-space manager and the file. Fails
  // with 20097 (file left open) while a session has uncommitted pages.
  void CloseDatabaseFile();
  // Reads the headers of a database file without a password and without
  // taking any lock (for tools); fails like an open on a file that is not a
  // database.
  static RzvDatabaseFileHeaders InspectDatabaseFile(const std::string& file_name);
  bool IsOpen() const { return file_.IsOpen(); }

  void ReadHeader();
  void WriteHeader();
  void ReadEncryptionHeader();
  void WriteEncryptionHeader();
  void WriteReservedHeader();

  // The stored counter plus one, written back. On a read-only file nothing is
  // written and a random 0..9999 is added instead.
  int32_t GetNextObjectID();

  // Header lock (byte S + 360). Nested calls are counted; only the outermost
  // lock and unlock touch the file. error_code is raised with "Database is
  // locked" when the retries run out.
  void LockHeader(int32_t error_code) override;
  void UnlockHeader() override;
  int32_t HeaderLockDepth() const { return header_lock_depth_; }
  // Tables lock (byte S + 359), held around table-list reads and changes.
  void LockTables();
  void UnlockTables();
  // Object-id lock (the NextObjectID slot).
  bool TryLockObjectId();
  void UnlockObjectId();

  // Raw access to bytes [offset, offset + count) of a page, bypassing cache
  // and encryption; the range must lie inside the page (10476 / 10477), the
  // page number must not be negative (10471).
  void ReadPageRegion(void* buffer, int32_t page_no, int32_t count, int32_t offset) override;
  void WritePageRegion(const void* buffer, int32_t page_no, int32_t count, int32_t offset) override;
  // File offset of the first byte of a page.
  int64_t PageOffset(int32_t page_no) const override;
  // Byte-range locks on the file for the direct internal files; one attempt
  // each (callers retry).
  bool LockFileRegion(int64_t count, int64_t position) override;
  bool UnlockFileRegion(int64_t count, int64_t position) override;
  bool IsFileByteLocked(int64_t position) override;
  bool IsFileRegionLocked(int64_t count, int64_t position) override;

  // Rereads the header under the header lock.
  int32_t GetTotalPageCount() override;
  // Removes n pages from the end of the file and records that in the header;
  // never more than the free pages after LastUsedPageNo.
  void Truncate(int32_t n);

  RzvDatabaseFile& File() { return file_; }
  const RzvFileHeader& Header() const { return header_; }
  RzvFileHeader& MutableHeader() { return header_; }
  const RzvEncryptionHeader& EncryptionHeader() const { return encryption_header_; }
  const RzvReservedHeader& ReservedHeader() const { return reserved_header_; }
  const RzvPassword& Password() const { return password_; }
  bool IsEncrypted() const { return header_.IsEncrypted(); }
  uint8_t CryptoAlgorithm() const { return encryption_header_.crypto_algorithm; }
  int32_t DataSize() const { return PageSize() - kPageHeaderSize; }
  int64_t BaseOffset() const { return base_offset_; }
  bool IsMultiUser() const { return multi_user_; }
  bool IsExclusive() const { return exclusive_; }
  bool IsReadOnly() const { return read_only_; }

  void SetLockRetry(RzvLockRetry retry) { retry_ = retry; }
  const RzvLockRetry& LockRetry() const { return retry_; }

  // Takes one byte lock, retrying as LockRetry() says.
  bool LockWithRetry(int64_t position);

  // The free-space maps; null while no file is open.
  RzvDatabaseFreeSpaceManager* FreeSpace() const { return free_space_.get(); }
  // PFS and EAM positions.
  bool IsSystemPage(int32_t page_no) const;
  // Whether a page with this number and type is stored encrypted: in an
  // encrypted database, every page but the system pages and the pages of
  // direct internal files.
  bool IsStoredEncrypted(int32_t page_no, uint16_t page_type) const;

  // Page operations of RzvPageManager.
  bool IsCachedPageValid(int32_t session_id, RzvPage* page) override;
  void AllocatePageNo(RzvPage* page) override;
  void FreePageNo(int32_t page_no) override;
  bool ReadPage(RzvPage* page) override;
  void WritePage(RzvPage* page) override;
  void DeletePage(int32_t session_id, int32_t page_no) override;
  RzvPage* GetPage(int32_t session_id, int32_t page_no, bool revalidate,
                   uint8_t expected_type) override;
  void ApplyChanges(int32_t session_id) override;

  // Test hook: runs inside a commit right after the header has been written
  // with FileState 1, before any page.
  void SetCommitHookForTest(std::function<void()> hook) { commit_hook_ = std::move(hook); }

  // Page sizes and extent sizes the engine accepts (see the constants above).
  static bool IsValidPageSize(int64_t page_size);
  static bool IsValidExtentPageCount(int64_t extent_page_count);

 protected:
  // Multi-user: keeps the cached copy when its PageVersion still matches the
  // one on disk, else reads the page again.
  void RefreshCachedPage(RzvPage* page) override;

 private:
  void CheckOpen(int32_t error_code) const;
  void CheckNotOpen(int32_t error_code, const std::string& file_name) const;
  // 10465 / 10466 unless the engine can use this page size and extent size.
  static void CheckLayout(int64_t page_size, int64_t extent_page_count);
  // 10470 unless header_ carries the file signature.
  void CheckSignature() const;
  // error_code unless bytes [offset, offset + count) lie inside a page.
  void CheckPageRange(int32_t error_code, int32_t count, int32_t offset) const;
  // Finds the first signature followed by HeaderSize 76; 0 when there is none.
  int64_t FindBaseOffset();
  void SetOffsets(int64_t base, uint16_t header_size);
  void ResetState();
  // Throws unless the file holds the header's encryption check for password_.
  void CheckPassword();
  // Cipher and free-space manager for the headers just created or read.
  void StartPageAccess();
  bool StoresEncrypted(const RzvPage* page) const;
  // 30431 unless page_no lies inside the file as the header last read says.
  void CheckAddressable(int32_t page_no) const;

  // RzvFreeSpaceHost.
  void ReloadHeader(int32_t* last_used_page_no, int32_t* total_page_count) override;
  void StoreHeader(int32_t last_used_page_no, int32_t total_page_count) override;
  void ResizeFile(int32_t total_page_count) override;
  void ReadRawPage(int32_t page_no, uint8_t* page) override;
  void WriteRawPage(int32_t page_no, const uint8_t* page) override;

  RzvDatabaseFile file_;
  RzvFileHeader header_;
  RzvEncryptionHeader encryption_header_;
  RzvReservedHeader reserved_header_;
  RzvPassword password_;
  int64_t base_offset_ = 0;
  int64_t encryption_header_offset_ = RzvFileHeader::kSize;
  int64_t reserved_header_offset_ = RzvFileHeader::kSize + RzvEncryptionHeader::kSize;
  int64_t next_object_id_offset_ = reserved_header_offset_ + RzvReservedHeader::kSize;
  int64_t first_page_offset_ = next_object_id_offset_ + 4;
  bool multi_user_ = false;
  bool exclusive_ = false;
  bool read_only_ = false;
  int32_t header_lock_depth_ = 0;
  RzvLockRetry retry_;
  std::unique_ptr<RzvDatabaseFreeSpaceManager> free_space_;
  std::optional<RzvPageCipher> cipher_;  // set while an encrypted file is open
  std::vector<uint8_t> scratch_;         // one page, for encrypted writes
  std::function<void()> commit_hook_;
  // A commit failed after marking the file: it stays marked until closed.
  bool torn_ = false;
};

}  // namespace rzv
