#pragma once

#include <time.h>

namespace tollmere::e2e {

// CLOCK_MONOTONIC in milliseconds: the clock of the program's --trace lines,
// so the drivers' own readings line up with them.
inline double MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace tollmere::e2e
