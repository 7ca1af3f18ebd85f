#include "engine/storage/database_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/storage/exception.h"

namespace rzv {

namespace {

constexpr int kReconnectAttempts = 3;
constexpr auto kReconnectPause = std::chrono::seconds(1);

std::string ErrorText(int err) {
  return std::strerror(err);
}

// One fcntl OFD lock call on [position, position + count); returns errno or 0.
int OfdLock(int fd, int cmd, short type, int64_t position, int64_t count, struct flock* out) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(position);
  fl.l_len = static_cast<off_t>(count);
  fl.l_pid = 0;  // must be 0 for OFD locks
  if (fcntl(fd, cmd, &fl) != 0) return errno;
  if (out) *out = fl;
  return 0;
}

bool IsContention(int err) {
  return err == EAGAIN || err == EACCES;
}

}  // namespace

RzvDatabaseFile::~RzvDatabaseFile() {
  if (fd_ >= 0) ::close(fd_);
}

void RzvDatabaseFile::CheckOpen(const char* operation) const {
  if (fd_ < 0)
    throw RzvException::Format(30376, "Cannot perform this operation (%s) on a closed file",
                               operation);
}

void RzvDatabaseFile::CheckClosed(const char* operation) const {
  if (fd_ >= 0)
    throw RzvException::Format(30377, "Cannot perform this operation (%s) on a opened file",
                               operation);
}

int RzvDatabaseFile::OpenDescriptor(int flags) {
  int fd = ::open(name_.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  const bool writable = (flags & O_ACCMODE) == O_RDWR;
  // Without a writable descriptor only shared locks are possible, so such a
  // handle cannot deny anything to others.
  const short deny = writable ? F_WRLCK : F_RDLCK;
  int err = OfdLock(fd, F_OFD_SETLK, share_ == kRzvShareExclusive ? deny : F_RDLCK, kShareReadByte,
                    1, nullptr);
  if (err == 0) {
    if (share_ != kRzvShareReadWrite) {
      err = OfdLock(fd, F_OFD_SETLK, deny, kShareWriteByte, 1, nullptr);
    } else if (access_ == kRzvAccessReadWrite) {
      err = OfdLock(fd, F_OFD_SETLK, F_RDLCK, kShareWriteByte, 1, nullptr);
    }
  }
  if (err != 0) {
    ::close(fd);
    return IsContention(err) ? EBUSY : err;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  fd_writable_ = writable;
  return 0;
}

void RzvDatabaseFile::CreateFile(const std::string& name) {
  CheckClosed("CreateFile");
  if (name.empty()) throw RzvException(30374, "Cannot create file with blank FileName");
  // Unlinking a file that another handle is using would leave that handle on
  // an orphaned inode; refuse as a sharing violation instead.
  int probe = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (probe >= 0) {
    struct flock fl {};
    int err = OfdLock(probe, F_OFD_GETLK, F_WRLCK, kShareReadByte, 1, &fl);
    ::close(probe);
    if (err == 0 && fl.l_type != F_UNLCK)
      throw RzvException::Format(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                                 name, EBUSY, ErrorText(EBUSY));
  }
  if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
    int err = errno;
    throw RzvException::Format(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                               name, err, ErrorText(err));
  }
  name_ = name;
  access_ = kRzvAccessReadWrite;
  share_ = kRzvShareExclusive;
  int err = OpenDescriptor(O_RDWR | O_CREAT | O_EXCL);
  if (err != 0)
    throw RzvException::Format(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                               name, err, ErrorText(err));
  position_ = 0;
  held_.clear();
  lost_.clear();
}

void RzvDatabaseFile::OpenFile(const std::string& name, int32_t access, int32_t share) {
  CheckClosed("OpenFile");
  if (access != kRzvAccessRead && access != kRzvAccessReadWrite)
    throw RzvException::Format(30366, "Unknown Access mode: '%d'", access);
  if (share != kRzvShareExclusive && share != kRzvShareReadWrite && share != kRzvShareRead)
    throw RzvException::Format(30367, "Unknown Share mode: '%d'", share);
  name_ = name;
  access_ = access;
  share_ = share;
  int err = OpenDescriptor(O_RDWR);
  if (err != 0 && access == kRzvAccessRead && (err == EACCES || err == EROFS || err == EPERM))
    err = OpenDescriptor(O_RDONLY);
  if (err != 0)
    throw RzvException::Format(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                               name, err, ErrorText(err));
  position_ = 0;
  held_.clear();
  lost_.clear();
}

void RzvDatabaseFile::CloseFile() {
  CheckOpen("CloseFile");
  int fd = fd_;
  fd_ = -1;
  held_.clear();
  lost_.clear();
  if (::close(fd) != 0) {
    int err = errno;
    throw RzvException::Format(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                               name_, err, ErrorText(err));
  }
}

bool RzvDatabaseFile::Reconnect() {
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) return true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  // The kernel dropped these locks with the descriptor.
  lost_.insert(held_.begin(), held_.end());
  held_.clear();
  const int flags = fd_writable_ ? O_RDWR : O_RDONLY;
  for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kReconnectPause);
    if (OpenDescriptor(flags) == 0) return true;
  }
  return false;
}

