// RzvDatabaseSystemFiles: the system structures of a disk database that the
// storage layer owns (the system directory at page 2, the sessions file and
// the table list), created together with a new file and read back at open.
#pragma once

#include <cstdint>

#include "engine/storage/disk_page_manager.h"
#include "engine/storage/internal_db_direct_access_file.h"
#include "engine/storage/system_directory.h"
#include "engine/storage/table_list.h"

namespace rzv {

// Construct it once the page manager has its file open (the sessions file
// takes the page size then).
class RzvDatabaseSystemFiles {
 public:
  static constexpr int32_t kDefaultMaxConnections = 500;
  // Every table's lock file holds 12 bytes per connection.
  static constexpr int32_t kMaxMaxConnections = 100000;

  explicit RzvDatabaseSystemFiles(RzvDiskPageManager& page_manager);

  // Fails with 10479 unless 1 <= max_connections <= kMaxMaxConnections; for
  // checking before a file is created.
  static void CheckMaxConnections(int32_t max_connections);

  // On a freshly created file: the directory (which must come out as page 2),
  // a sessions file of max_connections bytes, an empty table list and the
  // directory entries of both, committed as the system session. A failure
  // cancels the session's changes.
  void Create(int32_t max_connections = kDefaultMaxConnections);
  // Reads the directory, opens the sessions file (its size is
  // MaxConnections) and reads the table list.
  void Open();
  // Closes all three files, so Create or Open may be tried again.
  void Close();

  int32_t MaxConnections() const { return sessions_file_.FileSize(); }
  RzvSystemDirectory& Directory() { return directory_; }
  RzvInternalDBDirectAccessFile& SessionsFile() { return sessions_file_; }
  RzvTableList& TableList() { return table_list_; }

 private:
  RzvDiskPageManager& page_manager_;
  RzvSystemDirectory directory_;
  RzvInternalDBDirectAccessFile sessions_file_;
  RzvTableList table_list_;
};

}  // namespace rzv
