#include "data/clock.h"

#include <atomic>

namespace vigilo {

namespace {
// -1 means "not fixed": the real clock is read.
std::atomic<long long> fixed_now{-1};
}  // namespace

std::time_t Now() {
  long long fixed = fixed_now.load();
  return fixed >= 0 ? static_cast<std::time_t>(fixed) : std::time(nullptr);
}

ScopedFixedNow::ScopedFixedNow(std::time_t when)
    : previous_(fixed_now.exchange(static_cast<long long>(when))) {}

ScopedFixedNow::~ScopedFixedNow() { fixed_now.store(previous_); }

}  // namespace vigilo
