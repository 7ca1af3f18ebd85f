#include "tools/rzv/sessions_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "engine/storage/active_sessions_file.h"
#include "engine/storage/internal_file_header.h"
#include "engine/storage/page_header.h"

namespace rzv::tool {

namespace {

// Length of the lock another handle holds on the byte at position, 0 when
// there is none. A single-user owner locks all slots of a page as one range,
// a multi-user connection its one slot byte; the kernel merges adjacent
// ranges of one handle, so a handle with several connections shows a longer
// range.
int64_t ForeignLockLength(const std::string& file_name, int64_t position) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(position);
  fl.l_len = 1;
  int64_t length = 0;
  if (::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) length = fl.l_len;
  ::close(fd);
  return length;
}

}  // namespace

void PrintSessionsInfo(std::FILE* out, RzvDiskPageManager& manager, int32_t sessions_start_page) {
  RzvActiveSessionsFile sessions(manager, manager.PageSize());
  const int32_t n = sessions.Open(sessions_start_page);
  const int32_t held = sessions.CountSlotsHeldElsewhere();
  std::fprintf(out, "slots held: %d of %d\n", held, n);
  const char* state = "no";
  if (held > 0) state = "in multi-user mode";
  if (held == n && n > 0) {
    const int64_t slot0 =
        manager.PageOffset(sessions_start_page) + kPageHeaderSize + RzvInternalFileHeader::kSize;
    // The slots of the first page: what a single-user claim locks there.
    const int64_t first_page_slots =
        std::min<int64_t>(n, manager.PageSize() - kPageHeaderSize - RzvInternalFileHeader::kSize);
    // Only a range over all of them reads as single-user. One handle with a
    // connection in every one of those slots looks the same, as does any
    // holder when there is one slot.
    if (ForeignLockLength(manager.File().FileName(), slot0) >= first_page_slots)
      state = "in single-user mode";
  }
  std::fprintf(out, "open elsewhere: %s\n", state);
}

}  // namespace rzv::tool
