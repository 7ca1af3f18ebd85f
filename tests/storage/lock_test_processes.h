// Helpers for tests that coordinate real processes through a database file:
// a child process that reports lines to the parent and waits for its go
// signals, every wait bounded; and a small database with table lock files,
// opened per process with short lock retries.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/active_sessions_file.h"
#include "engine/storage/database_system_files.h"
#include "engine/storage/database_table_lock_manager.h"
#include "engine/storage/disk_page_manager.h"
#include "engine/storage/exception.h"

namespace rzv::testing {

// fork()s at construction; the child runs body, sends its result as a last
// line and _exit()s without running any destructor of the parent's objects.
class ChildProcess {
 public:
  explicit ChildProcess(std::function<std::string(ChildProcess&)> body) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      out_ = up[1];
      in_ = down[0];
      std::string result;
      try {
        result = body(*this);
      } catch (const RzvException& e) {
        result = "error " + std::to_string(e.NativeError()) + ": " + e.Message();
      } catch (...) {
        result = "error unknown";
      }
      Tell(result);
      ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    in_ = up[0];
    out_ = down[1];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0) ::close(in_);
    if (out_ >= 0) ::close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // Child side.
  void Tell(const std::string& line) {
    std::string text = line + "\n";
    [[maybe_unused]] ssize_t n = ::write(out_, text.data(), text.size());
  }
  bool AwaitGo(int timeout_ms = 5000) {
    char c;
    return Readable(timeout_ms) && ::read(in_, &c, 1) == 1;
  }

  // Parent side. The next line from the child; "timeout" or "eof" when there
  // is none.
  std::string Line(int timeout_ms = 5000) {
    std::string line;
    char c;
    while (true) {
      if (!Readable(timeout_ms)) return "timeout";
      if (::read(in_, &c, 1) != 1) return "eof";
      if (c == '\n') return line;
      line += c;
    }
  }
  void Go() {
    char c = 'g';
    [[maybe_unused]] ssize_t n = ::write(out_, &c, 1);
  }
  void Kill() { ::kill(pid_, SIGKILL); }
  // The wait status; the child is killed when it has not ended in time.
  int Join(int timeout_ms = 10000) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reaped_ = true;
    return status;
  }

 private:
  bool Readable(int timeout_ms) {
    pollfd p{in_, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) == 1;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int in_ = -1;
  int out_ = -1;
};

// Where the structures of a test database are.
struct LockTestDatabase {
  std::string path;
  int32_t max_connections = 0;
  int32_t sessions_page = kInvalidPageNo;
  std::vector<int32_t> table_lock_pages;

  // A new database with max_connections slots and `tables` table lock files.
  static LockTestDatabase Create(const std::string& path, int32_t max_connections, int tables = 1) {
    LockTestDatabase db{path, max_connections, kInvalidPageNo, {}};
    RzvDiskPageManager pm(16);
    pm.CreateDatabaseFile(path, {});
    RzvDatabaseSystemFiles system_files(pm);
    system_files.Create(max_connections);
    db.sessions_page = system_files.SessionsFile().StartPageNo();
    for (int i = 0; i < tables; ++i) {
      RzvInternalDBDirectAccessFile lock_file(pm, pm.PageSize(), RzvPageType::kTableLocks);
      db.table_lock_pages.push_back(lock_file.Create(
          pm, kSystemSessionId,
          max_connections * RzvDatabaseTableLockManager::kLockFileBytesPerConnection));
    }
    pm.ApplyChanges(kSystemSessionId);
    pm.CloseDatabaseFile();
    return db;
  }
};

// One process's view of a test database: its own file handle, sessions file,
// lock manager and table lock files, all with short retries.
class LockTestConnection {
 public:
  static constexpr RzvLockRetry kShortRetry{5, std::chrono::milliseconds(1)};

  LockTestConnection(const LockTestDatabase& db, bool multi_user) {
    bool needs_repair = false;
    multi_user_ = multi_user;
    pm_.OpenDatabaseFile(db.path, {}, multi_user_, false, needs_repair, read_only_);
    sessions_ = std::make_unique<RzvActiveSessionsFile>(pm_, pm_.PageSize());
    sessions_->Open(db.sessions_page);
    sessions_->SetMutexRetry(kShortRetry);
    locks_ = std::make_unique<RzvDatabaseTableLockManager>(db.max_connections, false);
    locks_->SetMutexRetry(kShortRetry);
    locks_->SetCommitAttempts({std::chrono::milliseconds(2), 3});
    locks_->SetOpenTableAttempts({std::chrono::milliseconds(2), 3});
    for (int32_t page : db.table_lock_pages) {
      tables_.push_back(std::make_unique<RzvInternalDBDirectAccessFile>(pm_, pm_.PageSize(),
                                                                        RzvPageType::kTableLocks));
      tables_.back()->Open(page);
    }
  }

  RzvDiskPageManager& PageManager() { return pm_; }
  RzvActiveSessionsFile& Sessions() { return *sessions_; }
  RzvDatabaseTableLockManager& Locks() { return *locks_; }
  RzvInternalDBDirectAccessFile& Table(size_t i = 0) { return *tables_[i]; }
  bool ReadOnly() const { return read_only_; }

 private:
  RzvDiskPageManager pm_{16};
  bool multi_user_ = false;
  bool read_only_ = false;
  std::unique_ptr<RzvActiveSessionsFile> sessions_;
  std::unique_ptr<RzvDatabaseTableLockManager> locks_;
  std::vector<std::unique_ptr<RzvInternalDBDirectAccessFile>> tables_;
};

// Attempts for a lock that should be decided by the first try.
inline constexpr RzvLockAttempts kOneTry{std::chrono::milliseconds(1), 1};

}  // namespace rzv::testing
