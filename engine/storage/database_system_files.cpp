#include "engine/storage/database_system_files.h"

#include "engine/storage/exception.h"

namespace rzv {

RzvDatabaseSystemFiles::RzvDatabaseSystemFiles(RzvDiskPageManager& page_manager)
    : page_manager_(page_manager),
      directory_(page_manager),
      sessions_file_(page_manager, page_manager.PageSize(), RzvPageType::kActiveSessionList),
      table_list_(page_manager) {}

void RzvDatabaseSystemFiles::CheckMaxConnections(int32_t max_connections) {
  if (max_connections < 1 || max_connections > kMaxMaxConnections)
    throw RzvException::Format(
        10479, "Invalid maximum number of connections = %d. It must be from 1 to %d",
        max_connections, kMaxMaxConnections);
}

void RzvDatabaseSystemFiles::Create(int32_t max_connections) {
  CheckMaxConnections(max_connections);
  const int32_t session = kSystemSessionId;
  try {
    directory_.Create(session);
    directory_.SetStartPageNo(RzvSystemDirectory::kSessionsFileKind,
                              sessions_file_.Create(page_manager_, session, max_connections));
    directory_.SetStartPageNo(RzvSystemDirectory::kTableListKind, table_list_.Create(session));
    directory_.Write(session);
    page_manager_.ApplyChanges(session);
  } catch (...) {
    Close();
    try {
      page_manager_.CancelChanges(session);
    } catch (...) {  // the first failure is the one to report
    }
    throw;
  }
}

void RzvDatabaseSystemFiles::Open() {
  const int32_t session = kSystemSessionId;
  try {
    directory_.Open(session);
    sessions_file_.Open(directory_.StartPageNo(RzvSystemDirectory::kSessionsFileKind));
    table_list_.Open(session, directory_.StartPageNo(RzvSystemDirectory::kTableListKind));
  } catch (...) {
    Close();
    throw;
  }
}

void RzvDatabaseSystemFiles::Close() {
  directory_.Close();
  sessions_file_.Close();
  table_list_.Close();
}

}  // namespace rzv
