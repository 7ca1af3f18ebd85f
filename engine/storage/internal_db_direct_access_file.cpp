#include "engine/storage/internal_db_direct_access_file.h"

#include <algorithm>
#include <unordered_set>

#include "engine/storage/exception.h"
#include "engine/storage/internal_file_header.h"
#include "engine/storage/page_pin.h"

namespace rzv {

RzvInternalDBDirectAccessFile::RzvInternalDBDirectAccessFile(RzvDirectFileHost& host,
                                                             int32_t page_size,
                                                             RzvPageType page_type)
    : host_(host),
      page_size_(page_size),
      data_size_(page_size - kPageHeaderSize),
      page_type_(page_type) {}

void RzvInternalDBDirectAccessFile::CheckOpen(const char* operation) const {
  if (!IsOpen()) {
    throw RzvException::Format(20156, "Cannot perform this operation (%s) on closed internal file",
                               operation);
  }
}

void RzvInternalDBDirectAccessFile::CheckPageSize() const {
  // A page manager without an open file reports page size 0; every position
  // of the file is derived from the data size, so nothing can be laid out.
  if (data_size_ <= 0) throw RzvException(20160, "Error - database file is not opened.");
}

void RzvInternalDBDirectAccessFile::CheckPosition(int32_t position, int32_t limit) const {
  if (position < 0 || position > limit) {
    throw RzvException::Format(
        20159, "Seek position bigger then file size. FileSize=%d. Position=%d", size_, position);
  }
}

int32_t RzvInternalDBDirectAccessFile::Create(RzvPageManager& page_manager, int32_t session_id,
                                              int32_t size) {
  if (IsOpen()) {
    throw RzvException::Format(
        20157, "Cannot create Internal file. File already exists. StartPageNo=%d", start_page_no_);
  }
  CheckPageSize();
  if (size < 0) {
    throw RzvException::Format(
        20158, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d", 0, 0, size);
  }
  const int32_t needed = RzvInternalFilePageCount(size, data_size_);
  std::vector<int32_t> pages;
  RzvPagePin previous(page_manager, nullptr);
  for (int32_t i = 0; i < needed; ++i) {
    RzvPage* page = page_manager.AddPage(session_id, page_type_);
    page->SetEncryptable(false);
    if (i == 0) {
      RzvInternalFileHeader header;
      header.stored_size = size;
      header.Store(page->Data());
    } else {
      previous->Header().SetNextPageNo(page->PageNo());
    }
    pages.push_back(page->PageNo());
    previous.Reset(page);
  }
  previous.Reset();
  pages_ = std::move(pages);
  start_page_no_ = pages_.front();
  size_ = size;
  return start_page_no_;
}

void RzvInternalDBDirectAccessFile::Open(int32_t start_page_no) {
  if (start_page_no < 0) throw RzvException::Format(10471, "Invalid PageNo = %d", start_page_no);
  CheckPageSize();
  Close();
  uint8_t first[kPageHeaderSize + RzvInternalFileHeader::kSize];
  host_.ReadPageRegion(first, start_page_no, sizeof first, 0);
  RzvPageHeader page_header(first);
  if (page_header.PageType() != static_cast<uint16_t>(page_type_)) {
    throw RzvException::Format(20155, "Invalid PageType found: %d but wanted: %d",
                               page_header.PageType(), static_cast<int>(page_type_));
  }
  auto header = RzvInternalFileHeader::Load(first + kPageHeaderSize);
  if (header.marker != RzvInternalFileHeader::kMarker || header.stored_size < 0) {
    throw RzvException::Format(30388, "Internal file header is damaged. StartPageNo=%d",
                               start_page_no);
  }
  const int32_t needed = RzvInternalFilePageCount(header.stored_size, data_size_);
  std::vector<int32_t> pages{start_page_no};
  std::unordered_set<int32_t> visited{start_page_no};
  int32_t next = page_header.NextPageNo();
  uint8_t other[kPageHeaderSize];
  while (static_cast<int32_t>(pages.size()) < needed) {
    if (next < 0 || !visited.insert(next).second) {
      int64_t covered =
          static_cast<int64_t>(pages.size()) * data_size_ - RzvInternalFileHeader::kSize;
      throw RzvException::Format(30388,
                                 "Cannot read internal file. FileSize=%d. BytesRead=%d. Count=%d",
                                 header.stored_size, covered, header.stored_size);
    }
    host_.ReadPageRegion(other, next, kPageHeaderSize, 0);
    RzvPageHeader h(other);
    if (h.PageType() != static_cast<uint16_t>(page_type_)) {
      throw RzvException::Format(20155, "Invalid PageType found: %d but wanted: %d", h.PageType(),
                                 static_cast<int>(page_type_));
    }
    pages.push_back(next);
    next = h.NextPageNo();
  }
  pages_ = std::move(pages);
  size_ = header.stored_size;
  start_page_no_ = start_page_no;
}

void RzvInternalDBDirectAccessFile::Close() {
  start_page_no_ = kInvalidPageNo;
  size_ = 0;
  pages_.clear();
}

int32_t RzvInternalDBDirectAccessFile::PageOf(int64_t position) const {
  return pages_[static_cast<size_t>((position + RzvInternalFileHeader::kSize) / data_size_)];
}

int32_t RzvInternalDBDirectAccessFile::OffsetOf(int64_t position) const {
  return kPageHeaderSize +
         static_cast<int32_t>((position + RzvInternalFileHeader::kSize) % data_size_);
}

int64_t RzvInternalDBDirectAccessFile::FilePosition(int64_t position) const {
  return host_.PageOffset(PageOf(position)) + OffsetOf(position);
}

template <typename Fn>
void RzvInternalDBDirectAccessFile::ForEachPiece(int64_t position, int64_t count, Fn fn) const {
  int64_t done = 0;
  while (done < count) {
    int32_t offset = OffsetOf(position + done);
    int32_t piece = static_cast<int32_t>(std::min<int64_t>(count - done, page_size_ - offset));
    fn(PageOf(position + done), offset, done, piece);
    done += piece;
  }
}

std::vector<std::pair<int64_t, int64_t>> RzvInternalDBDirectAccessFile::ContentRanges() const {
  std::vector<std::pair<int64_t, int64_t>> ranges;
  ForEachPiece(0, size_, [&](int32_t page_no, int32_t offset, int64_t, int32_t piece) {
    ranges.emplace_back(host_.PageOffset(page_no) + offset, piece);
  });
  return ranges;
}

int32_t RzvInternalDBDirectAccessFile::DirectReadBuffer(void* buffer, int32_t position,
                                                        int32_t count) {
  CheckOpen("DirectReadBuffer");
  CheckPosition(position, size_);
  int32_t n = std::min(count, size_ - position);
  if (n <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  ForEachPiece(position, n, [&](int32_t page_no, int32_t offset, int64_t done, int32_t piece) {
    host_.ReadPageRegion(out + done, page_no, piece, offset);
  });
  return n;
}

void RzvInternalDBDirectAccessFile::DirectWriteBuffer(const void* buffer, int32_t position,
                                                      int32_t count) {
  CheckOpen("DirectWriteBuffer");
  CheckPosition(position, size_);
  if (count < 0 || static_cast<int64_t>(position) + count > size_) {
    throw RzvException::Format(20158,
                               "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                               size_, position, count);
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  ForEachPiece(position, count, [&](int32_t page_no, int32_t offset, int64_t done, int32_t piece) {
    host_.WritePageRegion(in + done, page_no, piece, offset);
  });
}

bool RzvInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return host_.LockFileRegion(1, host_.PageOffset(start_page_no_));
}

bool RzvInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return host_.UnlockFileRegion(1, host_.PageOffset(start_page_no_));
}

bool RzvInternalDBDirectAccessFile::LockByte(int32_t position) {
  CheckOpen("LockByte");
  CheckPosition(position, size_ - 1);
  return host_.LockFileRegion(1, FilePosition(position));
}

bool RzvInternalDBDirectAccessFile::UnlockByte(int32_t position) {
  CheckOpen("UnlockByte");
  CheckPosition(position, size_ - 1);
  return host_.UnlockFileRegion(1, FilePosition(position));
}

bool RzvInternalDBDirectAccessFile::IsByteLocked(int32_t position) {
  CheckOpen("IsByteLocked");
  CheckPosition(position, size_ - 1);
  return host_.IsFileByteLocked(FilePosition(position));
}

bool RzvInternalDBDirectAccessFile::IsRegionLocked(int32_t count, int32_t position) {
  CheckOpen("IsRegionLocked");
  CheckPosition(position, size_);
  int64_t end = static_cast<int64_t>(position) + count;
  if (count < 0 || end > size_) {
    throw RzvException::Format(
        20159, "Seek position bigger then file size. FileSize=%d. Position=%d", size_, end);
  }
  bool locked = false;
  ForEachPiece(position, count, [&](int32_t page_no, int32_t offset, int64_t, int32_t piece) {
    locked = locked || host_.IsFileRegionLocked(piece, host_.PageOffset(page_no) + offset);
  });
  return locked;
}

}  // namespace rzv
