#pragma once
// Hold cycles: Tollmere repeating its cycles by itself, each a countdown and
// then a hold of the space bar; the floor (a bare C loop sending the same
// key changes at absolute deadlines) and a scripted tool (xdotool on X11,
// wtype on sway) holding the space bar as long; idle or with every core busy,
// the intervals one after another or side by side.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "harness/child_process.h"
#include "machine.h"
#include "measure.h"
#include "options.h"

namespace tollmere::bench {

inline constexpr int kCountdownMs = 4000;
inline constexpr int kCountdownTicks = 4;
inline constexpr std::int64_t kNearMs = 3;  // key events of two runs this close may have met
inline constexpr int kFloorGapMs = 250;     // the floor's pause between holds

// One program's holds of one interval.
struct ProgramHolds {
  std::string program;  // "Tollmere", "floor", "xdotool", "wtype"
  int interval_ms = 0;
  std::vector<HoldSplit> holds;
  std::vector<double> countdowns;          // taken: key-down − click − 4000 (Tollmere)
  std::vector<double> traced_countdowns;   // the same on the program's own clock
  std::size_t out_of_order = 0;            // key changes left out
  std::optional<double> cpu_ms_per_cycle;  // Tollmere's own processor time
};

// One condition's measurements on one kind of server.
struct Phase {
  std::string server;  // "X11" or "sway"
  bool loaded = false;
  bool side_by_side = false;
  std::vector<ProgramHolds> runs;
  std::optional<std::int64_t> closest_ms;  // between two of Tollmere's runs' key changes
  std::size_t key_events = 0;              // of all Tollmere's runs
  std::size_t near_events = 0;             // within kNearMs of another run's
  std::optional<Summary> wake_late_ms;     // of a plain timed sleep, the scheduler's floor
  Busy busy;                               // the machine over the phase
};

// Tollmere's cycles for each interval, then the floor's and xdotool's holds,
// each program's intervals one after another or side by side (each on a
// server of its own), after waiting for a quiet machine; with `loaded`,
// every core spins meanwhile.
Phase RunPhase(const Options& options, bool loaded, bool side_by_side);

// Runs `run(i)` for each of `count` intervals, one after another or each on
// a thread of its own started a third of a second after the one before (so
// that runs whose events keep to a one-second grid never meet); rethrows the
// first failure once all have ended.
// A floor (`name`, in Options::floor_dir) running `options.holds` holds of
// the interval, with `env`; killed if dropped before it ends.
class FloorProcess {
 public:
  FloorProcess(const std::string& name, const Options& options, int interval_ms,
               std::vector<e2e::EnvChange> env);
  ~FloorProcess();
  FloorProcess(const FloorProcess&) = delete;
  FloorProcess& operator=(const FloorProcess&) = delete;

  // Waits for its end and returns its trace; throws if it failed.
  std::vector<e2e::TraceEvent> Finish();

 private:
  std::string name_;
  int out_;
  pid_t pid_;
  std::chrono::milliseconds budget_;
};

void ForEachInterval(std::size_t count, bool side_by_side,
                     const std::function<void(std::size_t)>& run);

}  // namespace tollmere::bench
