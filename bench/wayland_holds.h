#pragma once

#include <string>

#include "holds.h"
#include "options.h"

namespace tollmere::bench {

// Why the Wayland part cannot run here, or empty.
std::string WaylandUnavailable();

// On headless sway, idle: Tollmere's cycles, then the floor's and wtype's
// holds, for each interval, each program's intervals one after another or
// side by side (each on a sway of its own). A probe window receives the keys
// and times them with its own monotonic clock (virtual keyboards carry no
// trustworthy time). Throws on a broken run.
Phase RunWaylandPhase(const Options& options, bool side_by_side);

}  // namespace tollmere::bench
