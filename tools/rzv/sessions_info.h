// The sessions part of `rzv info`: how many connection slots of a database
// other processes hold, and so whether and how it is open elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/storage/disk_page_manager.h"

namespace rzv::tool {

// Prints "slots held: K of N" and an "open elsewhere:" line for the sessions
// file at sessions_start_page. Only asks whether bytes are locked; it never
// takes a lock, so whoever has the database open is not disturbed.
void PrintSessionsInfo(std::FILE* out, RzvDiskPageManager& manager, int32_t sessions_start_page);

}  // namespace rzv::tool
