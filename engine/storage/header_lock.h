// RzvHeaderLock: holds the (nestable) header lock of a free-space host for
// one scope. Leaving the scope by an exception swallows a failing unlock, so
// the error already on its way is the one reported.
#pragma once

#include <cstdint>
#include <exception>

#include "engine/storage/database_free_space_manager.h"

namespace rzv {

class RzvHeaderLock {
 public:
  RzvHeaderLock(RzvFreeSpaceHost& host, int32_t error_code) : host_(host) {
    host_.LockHeader(error_code);
  }
  ~RzvHeaderLock() noexcept(false) {
    if (std::uncaught_exceptions() > entry_exceptions_) {
      try {
        host_.UnlockHeader();
      } catch (...) {  // the failure already on its way matters more
      }
    } else {
      host_.UnlockHeader();
    }
  }
  RzvHeaderLock(const RzvHeaderLock&) = delete;
  RzvHeaderLock& operator=(const RzvHeaderLock&) = delete;

 private:
  RzvFreeSpaceHost& host_;
  int entry_exceptions_ = std::uncaught_exceptions();
};

}  // namespace rzv
