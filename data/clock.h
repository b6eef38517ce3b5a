// The clock that date conversions read for "today" and "now".
//
// Conversions whose result depends on the current date or time (a user date
// without a year, a date-time without a time, the Date() token) read it here,
// so tests can fix the moment with a ScopedFixedNow. Production code never
// fixes it. Reading is safe from any thread.
#pragma once

#include <ctime>

namespace vigilo {

// The current time, or the fixed time while a ScopedFixedNow is alive.
std::time_t Now();

// Fixes Now() for its lifetime (tests only; not nested across threads).
class ScopedFixedNow {
 public:
  explicit ScopedFixedNow(std::time_t when);
  ~ScopedFixedNow();
  ScopedFixedNow(const ScopedFixedNow&) = delete;
  ScopedFixedNow& operator=(const ScopedFixedNow&) = delete;

 private:
  long long previous_;
};

}  // namespace vigilo
