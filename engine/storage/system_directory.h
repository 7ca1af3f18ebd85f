// RzvSystemDirectory: the database's directory of system files, a transacted
// internal file of 5-byte entries (uint8 kind, int32 StartPageNo) that always
// starts at page 2. Kind 1 is the table list, kind 2 the sessions file.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/internal_db_transacted_access_file.h"

namespace rzv {

class RzvSystemDirectory {
 public:
  static constexpr int32_t kSystemDirectoryPageNo = 2;
  static constexpr uint8_t kTableListKind = 1;
  static constexpr uint8_t kSessionsFileKind = 2;
  static constexpr int32_t kEntrySize = 5;

  struct Entry {
    uint8_t kind;
    int32_t start_page_no;
  };

  explicit RzvSystemDirectory(RzvPageManager& page_manager);

  // Creates the empty directory in the session's changes; its first page
  // must be page 2 (30392 otherwise).
  void Create(int32_t session_id);
  // Opens the directory at page 2 and reads it.
  void Open(int32_t session_id);
  void Read(int32_t session_id);
  void Write(int32_t session_id);
  // Forgets the file and its entries; Create or Open may follow.
  void Close();

  // StartPageNo of the first entry of that kind; -1 when there is none.
  int32_t StartPageNo(uint8_t kind) const;
  // Sets the entry of that kind, adding it when there is none (in memory
  // until Write).
  void SetStartPageNo(uint8_t kind, int32_t start_page_no);
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  RzvInternalDBTransactedAccessFile file_;
  std::vector<Entry> entries_;
};

}  // namespace rzv
