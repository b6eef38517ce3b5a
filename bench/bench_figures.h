// What every benchmark reads and computes the same way: sizes from the
// environment and the median of its interleaved rounds.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace vigilo {

// VIGILO_BENCH_* sizes: the variable's number, or the fallback when unset.
inline long EnvSize(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

// The middle value (the mean of the two middle ones for an even count); 0
// for none.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace vigilo