void RzvDatabaseFile::DropHandleForTest() {
  if (fd_ >= 0) ::close(fd_);
  // Keep fd_ pointing at the closed number so the next call fails with EBADF.
}

int64_t RzvDatabaseFile::SizeOrMinusOne() {
  struct stat st {};
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) return st.st_size;
  return -1;
}

bool RzvDatabaseFile::Seek(int64_t position) {
  CheckOpen("Seek");
  int64_t size = GetSize();
  if (position < 0 || position > size) return false;
  position_ = position;
  return true;
}

void RzvDatabaseFile::SetPosition(int64_t position, int32_t error_code) {
  CheckOpen("SetPosition");
  if (!Seek(position)) {
    throw RzvException::Format(
        error_code != 0 ? error_code : 30372,
        "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d", position,
        name_, position_, SizeOrMinusOne());
  }
}

int64_t RzvDatabaseFile::GetPosition() {
  CheckOpen("GetPosition");
  return position_;
}

int64_t RzvDatabaseFile::GetSize() {
  CheckOpen("GetSize");
  struct stat st {};
  if (::fstat(fd_, &st) == 0) return st.st_size;
  if (Reconnect() && ::fstat(fd_, &st) == 0) return st.st_size;
  int err = errno;
  throw RzvException::Format(30371,
                             "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                             name_, err, ErrorText(err));
}

void RzvDatabaseFile::SetSize(int64_t size) {
  CheckOpen("SetSize");
  int err = EBADF;
  if (access_ == kRzvAccessReadWrite && size >= 0) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return;
    if (Reconnect() && ::ftruncate(fd_, static_cast<off_t>(size)) == 0) return;
    err = errno;
  } else if (size < 0) {
    err = EINVAL;
  }
  throw RzvException::Format(
      30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s", name_, size,
      err, ErrorText(err));
}

bool RzvDatabaseFile::ReadBuffer(void* buffer, int64_t position, int64_t count,
                                 int32_t error_code) {
  CheckOpen("ReadBuffer");
  int err = EINVAL;
  if (position >= 0 && count >= 0) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0 && !Reconnect()) break;
      auto* p = static_cast<char*>(buffer);
      int64_t done = 0;
      err = 0;
      while (done < count) {
        ssize_t n = ::pread(fd_, p + done, static_cast<size_t>(count - done),
                            static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          err = errno;
          break;
        }
        if (n == 0) {
          err = ENODATA;  // the file ends before count bytes
          break;
        }
        done += n;
      }
      if (err == 0) return true;
      if (err == ENODATA) break;  // reconnecting does not lengthen the file
    }
  }
  if (error_code == 0) return false;
  throw RzvException::Format(
      error_code,
      "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
      name_, position, count, position_, SizeOrMinusOne(), err, ErrorText(err));
}

