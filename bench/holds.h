#pragma once
// Hold cycles on X11: Tollmere repeating its cycles by itself, each a
// countdown and then a hold of the space bar, and xdotool holding the space
// bar as long, for comparison; idle or with every core busy.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "measure.h"
#include "options.h"

namespace tollmere::bench {

inline constexpr int kCountdownMs = 4000;
inline constexpr int kCountdownTicks = 4;
inline constexpr std::int64_t kNearMs = 3;  // key events of two runs this close may have met

struct HoldRun {
  int interval_ms = 0;
  Cycles cycles;
};

// One condition's measurements.
struct Phase {
  bool loaded = false;
  std::vector<HoldRun> runs;
  std::map<int, std::vector<double>> anchor_errors;  // by hold length
  std::size_t anchor_out_of_order = 0;
  std::optional<std::int64_t> closest_ms;  // between two instances' key changes
  std::size_t key_events = 0;              // of all instances
  std::size_t near_events = 0;             // within kNearMs of another instance's
  std::optional<Summary> wake_late_ms;     // of a plain timed sleep, the scheduler's floor
  double busy_percent = 0;                 // of all cores over the phase
  double foreign_percent = 0;              // of that, by processes not ours
};

// Tollmere's cycles for each interval, then xdotool's holds, after waiting
// for a quiet machine; with `loaded`, every core spins meanwhile.
Phase RunPhase(const Options& options, bool loaded);

}  // namespace tollmere::bench
