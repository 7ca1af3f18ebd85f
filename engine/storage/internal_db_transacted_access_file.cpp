#include "engine/storage/internal_db_transacted_access_file.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

#include "engine/storage/compression.h"
#include "engine/storage/exception.h"
#include "engine/storage/page_pin.h"

namespace rzv {

namespace {

constexpr int32_t kCorruptChainError = 30388;

[[noreturn]] void ThrowShortChain(int32_t logical_size, int64_t bytes_read, int64_t count) {
  throw RzvException::Format(kCorruptChainError,
                             "Cannot read internal file. FileSize=%d. BytesRead=%d. Count=%d",
                             logical_size, bytes_read, count);
}

}  // namespace

RzvInternalDBTransactedAccessFile::RzvInternalDBTransactedAccessFile(RzvPageManager& page_manager,
                                                                     RzvPageType page_type)
    : page_manager_(page_manager), page_type_(page_type) {}

void RzvInternalDBTransactedAccessFile::CheckOpen(const char* operation) const {
  if (!IsOpen()) {
    throw RzvException::Format(30389, "Cannot perform this operation (%s) on closed internal file",
                               operation);
  }
}

int32_t RzvInternalDBTransactedAccessFile::Create(int32_t session_id) {
  if (IsOpen()) {
    throw RzvException::Format(
        30383, "Cannot create Internal file. File already exists. StartPageNo=%d", start_page_no_);
  }
  RzvPagePin page(page_manager_, page_manager_.AddPage(session_id, page_type_));
  RzvInternalFileHeader().Store(page->Data());
  page->SetDirty(true);
  start_page_no_ = page->PageNo();
  return start_page_no_;
}

void RzvInternalDBTransactedAccessFile::Open(int32_t start_page_no) {
  if (start_page_no < 0) throw RzvException::Format(10471, "Invalid PageNo = %d", start_page_no);
  start_page_no_ = start_page_no;
}

RzvPage* RzvInternalDBTransactedAccessFile::GetChainPage(int32_t session_id, int32_t page_no) {
  return page_manager_.GetPage(session_id, page_no, /*revalidate=*/true,
                               static_cast<uint8_t>(page_type_));
}

std::vector<uint8_t> RzvInternalDBTransactedAccessFile::ReadStored(int32_t session_id,
                                                                   RzvInternalFileHeader* header) {
  const int32_t data_size = page_manager_.PageSize() - kPageHeaderSize;
  RzvPagePin page(page_manager_, GetChainPage(session_id, start_page_no_));
  *header = RzvInternalFileHeader::Load(page->Data());
  if (header->marker != RzvInternalFileHeader::kMarker || header->stored_size < 0 ||
      header->logical_size < 0) {
    throw RzvException::Format(kCorruptChainError,
                               "Internal file header is damaged. StartPageNo=%d", start_page_no_);
  }
  // The stored size comes from the file: the buffer grows with the pages
  // actually found, and a chain that loops back is refused.
  const int64_t n = header->stored_size;
  std::vector<uint8_t> stored;
  std::unordered_set<int32_t> visited{start_page_no_};
  int32_t offset = RzvInternalFileHeader::kSize;
  while (static_cast<int64_t>(stored.size()) < n) {
    int64_t chunk = std::min<int64_t>(n - static_cast<int64_t>(stored.size()), data_size - offset);
    stored.insert(stored.end(), page->Data() + offset, page->Data() + offset + chunk);
    offset = 0;
    if (static_cast<int64_t>(stored.size()) == n) break;
    int32_t next = page->Header().NextPageNo();
    if (next < 0 || !visited.insert(next).second) {
      ThrowShortChain(header->logical_size, static_cast<int64_t>(stored.size()), n);
    }
    page.Reset(GetChainPage(session_id, next));
  }
  return stored;
}

std::vector<uint8_t> RzvInternalDBTransactedAccessFile::Decode(
    const std::vector<uint8_t>& stored, const RzvInternalFileHeader& header) {
  if (header.compression == kRzvCompressionNone) {
    if (header.logical_size != header.stored_size) {
      throw RzvException(20189, "Table file decompression error. Probably table is corrupted");
    }
    return stored;
  }
  std::vector<uint8_t> content;
  size_t out_size = static_cast<size_t>(header.logical_size);
  if (!DecompressBuffer(header.compression, stored.data(), stored.size(), &out_size, &content) ||
      out_size != static_cast<size_t>(header.logical_size)) {
    throw RzvException(20189, "Table file decompression error. Probably table is corrupted");
  }
  return content;
}

std::vector<uint8_t> RzvInternalDBTransactedAccessFile::ReadFile(int32_t session_id) {
  CheckOpen("ReadFile");
  RzvInternalFileHeader header;
  std::vector<uint8_t> stored = ReadStored(session_id, &header);
  return Decode(stored, header);
}

void RzvInternalDBTransactedAccessFile::ReadFile(int32_t session_id, void* buffer, int32_t count) {
  CheckOpen("ReadFile");
  int32_t size = FileSize(session_id);
  if (count < 0 || count > size) {
    throw RzvException::Format(30387, "Cannot Read internal file. FileSize=%d. ReadSize=%d", size,
                               count);
  }
  std::vector<uint8_t> content = ReadFile(session_id);
  if (count > 0) std::memcpy(buffer, content.data(), static_cast<size_t>(count));
}

int32_t RzvInternalDBTransactedAccessFile::FileSize(int32_t session_id) {
  CheckOpen("FileSize");
  RzvPagePin page(page_manager_, GetChainPage(session_id, start_page_no_));
  return RzvInternalFileHeader::Load(page->Data()).logical_size;
}

void RzvInternalDBTransactedAccessFile::WriteFile(int32_t session_id, const void* data,
                                                  int32_t size, uint8_t comp_alg,
                                                  uint8_t comp_mode) {
  CheckOpen("WriteFile");
  if (size < 0) {
    throw RzvException(20187, "Table file compression error");
  }
  const auto* src = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> compressed;
  RzvInternalFileHeader header;
  header.logical_size = size;
  header.stored_size = size;
  // Nothing to compress in an empty file: it is stored plain, as compressing
  // zero bytes is refused by every coder.
  if (comp_alg != kRzvCompressionNone && size > 0) {
    if (!CompressBuffer(comp_alg, comp_mode, data, static_cast<size_t>(size), &compressed)) {
      throw RzvException(20187, "Table file compression error");
    }
    src = compressed.data();
    header.stored_size = static_cast<int32_t>(compressed.size());
    header.compression = comp_alg;
  }

  const int32_t data_size = page_manager_.PageSize() - kPageHeaderSize;
  const int32_t needed = RzvInternalFilePageCount(header.stored_size, data_size);
  RzvPagePin page(page_manager_, GetChainPage(session_id, start_page_no_));
  header.Store(page->Data());
  int32_t offset = RzvInternalFileHeader::kSize;
  int64_t written = 0;
  int32_t cut_chain = kInvalidPageNo;
  // Pages already filled by this write. A damaged chain that links back to
  // one of them ends there: it is neither written twice nor released.
  std::unordered_set<int32_t> kept{start_page_no_};
  for (int32_t i = 0; i < needed; ++i) {
    int64_t chunk = std::min<int64_t>(header.stored_size - written, data_size - offset);
    if (chunk > 0) std::memcpy(page->Data() + offset, src + written, static_cast<size_t>(chunk));
    written += chunk;
    page->SetDirty(true);
    if (i + 1 < needed) {
      int32_t next = page->Header().NextPageNo();
      if (next < 0 || kept.count(next) > 0) {
        RzvPage* added = page_manager_.AddPage(session_id, page_type_);
        page->Header().SetNextPageNo(added->PageNo());
        page.Reset(added);
      } else {
        page.Reset(GetChainPage(session_id, next));
      }
      kept.insert(page->PageNo());
    } else {
      // Old bytes past the end are cleared so that the page holds nothing stale.
      int64_t end = offset + chunk;
      std::memset(page->Data() + end, 0, static_cast<size_t>(data_size - end));
      cut_chain = page->Header().NextPageNo();
      page->Header().SetNextPageNo(kInvalidPageNo);
    }
    offset = 0;
  }
  page.Reset();

  // Pages cut off the end are unreachable now: release them with the
  // session's commit.
  std::unordered_set<int32_t> visited = std::move(kept);
  while (cut_chain >= 0 && visited.insert(cut_chain).second) {
    RzvPagePin cut(page_manager_, GetChainPage(session_id, cut_chain));
    int32_t next = cut->Header().NextPageNo();
    cut.Reset();
    page_manager_.DeletePage(session_id, cut_chain);
    cut_chain = next;
  }
}

void RzvInternalDBTransactedAccessFile::WriteFile(int32_t session_id,
                                                  const std::vector<uint8_t>& data,
                                                  uint8_t comp_alg, uint8_t comp_mode) {
  int32_t size =
      data.size() > static_cast<size_t>(INT32_MAX) ? -1 : static_cast<int32_t>(data.size());
  WriteFile(session_id, data.data(), size, comp_alg, comp_mode);
}

void RzvInternalDBTransactedAccessFile::DeleteFile(int32_t session_id) {
  CheckOpen("DeleteFile");
  std::unordered_set<int32_t> visited;
  int32_t page_no = start_page_no_;
  while (page_no >= 0 && visited.insert(page_no).second) {
    RzvPagePin page(page_manager_, GetChainPage(session_id, page_no));
    int32_t next = page->Header().NextPageNo();
    page.Reset();
    page_manager_.DeletePage(session_id, page_no);
    page_no = next;
  }
  Close();
}

}  // namespace rzv