void RzvDatabaseFile::WriteBuffer(const void* buffer, int64_t position, int64_t count,
                                  int32_t error_code) {
  CheckOpen("WriteBuffer");
  int err = EBADF;  // a read-access handle refuses writes as the system would
  if (position < 0 || count < 0) {
    err = EINVAL;
  } else if (access_ == kRzvAccessReadWrite) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0 && !Reconnect()) break;
      const auto* p = static_cast<const char*>(buffer);
      int64_t done = 0;
      err = 0;
      while (done < count) {
        ssize_t n = ::pwrite(fd_, p + done, static_cast<size_t>(count - done),
                             static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          err = n < 0 ? errno : EIO;
          break;
        }
        done += n;
      }
      if (err == 0) return;
    }
  }
  throw RzvException::Format(
      error_code,
      "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. ErrorMessage: %s",
      name_, position, count, position_, SizeOrMinusOne(), err, ErrorText(err));
}

void RzvDatabaseFile::FlushFileBuffers() {
  CheckOpen("FlushFileBuffers");
  if (::fdatasync(fd_) == 0) return;
  if (Reconnect() && ::fdatasync(fd_) == 0) return;
  int err = errno;
  throw RzvException::Format(
      30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s", name_, err,
      ErrorText(err));
}

bool RzvDatabaseFile::HeldBySelf(int64_t position, int64_t count) const {
  for (const auto& [start, len] : held_) {
    if (start < position + count && position < start + len) return true;
  }
  return false;
}

bool RzvDatabaseFile::LockRange(int64_t count, int64_t position, short type) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && !Reconnect()) return false;
    int err = OfdLock(fd_, F_OFD_SETLK, type, position, count, nullptr);
    if (err == 0) return true;
    if (IsContention(err)) return false;
  }
  return false;
}

bool RzvDatabaseFile::LockByte(int64_t count, int64_t position) {
  CheckOpen("LockByte");
  if (count <= 0 || position < 0 || HeldBySelf(position, count)) return false;
  // A failed lock is always reported as failed, even when the handle was
  // lost: mutual exclusion must never rest on a lock nobody holds.
  if (!LockRange(count, position, fd_writable_ ? F_WRLCK : F_RDLCK)) return false;
  // Taken anew on this descriptor: no longer a lock the kernel dropped.
  lost_.erase({position, count});
  held_.emplace(position, count);
  return true;
}

bool RzvDatabaseFile::UnlockByte(int64_t count, int64_t position) {
  CheckOpen("UnlockByte");
  // A range held before a reconnect went with the old descriptor: it is free.
  if (lost_.erase({position, count}) > 0) return true;
  auto it = held_.find({position, count});
  if (it == held_.end()) return false;
  held_.erase(it);
  if (OfdLock(fd_, F_OFD_SETLK, F_UNLCK, position, count, nullptr) != 0) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      held_.emplace(position, count);
      return false;
    }
    // A lost descriptor took its locks with it, so the range is free either way.
    Reconnect();
  }
  return true;
}

bool RzvDatabaseFile::IsByteLocked(int64_t position) {
  return IsRegionLocked(1, position);
}

bool RzvDatabaseFile::IsRegionLocked(int64_t count, int64_t position) {
  CheckOpen("IsRegionLocked");
  if (count <= 0 || position < 0) return false;
  if (HeldBySelf(position, count)) return true;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && !Reconnect()) break;
    struct flock fl {};
    if (OfdLock(fd_, F_OFD_GETLK, F_WRLCK, position, count, &fl) == 0) return fl.l_type != F_UNLCK;
  }
  // The question could not be asked; report the region as taken rather than
  // let a caller believe it is free.
  return true;
}

}  // namespace rzv
