// RzvInternalDBTransactedAccessFile: an internal file whose pages go through
// a session of the page manager, so they are committed, cancelled and
// encrypted like any other page. The content is always read and written
// whole, optionally compressed as one block (ZLIB, BZIP or PPM).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/internal_file_header.h"
#include "engine/storage/page_header.h"
#include "engine/storage/page_manager.h"

namespace rzv {

class RzvInternalDBTransactedAccessFile {
 public:
  RzvInternalDBTransactedAccessFile(RzvPageManager& page_manager, RzvPageType page_type);

  // Adds the first page of a new, empty file in the session's changes and
  // opens the file on it; returns its StartPageNo.
  int32_t Create(int32_t session_id);
  // Opens an existing file; its pages are checked when they are read.
  void Open(int32_t start_page_no);
  void Close() { start_page_no_ = kInvalidPageNo; }
  bool IsOpen() const { return start_page_no_ != kInvalidPageNo; }
  int32_t StartPageNo() const { return start_page_no_; }

  // Replaces the whole content. With comp_alg 1..3 the content is stored
  // compressed with that algorithm and mode; empty content is always stored
  // plain. The chain grows or shrinks to fit; pages cut off the end are
  // deleted in the session.
  void WriteFile(int32_t session_id, const void* data, int32_t size, uint8_t comp_alg = 0,
                 uint8_t comp_mode = 0);
  // Content above 2 GB fails like a negative size (20187).
  void WriteFile(int32_t session_id, const std::vector<uint8_t>& data, uint8_t comp_alg = 0,
                 uint8_t comp_mode = 0);
  // The whole content, decompressed.
  std::vector<uint8_t> ReadFile(int32_t session_id);
  // The first count bytes of the content; count above the size fails.
  void ReadFile(int32_t session_id, void* buffer, int32_t count);
  // Content size before compression.
  int32_t FileSize(int32_t session_id);
  // Deletes every page of the chain in the session and closes the file.
  void DeleteFile(int32_t session_id);

 private:
  void CheckOpen(const char* operation) const;
  RzvPage* GetChainPage(int32_t session_id, int32_t page_no);
  // The stored bytes and the header of the first page.
  std::vector<uint8_t> ReadStored(int32_t session_id, RzvInternalFileHeader* header);
  std::vector<uint8_t> Decode(const std::vector<uint8_t>& stored,
                              const RzvInternalFileHeader& header);

  RzvPageManager& page_manager_;
  RzvPageType page_type_;
  int32_t start_page_no_ = kInvalidPageNo;
};

}  // namespace rzv
