// RzvTableList: the database's list of tables, a transacted internal file of
// 272-byte entries in creation order, read whole at open and rewritten whole
// after every change. Names compare case-insensitively (ASCII a-z only).
//
// Entry layout:
//   0   ShortString[255]  name: length byte, then up to 255 characters
//   256 int32             table id
//   260 int32             StartPageNo of the metadata file (page type 8)
//   264 int32             StartPageNo of the most-updated file (page type 9)
//   268 int32             StartPageNo of the lock file (page type 7)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/internal_db_transacted_access_file.h"

namespace rzv {

struct RzvTableListEntry {
  std::string name;
  int32_t table_id = -1;
  int32_t metadata_page_no = kInvalidPageNo;
  int32_t most_updated_page_no = kInvalidPageNo;
  int32_t lock_file_page_no = kInvalidPageNo;
};

class RzvTableList {
 public:
  static constexpr int32_t kEntrySize = 272;
  static constexpr size_t kMaxNameLength = 255;

  explicit RzvTableList(RzvPageManager& page_manager);

  // Creates an empty list in the session's changes and opens it; returns its
  // StartPageNo.
  int32_t Create(int32_t session_id);
  // Opens the list at start_page_no and reads it; 30393 when already open.
  void Open(int32_t session_id, int32_t start_page_no);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  int32_t StartPageNo() const { return file_.StartPageNo(); }
  // Reads the list again (another process may have changed it).
  void Reload(int32_t session_id);

  // nullptr when no table has that name.
  const RzvTableListEntry* Find(std::string_view name) const;
  // Fails with 30396 when no table has that name.
  const RzvTableListEntry& Get(std::string_view name) const;
  const std::vector<RzvTableListEntry>& Entries() const { return entries_; }

  // Each change is written at once in the session's changes; when writing
  // fails the list in memory is left as it was.
  void Add(int32_t session_id, const RzvTableListEntry& entry);                       // 30395
  void Rename(int32_t session_id, std::string_view name, std::string_view new_name);  // 30397
  void Remove(int32_t session_id, std::string_view name);                             // 30405

  static bool SameName(std::string_view a, std::string_view b);

 private:
  static void CheckNameLength(std::string_view name);
  std::vector<RzvTableListEntry>::const_iterator FindEntry(std::string_view name) const;
  void Write(int32_t session_id, std::vector<RzvTableListEntry> entries);

  RzvInternalDBTransactedAccessFile file_;
  std::vector<RzvTableListEntry> entries_;
};

}  // namespace rzv
