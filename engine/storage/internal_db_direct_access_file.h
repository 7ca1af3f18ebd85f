// RzvInternalDBDirectAccessFile: an internal file of fixed size that is read,
// written and locked at file level, bypassing the page cache and never
// encrypted (the sessions file and the table lock files). Its pages are
// created through a session of the page manager, marked not encryptable, and
// are plain on disk once that session commits. The header's logical size and
// compression stay 0.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/storage/page_header.h"
#include "engine/storage/page_manager.h"

namespace rzv {

// File-level access a direct internal file needs from the database file's
// owner (the disk page manager).
class RzvDirectFileHost {
 public:
  virtual ~RzvDirectFileHost() = default;
  // Bytes [offset, offset + count) of a page, raw.
  virtual void ReadPageRegion(void* buffer, int32_t page_no, int32_t count, int32_t offset) = 0;
  virtual void WritePageRegion(const void* buffer, int32_t page_no, int32_t count,
                               int32_t offset) = 0;
  // File offset of the first byte of a page.
  virtual int64_t PageOffset(int32_t page_no) const = 0;
  // Exclusive, non-blocking byte-range locks on the file, one attempt each.
  virtual bool LockFileRegion(int64_t count, int64_t position) = 0;
  virtual bool UnlockFileRegion(int64_t count, int64_t position) = 0;
  virtual bool IsFileByteLocked(int64_t position) = 0;
  virtual bool IsFileRegionLocked(int64_t count, int64_t position) = 0;
};

class RzvInternalDBDirectAccessFile {
 public:
  // page_size is the open database's; a file built with none (0, before the
  // database is open) refuses Create and Open with 20160.
  RzvInternalDBDirectAccessFile(RzvDirectFileHost& host, int32_t page_size, RzvPageType page_type);

  // Adds the pages of a new file of size zero bytes in the session's changes
  // and opens the file on them; returns its StartPageNo.
  int32_t Create(RzvPageManager& page_manager, int32_t session_id, int32_t size);
  // Walks the chain on disk once and keeps its page numbers.
  void Open(int32_t start_page_no);
  void Close();
  bool IsOpen() const { return start_page_no_ != kInvalidPageNo; }
  int32_t StartPageNo() const { return start_page_no_; }
  int32_t FileSize() const { return size_; }
  const std::vector<int32_t>& Pages() const { return pages_; }
  // File ranges (offset, count) of the whole content, one per page of the
  // chain, in content order; empty for a closed or empty file.
  std::vector<std::pair<int64_t, int64_t>> ContentRanges() const;

  // Reads up to count bytes at content position; returns the bytes read.
  int32_t DirectReadBuffer(void* buffer, int32_t position, int32_t count);
  // Writes count bytes at content position; the range must lie in the file.
  void DirectWriteBuffer(const void* buffer, int32_t position, int32_t count);

  // The file's mutex: the first byte of its first page. One attempt each.
  bool LockFile();
  bool UnlockFile();
  // Locks on content positions, one attempt each.
  bool LockByte(int32_t position);
  bool UnlockByte(int32_t position);
  bool IsByteLocked(int32_t position);
  bool IsRegionLocked(int32_t count, int32_t position);

 private:
  void CheckOpen(const char* operation) const;
  // 20160 when the file was built with no usable page size (the database
  // was not open yet).
  void CheckPageSize() const;
  void CheckPosition(int32_t position, int32_t limit) const;
  // Page number and in-page offset of a content position.
  int32_t PageOf(int64_t position) const;
  int32_t OffsetOf(int64_t position) const;
  int64_t FilePosition(int64_t position) const;
  // Calls fn(page_no, offset_in_page, content_offset, count) for each page
  // piece of [position, position + count).
  template <typename Fn>
  void ForEachPiece(int64_t position, int64_t count, Fn fn) const;

  RzvDirectFileHost& host_;
  int32_t page_size_;
  int32_t data_size_;
  RzvPageType page_type_;
  int32_t start_page_no_ = kInvalidPageNo;
  int32_t size_ = 0;
  std::vector<int32_t> pages_;
};

}  // namespace rzv
