// RzvLockRetry: how often and how long a lock that another process may hold
// is retried, and RzvRetryLock, the one loop that applies it.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace rzv {

struct RzvLockRetry {
  int32_t tries = 4500;
  std::chrono::milliseconds pause{20};
};

// Calls try_once (one non-blocking attempt) up to retry.tries times, sleeping
// retry.pause between attempts; true as soon as one succeeds.
template <typename TryOnce>
bool RzvRetryLock(const RzvLockRetry& retry, TryOnce try_once) {
  for (int32_t attempt = 0; attempt < retry.tries; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(retry.pause);
    if (try_once()) return true;
  }
  return false;
}

}  // namespace rzv
