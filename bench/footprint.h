#pragma once
// What Tollmere costs to start and to keep open: time to the first paint,
// peak memory and idle wake-ups, each beside a bare Qt window's where that
// makes sense.

#include <optional>
#include <vector>

#include "options.h"

namespace tollmere::bench {

struct Footprint {
  std::vector<double> first_paint_ms;
  std::vector<double> bare_first_paint_ms;  // a bare Qt window, for the floor
  std::optional<long> peak_rss_kb;
  std::optional<long> bare_peak_rss_kb;
  long wakeups_background = -1;
  long wakeups_focused = -1;        // the 10 s after a click in the interval box
  long wakeups_focused_later = -1;  // the 10 s after those
};

Footprint RunFootprint(const Options& options);

}  // namespace tollmere::bench
