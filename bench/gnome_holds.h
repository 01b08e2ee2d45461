#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace tollmere::bench {

// One interval's cycles on a headless GNOME, the keys going through the
// RemoteDesktop portal, read by a probe window with its own monotonic clock.
// The program's --trace times are on the same clock.
struct GnomeRun {
  int interval_ms = 0;
  std::vector<double> hold_errors;         // at the probe: key-up − key-down − 2 × interval
  std::vector<double> traced_hold_errors;  // the same from the program's own trace
  std::vector<double> press_delays;        // key-down at the probe − the program's key-down
  std::vector<double> release_delays;      // key-up at the probe − the program's key-up
};

// Why the GNOME part cannot run here, or empty.
std::string GnomeUnavailable();

// Starts one headless GNOME, the program on the portal back end, answers its
// dialog and focuses a probe; then runs `holds` cycles per interval, one
// interval after another, each cycle started by `tollmere --start` from a
// second process. Throws GnomeNotMeasured when the desktop cannot start, and
// anything else on a broken run.
std::vector<GnomeRun> RunGnomeHolds(const std::string& binary, std::size_t holds,
                                    const std::vector<int>& intervals);

struct GnomeNotMeasured : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace tollmere::bench
