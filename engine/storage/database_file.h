// RzvDatabaseFile: one operating-system file handle with positioned reads and
// writes, size control and exclusive non-blocking byte-range locks, retrying a
// failed call once after reconnecting the handle.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace rzv {

// Access modes of OpenFile.
enum RzvFileAccess : int32_t { kRzvAccessRead = 0, kRzvAccessReadWrite = 1 };

// Share modes of OpenFile: what other handles on the same file may do.
enum RzvFileShare : int32_t {
  kRzvShareExclusive = 0,  // nobody else may open the file
  kRzvShareReadWrite = 1,  // others may read and write
  kRzvShareRead = 2,       // others may read only
};

// Byte-range locks are open-file-description locks (F_OFD_SETLK): they belong
// to this handle, conflict with every other handle even inside this process,
// and vanish when the handle is closed or the process dies. A handle whose
// descriptor could only be opened for reading holds shared (read) locks, which
// exclude writers' locks but not each other.
//
// Share modes do not exist on POSIX; they are emulated with locks on two bytes
// just below the largest file offset, which no file ever reaches:
//   kShareReadByte: every handle takes a shared lock on it;
//                   a handle denying reading to others takes it exclusively.
//   kShareWriteByte: every handle with write access takes a shared lock on it;
//                    a handle denying writing to others takes it exclusively.
// An open that conflicts with another handle's access or share mode therefore
// fails like a sharing violation. Two handles that both deny writing conflict
// even when neither writes (stricter than the original share modes).
//
// A handle opened with read access still opens its descriptor read-write when
// the system allows it, so that its locks are exclusive; the class itself
// refuses every write and size change on such a handle.
class RzvDatabaseFile {
 public:
  static constexpr int64_t kShareReadByte = INT64_MAX - 2;
  static constexpr int64_t kShareWriteByte = INT64_MAX - 1;

  RzvDatabaseFile() = default;
  ~RzvDatabaseFile();
  RzvDatabaseFile(const RzvDatabaseFile&) = delete;
  RzvDatabaseFile& operator=(const RzvDatabaseFile&) = delete;

  // Creates the file with read-write access and exclusive sharing; any file of
  // that name is deleted first.
  void CreateFile(const std::string& name);
  void OpenFile(const std::string& name, int32_t access, int32_t share);
  void CloseFile();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& FileName() const { return name_; }
  int32_t Access() const { return access_; }
  int32_t Share() const { return share_; }

  // The stored position is used only by Seek/SetPosition/GetPosition; the
  // buffer operations take their position explicitly.
  bool Seek(int64_t position);
  // error_code 0 raises 30372.
  void SetPosition(int64_t position, int32_t error_code = 0);
  int64_t GetPosition();

  void SetSize(int64_t size);
  int64_t GetSize();

  // Reads exactly count bytes at position. On failure (a short read included)
  // returns false, or raises error_code with the system's text when it is not 0.
  bool ReadBuffer(void* buffer, int64_t position, int64_t count, int32_t error_code = 0);
  // Writes exactly count bytes at position; failure raises error_code.
  void WriteBuffer(const void* buffer, int64_t position, int64_t count, int32_t error_code);
  void FlushFileBuffers();

  // Exclusive, non-blocking. False when another handle holds a byte of the
  // range (or the call fails).
  bool LockByte(int64_t count, int64_t position);
  // Releases a range locked by this handle with exactly these bounds; false
  // when this handle does not hold it.
  bool UnlockByte(int64_t count, int64_t position);
  // True when any handle, this one included, holds a lock on the byte. Other
  // handles' locks are only queried (F_OFD_GETLK), never disturbed.
  bool IsByteLocked(int64_t position);
  bool IsRegionLocked(int64_t count, int64_t position);

  // Test hook: closes the descriptor under the handle so that the next call
  // has to reconnect.
  void DropHandleForTest();

 private:
  void CheckOpen(const char* operation) const;
  void CheckClosed(const char* operation) const;
  // Opens the descriptor and takes the share-mode locks; returns errno on
  // failure (0 on success) with nothing left open.
  int OpenDescriptor(int flags);
  // Makes sure the handle answers; reopens the file when it does not.
  bool Reconnect();
  bool LockRange(int64_t count, int64_t position, short type);
  bool HeldBySelf(int64_t position, int64_t count) const;
  int64_t SizeOrMinusOne();

  int fd_ = -1;
  bool fd_writable_ = false;
  std::string name_;
  int32_t access_ = kRzvAccessRead;
  int32_t share_ = kRzvShareReadWrite;
  int64_t position_ = 0;
  // Ranges (position, count) this handle has locked; the kernel reports only
  // other handles' locks.
  std::set<std::pair<int64_t, int64_t>> held_;
  // Ranges held when the descriptor was lost and reopened; unlocking one of
  // them succeeds, since the kernel already released it.
  std::set<std::pair<int64_t, int64_t>> lost_;
};

}  // namespace rzv
