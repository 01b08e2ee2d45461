#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tollmere::bench {

// One interval's cycles on a headless sway, read by a probe window with its
// own monotonic clock (virtual keyboards carry no trustworthy time).
struct WaylandRun {
  int interval_ms = 0;
  std::vector<double> hold_errors;       // key-up − key-down − 2 × interval
  std::vector<double> countdown_errors;  // key-down − click − 4000
};

// Why the Wayland part cannot run here, or empty.
std::string WaylandUnavailable();

// Runs `holds` cycles per interval, the intervals side by side, each on its
// own sway: focus the program, press "Start" with the probe's keyboard, hand
// the focus back to the probe, read the hold. Throws on a broken run.
std::vector<WaylandRun> RunWaylandHolds(const std::string& binary, std::size_t holds,
                                        const std::vector<int>& intervals);

}  // namespace tollmere::bench
